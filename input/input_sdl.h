// Keyboard, joystick and mouse through SDL2 (Linux). The keyboard comes out as the
// same 256-byte DirectInput scan-code state the test reads on Windows, the
// first joystick as the same DIJOYSTATE2-shaped record, so the mapping into
// the input word is shared.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "input/input.h"

// DirectInput scan code of an SDL scancode; 0 for keys without one.
uint8_t DirectInputScanFromSdl(SDL_Scancode scancode);

// Keyboard read: pumps SDL's events, then turns SDL's key state into the
// 256-byte state (0x80 = down). Returns 1 with every key up when window
// does not have the keyboard focus (DirectInput's foreground rule).
int32_t SdlKeyboardRead(SDL_Window* window, uint8_t* state256);

// SDL axis value (-32768..32767) to the -1000..1000 range, rounded, with
// -32768 -> -1000, 0 -> 0 and 32767 -> 1000.
int32_t DirectInputAxisFromSdl(int16_t value);
// SDL hat bits to hundredths of a degree clockwise from up; centred (and any
// impossible combination) gives 0xFFFFFFFF.
uint32_t DirectInputHatFromSdl(uint8_t hat);

// Joystick set-up: opens the first joystick SDL reports. 0 when one is open,
// 7 when there is none (nothing logged) or it cannot be opened (logged).
int32_t SdlJoystickSetup();
// 0 with state filled; 1 when no joystick is open or it was unplugged, which
// closes it: from then on every read returns 1.
int32_t SdlJoystickRead(JoystickState* state);
// Closes the joystick if one is open.
void SdlJoystickRelease();

// Mouse motion since the last read, in counts (x right, y down), from SDL's
// summed motion (relative motion while captured). 1 with zero motion when
// window does not have the keyboard focus.
int32_t SdlMouseRead(SDL_Window* window, int32_t* dx, int32_t* dy);
// Main thread, every frame: SDL's relative mode is on while capture is 1 and
// window has the focus, off otherwise (so a window in the background gives
// the pointer back). SDL is told only when that changes.
void SdlMouseCapture(SDL_Window* window, int32_t capture);
