// A minimal EWMH window manager for end-to-end runs under Xvfb, which has
// none: maps windows and gives them the focus, honours configure requests,
// and carries out _NET_WM_STATE fullscreen requests by covering the screen
// (and restoring the old geometry when fullscreen ends).
//
//   x11_test_wm                run as the window manager until killed
//   x11_test_wm close <id>     ask window <id> to close (WM_DELETE_WINDOW),
//                              as a close box does
//   x11_test_wm leave <id>     take window <id> out of fullscreen, as a
//                              window manager's own shortcut would
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Managed {
  Window window;
  int fullscreen;
  int x, y;
  unsigned width, height;
};

constexpr int kMaxManaged = 64;
Managed g_managed[kMaxManaged];
bool g_otherManager = false;

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }
int DetectOtherManager(Display*, XErrorEvent*) {
  g_otherManager = true;
  return 0;
}

Managed* Find(Window w, bool create) {
  for (Managed& m : g_managed)
    if (m.window == w) return &m;
  if (!create) return nullptr;
  for (Managed& m : g_managed) {
    if (m.window == 0) {
      memset(&m, 0, sizeof(m));
      m.window = w;
      return &m;
    }
  }
  return nullptr;
}

int SendClose(const char* idText) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    fprintf(stderr, "x11_test_wm: cannot open the display\n");
    return 1;
  }
  Window w = Window(strtoul(idText, nullptr, 0));
  XEvent e;
  memset(&e, 0, sizeof(e));
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XSync(d, False);
  XCloseDisplay(d);
  return 0;
}

// Asks the running manager (through the root window, as pagers do) to end
// the fullscreen state of a window.
int SendLeaveFullscreen(const char* idText) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    fprintf(stderr, "x11_test_wm: cannot open the display\n");
    return 1;
  }
  XEvent e;
  memset(&e, 0, sizeof(e));
  e.xclient.type = ClientMessage;
  e.xclient.window = Window(strtoul(idText, nullptr, 0));
  e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = 0; // remove
  e.xclient.data.l[1] = long(XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False));
  e.xclient.data.l[3] = 2; // from a pager
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XSync(d, False);
  XCloseDisplay(d);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "close") == 0) return SendClose(argv[2]);
  if (argc == 3 && strcmp(argv[1], "leave") == 0) return SendLeaveFullscreen(argv[2]);
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    fprintf(stderr, "x11_test_wm: cannot open the display\n");
    return 1;
  }
  int screen = DefaultScreen(d);
  Window root = RootWindow(d, screen);
  XSetErrorHandler(DetectOtherManager);
  XSelectInput(d, root, SubstructureRedirectMask | SubstructureNotifyMask);
  XSync(d, False);
  if (g_otherManager) {
    fprintf(stderr, "x11_test_wm: another window manager runs\n");
    return 1;
  }
  XSetErrorHandler(IgnoreErrors);

  Atom netSupported = XInternAtom(d, "_NET_SUPPORTED", False);
  Atom netCheck = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom netState = XInternAtom(d, "_NET_WM_STATE", False);
  Atom netFullscreen = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
  Atom netActive = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);

  Window check = XCreateSimpleWindow(d, root, -10, -10, 1, 1, 0, 0, 0);
  XChangeProperty(d, root, netCheck, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&check), 1);
  XChangeProperty(d, check, netCheck, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&check), 1);
  const char name[] = "x11_test_wm";
  XChangeProperty(d, check, netName, utf8, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(name),
                  int(sizeof(name) - 1));
  Atom supported[] = {netState, netFullscreen, netActive};
  XChangeProperty(d, root, netSupported, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(supported),
                  3);
  XSync(d, False);
  printf("x11_test_wm: running\n");
  fflush(stdout);

  unsigned screenWidth = unsigned(DisplayWidth(d, screen));
  unsigned screenHeight = unsigned(DisplayHeight(d, screen));
  auto setFullscreen = [&](Managed* m, int on) {
    if (on == m->fullscreen) return;
    if (on) {
      Window rootReturn;
      unsigned border, depth;
      XGetGeometry(d, m->window, &rootReturn, &m->x, &m->y, &m->width, &m->height, &border, &depth);
      XMoveResizeWindow(d, m->window, 0, 0, screenWidth, screenHeight);
      XChangeProperty(d, m->window, netState, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&netFullscreen), 1);
    } else {
      XMoveResizeWindow(d, m->window, m->x, m->y, m->width, m->height);
      XChangeProperty(d, m->window, netState, XA_ATOM, 32, PropModeReplace, nullptr, 0);
    }
    m->fullscreen = on;
    XRaiseWindow(d, m->window);
  };

  for (;;) {
    XEvent e;
    XNextEvent(d, &e);
    switch (e.type) {
    case MapRequest: {
      Window w = e.xmaprequest.window;
      Managed* m = Find(w, true);
      XSelectInput(d, w, PropertyChangeMask | StructureNotifyMask);
      XMapWindow(d, w);
      XRaiseWindow(d, w);
      XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
      // A window asking for fullscreen before it is mapped.
      Atom type;
      int format;
      unsigned long count = 0, after;
      unsigned char* data = nullptr;
      if (m && XGetWindowProperty(d, w, netState, 0, 32, False, XA_ATOM, &type, &format, &count, &after, &data) ==
                   Success &&
          data) {
        Atom* atoms = reinterpret_cast<Atom*>(data);
        for (unsigned long i = 0; i < count; i++)
          if (atoms[i] == netFullscreen) setFullscreen(m, 1);
        XFree(data);
      }
      break;
    }
    case ConfigureRequest: {
      Managed* m = Find(e.xconfigurerequest.window, false);
      if (m && m->fullscreen) break; // a fullscreen window keeps the screen
      XWindowChanges changes;
      changes.x = e.xconfigurerequest.x;
      changes.y = e.xconfigurerequest.y;
      changes.width = e.xconfigurerequest.width;
      changes.height = e.xconfigurerequest.height;
      changes.border_width = e.xconfigurerequest.border_width;
      changes.sibling = e.xconfigurerequest.above;
      changes.stack_mode = e.xconfigurerequest.detail;
      XConfigureWindow(d, e.xconfigurerequest.window, unsigned(e.xconfigurerequest.value_mask), &changes);
      break;
    }
    case ClientMessage: {
      Managed* m = Find(e.xclient.window, true);
      if (!m) break;
      if (e.xclient.message_type == netState) {
        long action = e.xclient.data.l[0];
        if (Atom(e.xclient.data.l[1]) == netFullscreen || Atom(e.xclient.data.l[2]) == netFullscreen) {
          int on = action == 1 ? 1 : action == 0 ? 0 : !m->fullscreen;
          setFullscreen(m, on);
        }
      } else if (e.xclient.message_type == netActive) {
        XRaiseWindow(d, m->window);
        XSetInputFocus(d, m->window, RevertToPointerRoot, CurrentTime);
      }
      break;
    }
    case DestroyNotify: {
      Managed* m = Find(e.xdestroywindow.window, false);
      if (m) m->window = 0;
      break;
    }
    default:
      break;
    }
    XFlush(d);
  }
}
