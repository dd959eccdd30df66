// DirectInput joystick: configuration of the first game controller and its
// reads. The state record has DIJOYSTATE2's layout.
#include <cstring>

#include "input/devices_win32.h"
#include "runtime/runtime.h"

static_assert(sizeof(DIJOYSTATE2) == sizeof(JoystickState), "joystick state layout");

namespace {

constexpr LONG kAxisRange = 1000;

int32_t StepResult(HRESULT hr) {
  if (FAILED(hr)) {
    LogPrintf("failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
    return kDeviceAbsent;
  }
  LogPrintf("OK.\n");
  return 0;
}

HRESULT SetDeviceDword(IDirectInputDevice8A* device, REFGUID property, DWORD value) {
  DIPROPDWORD p;
  memset(&p, 0, sizeof(p));
  p.diph.dwSize = sizeof(DIPROPDWORD);
  p.diph.dwHeaderSize = sizeof(DIPROPHEADER);
  p.diph.dwObj = 0;
  p.diph.dwHow = DIPH_DEVICE;
  p.dwData = value;
  return device->SetProperty(property, &p.diph);
}

BOOL CALLBACK SetAxisRange(const DIDEVICEOBJECTINSTANCEA* object, void* context) {
  auto* device = static_cast<IDirectInputDevice8A*>(context);
  DIPROPRANGE range;
  memset(&range, 0, sizeof(range));
  range.diph.dwSize = sizeof(DIPROPRANGE);
  range.diph.dwHeaderSize = sizeof(DIPROPHEADER);
  range.diph.dwHow = DIPH_BYID;
  range.diph.dwObj = object->dwType;
  range.lMin = -kAxisRange;
  range.lMax = kAxisRange;
  return FAILED(device->SetProperty(DIPROP_RANGE, &range.diph)) ? DIENUM_STOP : DIENUM_CONTINUE;
}

} // namespace

int32_t JoystickSetupWin32() {
  IDirectInputDevice8A* joystick = g_devices.deviceCounts[kClassGameController]
                                       ? g_devices.devices[kClassGameController][0]
                                       : nullptr;
  g_devices.pDirectInputJoystick = nullptr;
  if (!joystick) return kDeviceAbsent;

  LogPrintf("m.pDirectInputJoystick->SetDataFormat ... ");
  if (StepResult(joystick->SetDataFormat(&c_dfDIJoystick2))) return kDeviceAbsent;
  LogPrintf("m.pDirectInputJoystick->SetCooperativeLevel ... ");
  if (StepResult(joystick->SetCooperativeLevel(g_devices.window, DISCL_EXCLUSIVE | DISCL_FOREGROUND)))
    return kDeviceAbsent;
  LogPrintf("m.pDirectInputJoystick->EnumObjects\n");
  joystick->EnumObjects(SetAxisRange, joystick, DIDFT_AXIS);
  LogPrintf("m.pDirectInputJoystick->SetProperty ... ");
  if (StepResult(SetDeviceDword(joystick, DIPROP_AXISMODE, DIPROPAXISMODE_ABS))) return kDeviceAbsent;
  LogPrintf("m.pDirectInputJoystick->SetProperty ... ");
  if (StepResult(SetDeviceDword(joystick, DIPROP_BUFFERSIZE, 100))) return kDeviceAbsent;
  LogPrintf("m.pDirectInputJoystick->Acquire ... ");
  StepResult(joystick->Acquire()); // re-acquired on every failing poll
  g_devices.pDirectInputJoystick = joystick;
  return 0;
}

int32_t JoystickReadWin32(JoystickState* state) {
  IDirectInputDevice8A* joystick = g_devices.pDirectInputJoystick;
  if (!joystick) return 1;
  joystick->Poll();
  if (FAILED(joystick->GetDeviceState(sizeof(DIJOYSTATE2), state))) {
    joystick->Acquire();
    return 1;
  }
  return 0;
}
