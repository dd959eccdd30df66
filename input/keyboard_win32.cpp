// DirectInput keyboard: configuration of the first keyboard and its reads.
#include <cstring>

#include "input/devices_win32.h"
#include "runtime/runtime.h"

namespace {

void LogStepResult(HRESULT hr) {
  if (FAILED(hr))
    LogPrintf("failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
  else
    LogPrintf("OK.\n");
}

} // namespace

int32_t KeyboardSetupWin32() {
  IDirectInputDevice8A* keyboard =
      g_devices.deviceCounts[kClassKeyboard] ? g_devices.devices[kClassKeyboard][0] : nullptr;
  g_devices.pDirectInputKeyboard = keyboard;
  if (!keyboard) return kDeviceAbsent;

  LogPrintf("m.pDirectInputKeyboard->SetDataFormat ... ");
  HRESULT hr = keyboard->SetDataFormat(&c_dfDIKeyboard);
  LogStepResult(hr);
  if (FAILED(hr)) return 0;

  LogPrintf("m.pDirectInputKeyboard->SetCooperativeLevel ... ");
  hr = keyboard->SetCooperativeLevel(g_devices.window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_NOWINKEY);
  LogStepResult(hr);
  if (FAILED(hr)) return 0;

  LogPrintf("m.pDirectInputKeyboard->SetProperty ... ");
  DIPROPDWORD buffer;
  memset(&buffer, 0, sizeof(buffer));
  buffer.diph.dwSize = sizeof(DIPROPDWORD);
  buffer.diph.dwHeaderSize = sizeof(DIPROPHEADER);
  buffer.diph.dwObj = 0;
  buffer.diph.dwHow = DIPH_DEVICE;
  buffer.dwData = 100;
  LogStepResult(keyboard->SetProperty(DIPROP_BUFFERSIZE, &buffer.diph));

  LogPrintf("m.pDirectInputKeyboard->Acquire ... ");
  LogStepResult(keyboard->Acquire());
  return 0;
}

int32_t KeyboardReadWin32(uint8_t* state256) {
  IDirectInputDevice8A* keyboard = g_devices.pDirectInputKeyboard;
  if (!keyboard) return 1;
  keyboard->Poll();
  if (FAILED(keyboard->GetDeviceState(kKeyboardStateBytes, state256))) {
    keyboard->Acquire();
    return 1;
  }
  return 0;
}
