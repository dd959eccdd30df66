#include "input/input_sdl.h"

namespace {

struct SdlMouseState {
  int32_t relative; // what SDL was last told: 1 relative mode on
};

SdlMouseState s_mouse;

int32_t HasFocus(SDL_Window* window) { return window != nullptr && SDL_GetKeyboardFocus() == window; }

} // namespace

int32_t SdlMouseRead(SDL_Window* window, int32_t* dx, int32_t* dy) {
  int x = 0, y = 0;
  // SDL sums every motion its event pump saw (the keyboard read pumped just
  // before); reading resets the sum, so motion made elsewhere is dropped.
  SDL_GetRelativeMouseState(&x, &y);
  if (!HasFocus(window)) {
    *dx = 0;
    *dy = 0;
    return 1;
  }
  *dx = x;
  *dy = y;
  return 0;
}

void SdlMouseCapture(SDL_Window* window, int32_t capture) {
  int32_t wanted = capture && HasFocus(window) ? 1 : 0;
  if (wanted == s_mouse.relative) return;
  // Relative mode hides the pointer and confines it to the window without
  // touching SDL_ShowCursor, so the presenter's own cursor state (hidden in
  // fullscreen) comes back as it was when the mode ends. A driver without
  // relative mode (SDL's dummy) refuses: then only the summed motion is read.
  SDL_SetRelativeMouseMode(wanted ? SDL_TRUE : SDL_FALSE);
  s_mouse.relative = wanted;
  // Whatever moved before the switch belongs to the pointer, not to the step.
  SDL_GetRelativeMouseState(nullptr, nullptr);
}
