// Windows input and platform devices: desktop composition, the DirectSound
// objects, the DirectInput object and one device object per attached device,
// and the keyboard and joystick configured on them.
#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif

#include <windows.h>
#include <mmsystem.h> // WAVEFORMATEX, left out by WIN32_LEAN_AND_MEAN
#include <dinput.h>
#include <dsound.h>

#include <cstdint>

#include "input/input.h"

constexpr uint32_t kDeviceClassCount = 3;
constexpr uint32_t kDevicesPerClass = 16;
constexpr uint32_t kClassGameController = 0;
constexpr uint32_t kClassPointer = 1;
constexpr uint32_t kClassKeyboard = 2;

struct DeviceState {
  HINSTANCE instance;
  HWND window;
  IDirectSound8* pDirectSoundObject;
  IDirectSoundCapture* pDirectSoundCaptureObject;
  IDirectInput8A* pDirectInputObject;
  IDirectInputDevice8A* devices[kDeviceClassCount][kDevicesPerClass];
  uint32_t deviceCounts[kDeviceClassCount];
  uint32_t currentClass;
  // Configured by the keyboard and joystick set-up.
  IDirectInputDevice8A* pDirectInputKeyboard;
  IDirectInputDevice8A* pDirectInputJoystick;
  // Made from GUID_SysMouse by the mouse set-up; not an entry of the table.
  IDirectInputDevice8A* pDirectInputMouse;
};

extern DeviceState g_devices;

// Desktop composition, sound objects, DirectInput object and enumeration.
void DevicesSetupWin32(HINSTANCE instance, HWND window);
// Every device object of every class and the mouse; counts back to 0.
void ReleaseAllDevices();
// ReleaseAllDevices, then the DirectInput and DirectSound objects.
void DevicesReleaseWin32();

// Composition step with the two dwmapi entry points (either may be null).
typedef HRESULT(WINAPI* DwmIsCompositionEnabledFn)(BOOL* enabled);
typedef HRESULT(WINAPI* DwmEnableCompositionFn)(UINT action);
void SwitchOffComposition(DwmIsCompositionEnabledFn isEnabled, DwmEnableCompositionFn enable);

// Enumeration callback: creates the device on g_devices.pDirectInputObject and
// stores it in the current class. Exposed for tests with a stand-in object.
BOOL CALLBACK EnumDevicesCallback(const DIDEVICEINSTANCEA* instance, void* context);
// Enumerates the three classes (game controllers, pointers, keyboards).
void EnumerateDevices();

// Keyboard and joystick (first device of their class).
int32_t KeyboardSetupWin32();
int32_t KeyboardReadWin32(uint8_t* state256);
int32_t JoystickSetupWin32();
int32_t JoystickReadWin32(JoystickState* state);

// The system mouse, when the enumeration found a pointer: 0 usable, 7 none
// (nothing logged) or a failed step. Reads give the counts since the last
// read; a failed read re-acquires, returns 1 and motion 0.
int32_t MouseSetupWin32();
int32_t MouseReadWin32(int32_t* dx, int32_t* dy);
// Unacquires and releases the mouse (also done by ReleaseAllDevices).
void MouseReleaseWin32();
