// The main window's procedure, answered without a window of its own (null
// handle: nothing else is looked at).
#include <gtest/gtest.h>

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
