// Desktop composition, sound objects, the DirectInput object and the device
// table.
#include "input/devices_win32.h"

#include <cstring>

#include "runtime/runtime.h"

DeviceState g_devices;

namespace {

constexpr DWORD kEnumClasses[kDeviceClassCount] = {DI8DEVCLASS_GAMECTRL, DI8DEVCLASS_POINTER,
                                                   DI8DEVCLASS_KEYBOARD};

// dsound.dll exports these by ordinal only on some systems.
constexpr WORD kOrdinalDirectSoundCreate8 = 11;
constexpr WORD kOrdinalDirectSoundCaptureCreate8 = 12;

typedef HRESULT(WINAPI* DirectSoundCreate8Fn)(const GUID*, IDirectSound8**, IUnknown*);
typedef HRESULT(WINAPI* DirectSoundCaptureCreate8Fn)(const GUID*, IDirectSoundCapture**, IUnknown*);

void LogResult(HRESULT hr) {
  if (FAILED(hr))
    LogPrintf("failed. result=0x%08X [%s]\n", static_cast<uint32_t>(hr), "");
  else
    LogPrintf("OK.\n");
}

void LoadCompositionStep() {
  LogPrintf("Load dwmapi.dll ... ");
  HMODULE dwm = LoadLibraryA("dwmapi.dll");
  if (!dwm) {
    LogPrintf("failed.\n");
    return;
  }
  LogPrintf("OK.\n");
  LogPrintf("GetProcAddress ... ");
  auto isEnabled = reinterpret_cast<DwmIsCompositionEnabledFn>(
      reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
  auto enable = reinterpret_cast<DwmEnableCompositionFn>(
      reinterpret_cast<void*>(GetProcAddress(dwm, "DwmEnableComposition")));
  SwitchOffComposition(isEnabled, enable);
  FreeLibrary(dwm);
}

void CreateSoundObjects() {
  HMODULE dsound = LoadLibraryA("dsound.dll");
  auto create = dsound ? reinterpret_cast<DirectSoundCreate8Fn>(reinterpret_cast<void*>(
                             GetProcAddress(dsound, MAKEINTRESOURCEA(kOrdinalDirectSoundCreate8))))
                       : nullptr;
  auto createCapture =
      dsound ? reinterpret_cast<DirectSoundCaptureCreate8Fn>(reinterpret_cast<void*>(
                   GetProcAddress(dsound, MAKEINTRESOURCEA(kOrdinalDirectSoundCaptureCreate8))))
             : nullptr;
  // The library stays loaded for the objects' lifetime.
  LogPrintf("DirectSoundCreate8 ... ");
  HRESULT hr = create ? create(nullptr, &g_devices.pDirectSoundObject, nullptr)
                      : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  if (FAILED(hr)) g_devices.pDirectSoundObject = nullptr;
  LogResult(hr);
  LogPrintf("DirectSoundCaptureCreate8 ... ");
  hr = createCapture ? createCapture(nullptr, &g_devices.pDirectSoundCaptureObject, nullptr)
                     : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  if (FAILED(hr)) g_devices.pDirectSoundCaptureObject = nullptr;
  LogResult(hr);
}

} // namespace

void SwitchOffComposition(DwmIsCompositionEnabledFn isEnabled, DwmEnableCompositionFn enable) {
  if (!isEnabled || !enable) {
    LogPrintf("failed.\n");
    return;
  }
  LogPrintf("OK.\n");
  BOOL enabled = FALSE;
  if (FAILED(isEnabled(&enabled))) return;
  if (enabled) {
    LogPrintf("Disable Aero ... ");
    HRESULT hr = enable(0);
    if (FAILED(hr))
      LogPrintf("failed. result=0x%08X\n", static_cast<uint32_t>(hr));
    else
      LogPrintf("OK.\n");
  } else {
    LogPrintf("Aero is already disabled.\n");
  }
}

BOOL CALLBACK EnumDevicesCallback(const DIDEVICEINSTANCEA* instance, void* context) {
  uint32_t deviceClass = g_devices.currentClass;
  if (deviceClass >= kDeviceClassCount || g_devices.deviceCounts[deviceClass] >= kDevicesPerClass)
    return DIENUM_STOP;
  LogPrintf("pDirectInputObject->CreateDevice ... ");
  IDirectInputDevice8A* device = nullptr;
  HRESULT hr = g_devices.pDirectInputObject->CreateDevice(instance->guidInstance, &device, nullptr);
  if (FAILED(hr) || !device) {
    LogResult(FAILED(hr) ? hr : E_POINTER);
    return DIENUM_CONTINUE;
  }
  LogPrintf("OK.\n");
  uint32_t& count = g_devices.deviceCounts[deviceClass];
  g_devices.devices[deviceClass][count++] = device;
  return count >= kDevicesPerClass ? DIENUM_STOP : DIENUM_CONTINUE;
}

void ReleaseAllDevices() {
  for (uint32_t c = 0; c < kDeviceClassCount; c++) {
    for (uint32_t i = 0; i < g_devices.deviceCounts[c]; i++) {
      if (g_devices.devices[c][i]) {
        g_devices.devices[c][i]->Unacquire();
        g_devices.devices[c][i]->Release();
      }
      g_devices.devices[c][i] = nullptr;
    }
    g_devices.deviceCounts[c] = 0;
  }
  MouseReleaseWin32();
  // The configured keyboard and joystick were entries of the table.
  g_devices.pDirectInputKeyboard = nullptr;
  g_devices.pDirectInputJoystick = nullptr;
}

void EnumerateDevices() {
  ReleaseAllDevices();
  for (uint32_t c = 0; c < kDeviceClassCount; c++) {
    g_devices.currentClass = c;
    LogPrintf("pDirectInputObject->EnumDevices [DIDEVTYPE %d]\n", static_cast<int>(kEnumClasses[c]));
    g_devices.pDirectInputObject->EnumDevices(kEnumClasses[c], EnumDevicesCallback, nullptr,
                                              DIEDFL_ATTACHEDONLY);
  }
}

void DevicesSetupWin32(HINSTANCE instance, HWND window) {
  g_devices.instance = instance;
  g_devices.window = window;
  LoadCompositionStep();
  CreateSoundObjects();

  LogPrintf("DirectInput8Create ... ");
  void* object = nullptr;
  HRESULT hr = DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8A, &object, nullptr);
  g_devices.pDirectInputObject = SUCCEEDED(hr) ? static_cast<IDirectInput8A*>(object) : nullptr;
  LogResult(hr);

  memset(g_devices.deviceCounts, 0, sizeof(g_devices.deviceCounts));
  memset(g_devices.devices, 0, sizeof(g_devices.devices));
  if (!g_devices.pDirectInputObject) return;
  EnumerateDevices();
}

void DevicesReleaseWin32() {
  ReleaseAllDevices();
  if (g_devices.pDirectInputObject) {
    LogPrintf("s_pDirectInputObject->Release();\n");
    g_devices.pDirectInputObject->Release();
    g_devices.pDirectInputObject = nullptr;
  }
  if (g_devices.pDirectSoundObject) {
    LogPrintf("s_pDirectSoundObject->Release();\n");
    g_devices.pDirectSoundObject->Release();
    g_devices.pDirectSoundObject = nullptr;
  }
  // Not named in the log: released quietly so the process leaves nothing behind.
  if (g_devices.pDirectSoundCaptureObject) {
    g_devices.pDirectSoundCaptureObject->Release();
    g_devices.pDirectSoundCaptureObject = nullptr;
  }
}
