#include <gtest/gtest.h>
#include <windows.h>

#include "window/status_window.h"

namespace qvl {
namespace {

// Shown means "not closed by the user", not "visible": Windows hides the first window of a
// program whose caller asked for it hidden, and the wait must not end at once for that.
TEST(Win32Window, ShownUntilTheUserClosesIt) {
  std::unique_ptr<StatusWindow> window = OpenStatusWindow();
  HWND hwnd = FindWindowW(L"QvlCaptureForm1", nullptr);
  ASSERT_TRUE(hwnd);
  ShowWindow(hwnd, SW_HIDE);
  EXPECT_TRUE(window->IsShown());
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  window->PumpEvents();
  EXPECT_FALSE(window->IsShown());
}

// Nobody at the desk: the box closes itself, and says so.
TEST(ShowBox, ClosesItselfWhenNobodyAnswers) {
  EXPECT_FALSE(ShowBox("qvlcapture test box", false, 1));
}

}  // namespace
}  // namespace qvl
