// The main window's procedure, answered without a window of its own (null
// handle: nothing else is looked at).
#include <gtest/gtest.h>

#include <cstring>

#include "app/platform_win32.h"
#include "present/d3d12_win32.h"

namespace {

// The cursor follows the presenter's decision whatever the thread's show
// count: hidden in fullscreen, the arrow in a window.
TEST(MainWindowProc, CursorIsAbsoluteAndTheCountIsUntouched) {
  int32_t countBefore = ShowCursor(TRUE) - 1;
  ShowCursor(FALSE);
  d3d12::SetPresenterCursorHidden(1);
  EXPECT_EQ(MainWindowProc(nullptr, WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(GetCursor(), nullptr);
  d3d12::SetPresenterCursorHidden(0);
  EXPECT_EQ(MainWindowProc(nullptr, WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW));
  int32_t countAfter = ShowCursor(TRUE) - 1;
  ShowCursor(FALSE);
  EXPECT_EQ(countAfter, countBefore);
}

} // namespace

namespace {

// MouseCapture: the pointer is taken only while a step wants it and the
// window has the focus; losing the focus gives it back at once, and a step
// still running takes it again once the window is active.
TEST(MainWindowProc, PointerTakenOnlyWithTheFocus) {
  WNDCLASSEXA wc;
  memset(&wc, 0, sizeof(wc));
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "qv capture test";
  ASSERT_NE(RegisterClassExA(&wc), 0);
  // Message-only: a window needs no display then (the tests run without one).
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 40, 30, 200, 100, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr) << GetLastError();
  RECT free;
  ASSERT_TRUE(GetClipCursor(&free));
  g_win32App.mainWindow = window;
  g_win32App.bActive = 0;
  d3d12::SetPresenterCursorHidden(0);

  auto clip = [] {
    RECT r;
    GetClipCursor(&r);
    return r;
  };
  auto same = [](RECT a, RECT b) { return EqualRect(&a, &b) != 0; };
  RECT client = {40, 30, 240, 130};

  MouseCaptureWin32(1); // no focus yet: nothing taken
  EXPECT_EQ(g_win32App.bMouseCaptured, 0);
  EXPECT_TRUE(same(clip(), free));
  MainWindowProc(window, WM_ACTIVATE, WA_ACTIVE, 0);
  MouseCaptureWin32(1);
  EXPECT_EQ(g_win32App.bMouseCaptured, 1);
  EXPECT_TRUE(same(clip(), client));
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  MainWindowProc(nullptr, WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), nullptr); // hidden in a window too

  MainWindowProc(window, WM_KILLFOCUS, 0, 0);
  EXPECT_EQ(g_win32App.bMouseCaptured, 0);
  EXPECT_TRUE(same(clip(), free));
  MouseCaptureWin32(1); // the step goes on in the background: still given back
  EXPECT_EQ(g_win32App.bMouseCaptured, 0);
  MainWindowProc(window, WM_ACTIVATE, WA_CLICKACTIVE, 0);
  MouseCaptureWin32(1);
  EXPECT_TRUE(same(clip(), client));
  MouseCaptureWin32(0); // the step ended
  EXPECT_EQ(g_win32App.bMouseCaptured, 0);
  EXPECT_TRUE(same(clip(), free));
  MainWindowProc(nullptr, WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW));

  g_win32App.mainWindow = nullptr;
  DestroyWindow(window);
}

} // namespace
