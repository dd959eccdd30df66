// DirectInput mouse: the system mouse (every attached mouse merged), read as
// relative counts since the last read.
#include <cstring>

#include "input/devices_win32.h"
#include "runtime/runtime.h"

namespace {

int32_t StepFailed(HRESULT hr) {
  if (FAILED(hr)) {
    LogPrintf("failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
    return 1;
  }
  LogPrintf("OK.\n");
  return 0;
}

void DropMouse() {
  if (g_devices.pDirectInputMouse) g_devices.pDirectInputMouse->Release();
  g_devices.pDirectInputMouse = nullptr;
}

} // namespace

int32_t MouseSetupWin32() {
  DropMouse();
  // The enumeration says whether a mouse is attached; GUID_SysMouse then
  // stands for all of them, whatever order the pointer class lists them in.
  if (!g_devices.pDirectInputObject || g_devices.deviceCounts[kClassPointer] == 0) return kDeviceAbsent;

  LogPrintf("pDirectInputObject->CreateDevice (GUID_SysMouse) ... ");
  IDirectInputDevice8A* mouse = nullptr;
  HRESULT hr = g_devices.pDirectInputObject->CreateDevice(GUID_SysMouse, &mouse, nullptr);
  if (StepFailed((FAILED(hr) || mouse) ? hr : E_POINTER)) return kDeviceAbsent;
  g_devices.pDirectInputMouse = mouse;

  LogPrintf("m.pDirectInputMouse->SetDataFormat ... ");
  if (StepFailed(mouse->SetDataFormat(&c_dfDIMouse2))) {
    DropMouse();
    return kDeviceAbsent;
  }
  // Non-exclusive: the pointer stays the system's; the application hides it.
  LogPrintf("m.pDirectInputMouse->SetCooperativeLevel ... ");
  if (StepFailed(mouse->SetCooperativeLevel(g_devices.window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND))) {
    DropMouse();
    return kDeviceAbsent;
  }
  LogPrintf("m.pDirectInputMouse->Acquire ... ");
  StepFailed(mouse->Acquire()); // a window in the background is acquired on a later read
  return 0;
}

int32_t MouseReadWin32(int32_t* dx, int32_t* dy) {
  *dx = 0;
  *dy = 0;
  IDirectInputDevice8A* mouse = g_devices.pDirectInputMouse;
  if (!mouse) return 1;
  mouse->Poll();
  DIMOUSESTATE2 state;
  if (FAILED(mouse->GetDeviceState(sizeof(DIMOUSESTATE2), &state))) {
    mouse->Acquire();
    return 1;
  }
  *dx = static_cast<int32_t>(state.lX);
  *dy = static_cast<int32_t>(state.lY);
  return 0;
}

void MouseReleaseWin32() {
  if (g_devices.pDirectInputMouse) g_devices.pDirectInputMouse->Unacquire();
  DropMouse();
}
