#include <cstring>

#include "input/input_sdl.h"
#include "runtime/runtime.h"

namespace {

struct SdlJoystickModule {
  SDL_Joystick* pJoystick;
};

SdlJoystickModule m;

} // namespace

int32_t DirectInputAxisFromSdl(int16_t value) {
  // Linear over the whole device range, as DirectInput's range property maps it.
  int64_t shifted = int64_t(value) + 32768; // 0..65535
  return int32_t((shifted * 2000 + 32767) / 65535) - 1000;
}

uint32_t DirectInputHatFromSdl(uint8_t hat) {
  switch (hat) {
  case SDL_HAT_UP: return 0;
  case SDL_HAT_RIGHTUP: return 4500;
  case SDL_HAT_RIGHT: return 9000;
  case SDL_HAT_RIGHTDOWN: return 13500;
  case SDL_HAT_DOWN: return 18000;
  case SDL_HAT_LEFTDOWN: return 22500;
  case SDL_HAT_LEFT: return 27000;
  case SDL_HAT_LEFTUP: return 31500;
  default: return kHatCentred;
  }
}

int32_t SdlJoystickSetup() {
  m.pJoystick = nullptr;
  if (SDL_NumJoysticks() <= 0) return kDeviceAbsent;
  LogPrintf("SDL_JoystickOpen (0) ... ");
  SDL_Joystick* joystick = SDL_JoystickOpen(0);
  if (!joystick) {
    LogPrintf("failed. result=0x%08X [%s]\n", 0xFFFFFFFFu, SDL_GetError());
    return kDeviceAbsent;
  }
  LogPrintf("OK.\n");
  m.pJoystick = joystick;
  return 0;
}

int32_t SdlJoystickRead(JoystickState* state) {
  memset(state, 0, sizeof(*state));
  for (uint32_t& pov : state->rgdwPOV) pov = kHatCentred;
  if (!m.pJoystick) return 1;
  SDL_JoystickUpdate();
  if (!SDL_JoystickGetAttached(m.pJoystick)) {
    // Unplugged: a later device is a new one, so this one stays gone.
    SDL_JoystickClose(m.pJoystick);
    m.pJoystick = nullptr;
    return 1;
  }
  int32_t* axes[8] = {&state->lX,  &state->lY,  &state->lZ,           &state->lRx,
                      &state->lRy, &state->lRz, &state->rglSlider[0], &state->rglSlider[1]};
  int axisCount = SDL_JoystickNumAxes(m.pJoystick);
  for (int i = 0; i < axisCount && i < 8; i++) *axes[i] = DirectInputAxisFromSdl(SDL_JoystickGetAxis(m.pJoystick, i));
  int buttonCount = SDL_JoystickNumButtons(m.pJoystick);
  for (int i = 0; i < buttonCount && i < 128; i++) state->rgbButtons[i] = SDL_JoystickGetButton(m.pJoystick, i) ? 0x80 : 0;
  int hatCount = SDL_JoystickNumHats(m.pJoystick);
  for (int i = 0; i < hatCount && i < 4; i++) state->rgdwPOV[i] = DirectInputHatFromSdl(SDL_JoystickGetHat(m.pJoystick, i));
  return 0;
}

void SdlJoystickRelease() {
  if (!m.pJoystick) return;
  SDL_JoystickClose(m.pJoystick);
  m.pJoystick = nullptr;
}
