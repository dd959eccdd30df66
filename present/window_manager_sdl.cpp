// Kept apart from the presenter: the X11 headers define macros (None, Bool,
// Status...) that collide with ordinary names.
#include <SDL.h>
#include <SDL_syswm.h>

#include "present/present_sdl.h"

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

int32_t SdlWindowManagerCanFullscreen(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info)) return 1; // not ours to judge
#if defined(SDL_VIDEO_DRIVER_X11)
  if (info.subsystem == SDL_SYSWM_X11) {
    // An EWMH window manager announces itself on the root window; without
    // one nobody carries out a fullscreen request and the window would keep
    // its size while the picture is drawn for the whole screen.
    Display* display = info.info.x11.display;
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == 0) return 0;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                    &format, &count, &after, &data);
    int32_t found = status == Success && data && count == 1;
    if (data) XFree(data);
    return found;
  }
#endif
  return 1;
}

int32_t SdlWindowIsFullscreen(SDL_Window* window) {
  int32_t sdlSays = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) ? 1 : 0;
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return sdlSays;
  // SDL does not follow a fullscreen state that the window manager ends on
  // its own (a shortcut of its own, say); the window's _NET_WM_STATE does.
  Display* display = info.info.x11.display;
  Atom state = XInternAtom(display, "_NET_WM_STATE", True);
  Atom fullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", True);
  if (state == 0 || fullscreen == 0) return sdlSays;
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, info.info.x11.window, state, 0, 64, False, XA_ATOM, &type, &format, &count, &after,
                         &data) != Success) {
    return sdlSays;
  }
  int32_t found = 0;
  if (data) {
    const Atom* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < count; i++) found |= atoms[i] == fullscreen;
    XFree(data);
  }
  return found;
#else
  return sdlSays;
#endif
}
