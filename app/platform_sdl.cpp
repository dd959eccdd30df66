#include "app/platform_sdl.h"
#include "input/input_sdl.h"
#include "present/present_sdl.h"
#include "runtime/runtime.h"

namespace {

struct SdlPlatformState {
  int32_t joystickStarted;
  int32_t quitSeen;
};

SdlPlatformState s_sdl;

void SdlDevicesSetup() {
  LogPrintf("SDL_InitSubSystem (SDL_INIT_JOYSTICK) ... ");
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
    LogPrintf("failed. result=0x%08X [%s]\n", 0xFFFFFFFFu, SDL_GetError());
    return;
  }
  LogPrintf("OK.\n");
  s_sdl.joystickStarted = 1;
  LogPrintf("SDL_NumJoysticks () = %d\n", SDL_NumJoysticks());
}

void SdlDevicesRelease() {
  if (!s_sdl.joystickStarted) return;
  SdlJoystickRelease();
  LogPrintf("SDL_QuitSubSystem (SDL_INIT_JOYSTICK);\n");
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  s_sdl.joystickStarted = 0;
}

int32_t SdlPlatformPresenterInitialize(Presenter** presenter) { return SdlPresenterInitialize(presenter); }

void SdlPlatformPresenterShutdown() { SdlPresenterShutdown(); }

int32_t SdlPlatformJoystickSetup() {
  if (!s_sdl.joystickStarted) return kDeviceAbsent;
  return SdlJoystickSetup();
}

// SDL configures nothing for the keyboard: it exists with the window.
int32_t SdlPlatformKeyboardSetup() { return SdlPresenterWindow() ? 0 : kDeviceAbsent; }

int32_t SdlPlatformKeyboardRead(uint8_t* state256) { return SdlKeyboardRead(SdlPresenterWindow(), state256); }

int32_t SdlPlatformJoystickRead(JoystickState* state) { return SdlJoystickRead(state); }

// SDL always has a pointer once the window exists; nothing to configure or log.
int32_t SdlPlatformMouseSetup() { return SdlPresenterWindow() ? 0 : kDeviceAbsent; }

int32_t SdlPlatformMouseRead(int32_t* dx, int32_t* dy) { return SdlMouseRead(SdlPresenterWindow(), dx, dy); }

void SdlPlatformMouseCapture(int32_t capture) { SdlMouseCapture(SdlPresenterWindow(), capture); }

int32_t SdlPumpMessages() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    switch (event.type) {
    case SDL_QUIT: // also SIGINT / SIGTERM
      s_sdl.quitSeen = 1;
      break;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) s_sdl.quitSeen = 1;
      break;
    case SDL_KEYDOWN:
      // Without a window manager nobody else turns Alt+F4 into a close.
      if (event.key.keysym.scancode == SDL_SCANCODE_F4 && (event.key.keysym.mod & KMOD_ALT)) s_sdl.quitSeen = 1;
      break;
    default:
      break;
    }
  }
  SdlPresenterPumpWindowState();
  return s_sdl.quitSeen;
}

const Platform kSdlPlatform = {
    SdlDevicesSetup,
    SdlDevicesRelease,
    SdlPlatformPresenterInitialize,
    SdlPlatformPresenterShutdown,
    SdlPlatformJoystickSetup,
    SdlPlatformKeyboardSetup,
    SdlPlatformKeyboardRead,
    SdlPlatformJoystickRead,
    SdlPumpMessages,
    "linux",
    nullptr,
    SdlPlatformMouseSetup,
    SdlPlatformMouseRead,
    SdlPlatformMouseCapture,
};

} // namespace

const Platform* SdlPlatform() { return &kSdlPlatform; }

void SdlDestroyWindow() {
  SdlPresenterDestroyWindow();
  // What the window left behind; nothing waits for it.
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
  }
}

int32_t SdlQuitSeen() { return s_sdl.quitSeen; }
