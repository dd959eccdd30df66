// The Linux platform: SDL2 window, keyboard, mouse, first joystick and presenter
// behind the Platform table of app/platform.h.
#pragma once

#include <cstdint>

#include "app/platform.h"

const Platform* SdlPlatform();
// Entry routine, after AppFinalize: destroys the window (when the presenter
// made one) and drains what is left in the event queue.
void SdlDestroyWindow();
// 1 once the close box, Alt+F4 or SDL's quit request has been seen.
int32_t SdlQuitSeen();
