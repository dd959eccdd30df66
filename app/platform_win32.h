// The Windows platform: the main window, the message queue and the table
// that connects DirectInput and the Direct3D 12 presenter to the application.
#pragma once

#include <windows.h>

#include "app/platform.h"

struct Win32App {
  HINSTANCE instance;
  HWND mainWindow; // set once the window is shown; null when creation failed
  int32_t bQuitSeen;
  // The pointer during a step: what the application asks for, whether the
  // window has the focus, and whether the pointer is hidden and clipped now.
  int32_t bMouseWanted;
  int32_t bActive;
  int32_t bMouseCaptured;
};

extern Win32App g_win32App;
extern const Platform g_win32Platform;

// Takes every queued message; WM_QUIT sets bQuitSeen. 1 once it is set.
int32_t PumpMessagesWin32();
// Delivers messages sent to the main thread's window from other threads.
void DispatchSentMessagesWin32();
// Platform::MouseCapture: while capture is 1 and the window has the focus,
// the pointer is hidden over the client area and clipped to it; otherwise
// it is given back. Changes only on a change of either.
void MouseCaptureWin32(int32_t capture);
// The window procedure of "MAIN WINDOW".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
