// The platform interface: everything AppInitialize, AppUpdate and AppFinalize
// need from the operating system besides the runtime, as one table of
// function pointers. Each platform provides one table and its entry routine
// installs it with AppSetPlatform before AppInitialize:
//   - Windows (*_win32.cpp): DirectInput keyboard and joystick, the
//     Direct3D 12 presenter, the Win32 message queue;
//   - Linux (*_sdl.cpp / *_posix.cpp): the SDL window, keyboard, game
//     controller and presenter;
//   - headless (app/platform_headless.cpp, every build): scripted input per
//     frame, a MemoryPresenter with optional 60 Hz pacing. The tool
//     `qvdelay_headless` runs a script through it and writes chosen frames as
//     PPM files (reference pictures for end-to-end tests); see app/headless.h.
//
// Each platform logs its own step lines ("m.pDirectInputKeyboard->Acquire ... "
// and so on) inside these functions; the shared code logs only its own.
//
// Order of use by a platform's entry routine:
//   AppSetPlatform(&table); table.DevicesSetup();
//   if (AppInitialize() == 0) result = AppRunFrameLoop(); else result = 1;
//   <destroy the window, drain its quit message>; table.DevicesRelease();
#pragma once

#include <cstdint>

#include "input/input.h"
#include "present/present.h"

struct Platform {
  // Entry routine, before AppInitialize: desktop composition, sound objects,
  // enumeration of the input devices. Failures are logged, never fatal.
  void (*DevicesSetup)(void);
  // Entry routine, after the window is gone: releases every device and the
  // device-enumeration objects.
  void (*DevicesRelease)(void);

  // AppInitialize step 5. Logs its steps; a failing step leaves its line
  // without "OK.\n" and returns 1. On success *presenter is the presenter
  // the render thread binds and presents (valid until PresenterShutdown)
  // and two black frames have been shown.
  int32_t (*PresenterInitialize)(Presenter** presenter);
  // AppFinalize, after the render thread has ended: finishes a still-mapped
  // frame, frees the frame slots, leaves fullscreen, waits for the GPU.
  void (*PresenterShutdown)(void);

  // AppInitialize step 6. 0 when a joystick is usable (it is then read every
  // frame); kDeviceAbsent when there is none (nothing logged) or configuration
  // failed.
  int32_t (*JoystickSetup)(void);
  // AppInitialize step 7. Configures the first keyboard, logging each step.
  // 0 when a keyboard device exists (even if a configuration step failed: its
  // reads then fail), kDeviceAbsent when there is none (the keyboard is never
  // read).
  int32_t (*KeyboardSetup)(void);

  // Poll and read the 256-byte state, indexed by DirectInput scan code
  // (non-zero = down). 0 on success. On failure (device lost, window in the
  // background) the device is re-acquired and 1 returned; the caller then
  // counts every key as up and must not use the buffer.
  int32_t (*KeyboardRead)(uint8_t* state256);
  // Poll and read the joystick. 0 on success with *state filled (axes
  // -1000..1000, centred hats 0xFFFFFFFF). On failure (unplugged, lost) the
  // device is re-acquired and 1 returned; the caller uses all inputs at 0.
  int32_t (*JoystickRead)(JoystickState* state);

  // Main thread, once per frame-loop pass after AppUpdate: drains the
  // window's message queue without waiting. Returns 1 once the quit message
  // has been seen (and from then on), else 0.
  int32_t (*PumpMessages)(void);

  // "windows", "linux" or "headless": the platform column of the results
  // record.
  const char* name;

  // Main thread, while it waits for the render thread to finish a frame
  // (null: nothing to do): answers messages sent to the window, which the
  // presenter's window-state follow-up may send from the render thread.
  void (*FramePump)(void);

  // The mouse; null members (and tables that leave them out) mean no mouse.
  // AppInitialize, after KeyboardSetup: 0 when a mouse is usable (it is then
  // read every frame), kDeviceAbsent when there is none.
  int32_t (*MouseSetup)(void);
  // Motion since the last read, in the device's counts (x right, y down).
  // 0 on success. On failure (lost, window in the background) the device is
  // re-acquired, 1 returned and the motion is 0.
  int32_t (*MouseRead)(int32_t* dx, int32_t* dy);
  // Main thread, once per frame, and with 0 before AppFinalize releases
  // anything: 1 while a step runs. Then the pointer is not drawn over the
  // picture and its motion stays with the window; with 0 it is given back.
  // The platform also gives it back whenever the window loses the focus.
  void (*MouseCapture)(int32_t capture);
};

// The table used by AppInitialize, AppUpdate and AppFinalize. Must be set
// before AppInitialize; the table must outlive AppFinalize.
void AppSetPlatform(const Platform* platform);
const Platform* AppGetPlatform();
