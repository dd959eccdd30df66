// The Windows platform table, the message pump and the window procedure.
#include "app/platform_win32.h"

#include "input/devices_win32.h"
#include "present/d3d12_win32.h"

Win32App g_win32App;

namespace {

void DevicesSetup() { DevicesSetupWin32(g_win32App.instance, g_win32App.mainWindow); }

int32_t PresenterInitialize(Presenter** presenter) {
  return d3d12::PresenterInitializeWin32(presenter, g_win32App.mainWindow);
}

int32_t JoystickRead(JoystickState* state) { return JoystickReadWin32(state); }

// The cursor as WM_SETCURSOR sets it, now rather than at the next motion.
void RefreshCursor(HWND window) {
  SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

// Clipped to the client area, so the pointer cannot wander onto another
// window (or monitor) and take the focus with a click in the middle of a step.
void ClipToClient(HWND window) {
  RECT client;
  if (!GetClientRect(window, &client)) return;
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  ClipCursor(&client);
}

void ApplyMouseCapture() {
  Win32App& a = g_win32App;
  int32_t capture = a.bMouseWanted && a.bActive && a.mainWindow ? 1 : 0;
  if (capture == a.bMouseCaptured) return;
  a.bMouseCaptured = capture;
  if (capture) {
    ClipToClient(a.mainWindow);
  } else {
    ClipCursor(nullptr);
  }
  if (a.mainWindow) RefreshCursor(a.mainWindow);
}

// The window lost the focus: the pointer goes back at once; a step still
// running takes it again once the window is active.
void FocusLeft() {
  g_win32App.bActive = 0;
  ApplyMouseCapture();
}

} // namespace

void MouseCaptureWin32(int32_t capture) {
  g_win32App.bMouseWanted = capture ? 1 : 0;
  ApplyMouseCapture();
}

const Platform g_win32Platform = {
    DevicesSetup,       DevicesReleaseWin32, PresenterInitialize, d3d12::PresenterShutdownWin32,
    JoystickSetupWin32, KeyboardSetupWin32,  KeyboardReadWin32,   JoystickRead,
    PumpMessagesWin32,  "windows",           DispatchSentMessagesWin32, MouseSetupWin32,
    MouseReadWin32,     MouseCaptureWin32,
};

// Only messages sent from other threads are delivered (inside PeekMessage);
// posted ones stay queued for the frame loop's own pump.
void DispatchSentMessagesWin32() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

int32_t PumpMessagesWin32() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      g_win32App.bQuitSeen = 1;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return g_win32App.bQuitSeen ? 1 : 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  case WM_ACTIVATE:
    if (LOWORD(wParam) == WA_INACTIVE) {
      FocusLeft();
    } else {
      g_win32App.bActive = 1;
    }
    break;
  case WM_SETFOCUS:
    g_win32App.bActive = 1;
    break;
  case WM_KILLFOCUS:
    FocusLeft();
    break;
  case WM_MOVE:
    if (g_win32App.bMouseCaptured && window == g_win32App.mainWindow) ClipToClient(window);
    break;
  case WM_SIZE:
    // A switch between window and fullscreen during a step moves the clip with the client area.
    if (g_win32App.bMouseCaptured && window == g_win32App.mainWindow) ClipToClient(window);
    return 0; // the presenter owns the client area
  case WM_ERASEBKGND:
    return 0;
  case WM_KEYDOWN:
  case WM_KEYUP:
  case WM_SYSKEYDOWN:
  case WM_SYSKEYUP:
    return 0; // keys come through DirectInput; Alt and F10 never reach the menu
  case WM_SETCURSOR:
    // Absolute: hidden in fullscreen (as the presenter's follow-up last
    // decided, see SetPresenterCursorHidden) and while a step has the
    // pointer; else the arrow.
    if (LOWORD(lParam) == HTCLIENT) {
      // A refresh posted by the presenter applies only under the pointer.
      POINT at;
      if (window && GetCursorPos(&at) && WindowFromPoint(at) != window) return TRUE;
      int32_t hidden = d3d12::PresenterCursorHidden() || g_win32App.bMouseCaptured;
      SetCursor(hidden ? nullptr : LoadCursorA(nullptr, IDC_ARROW));
      return TRUE;
    }
    break;
  case WM_SYSCOMMAND:
    // Alt+Space (SC_KEYMENU) would open the system menu, whose modal loop
    // stops the frame loop until it closes.
    if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER || (wParam & 0xFFF0) == SC_KEYMENU)
      return 0;
    break;
  default:
    break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
