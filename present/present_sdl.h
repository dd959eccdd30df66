// The SDL2 presenter (Linux): a renderer with one streaming Unorm8BGRA
// texture. The locked texture memory plays the mapped upload buffer: the
// software renderer draws straight into it between two presents. Present =
// unlock, clear black, copy into the letterbox rectangle, present without
// vsync, then the frame limiter of present/pacing.h.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "present/present.h"

// Main thread, before the render thread exists. Logs every step; 1 when a
// step fails (its line stays without "OK."). The display connection is the
// graphics device here, so this also starts SDL's video subsystem and makes
// the window: empty title, 640x480 client, not resizable, screen saver off.
// Then fullscreen at the desktop size (60 Hz when the display offers it),
// else the window; two black frames presented. With a rate request
// (present/pacing.h) the mode is asked for at that rate and the presenter
// runs at what the display gives (RunningRate), logging it.
int32_t SdlPresenterInitialize(Presenter** presenter);
// Main thread, after the render thread has ended: finishes a locked frame,
// frees the slots, leaves fullscreen, destroys the texture and renderer.
// The window stays until SdlPresenterDestroyWindow.
void SdlPresenterShutdown();
// The window (null before start-up, after its destruction or when start-up
// failed before making it).
SDL_Window* SdlPresenterWindow();
// Main thread, once per message-pump pass: publishes the window's
// fullscreen state and pixel size to the render thread and carries out what
// the render thread asked for (window size, cursor). SDL's window calls stay
// on the main thread; only the renderer is used from the render thread.
void SdlPresenterPumpWindowState();
// Entry routine, after AppFinalize: destroys the window and ends the video
// subsystem.
void SdlPresenterDestroyWindow();

// 0 when the window system cannot make the window fullscreen (X11 without
// a window manager), else 1.
int32_t SdlWindowManagerCanFullscreen(SDL_Window* window);
// Whether the window is fullscreen now, as the window system sees it.
int32_t SdlWindowIsFullscreen(SDL_Window* window);

// The refresh rate of a width x height mode at refreshRate when the display
// lists such a mode (listed: count modes), else 0. SDL hands out the rate
// asked for when the display lists the mode without one (Xvfb, the dummy
// driver), so only a listed rate is the display's own.
int32_t SdlListedRefreshRate(const SDL_DisplayMode* listed, int32_t count, int width, int height, int refreshRate);

// Diagnostics: called on the render thread just before each present call.
typedef void (*SdlPresentHook)(void* user);
void SdlPresenterSetPresentHook(SdlPresentHook hook, void* user);
// Frames presented so far (render thread's count; read after Finish).
uint32_t SdlPresenterPresentedCount();
// Test hook: draw into the staging buffer and copy it into the locked
// texture at present, as happens when the locked rows cannot be wrapped.
void SdlPresenterForceStagingForTest(int32_t enabled);
