#include <gtest/gtest.h>
#include <windows.h>

#include "window/status_window.h"
#include "window/texts.h"

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

// Whatever the font Windows finds, the prompt is never cut off: a text twice the longest mode's
// prompt still fits the info line.
TEST(Win32Window, InfoTextFitsItsLine) {
  std::unique_ptr<StatusWindow> window = OpenStatusWindow();
  HWND hwnd = FindWindowW(L"QvlCaptureForm1", nullptr);
  ASSERT_TRUE(hwnd);
  std::string prompt = PromptText(false, false, true);
  window->ShowInfo(prompt + " " + prompt);
  HWND info = GetWindow(hwnd, GW_CHILD);
  wchar_t text[1024];
  GetWindowTextW(info, text, 1024);
  RECT box, need;
  GetClientRect(info, &box);
  need = {0, 0, box.right, 0};
  HDC dc = GetDC(info);
  SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(info, WM_GETFONT, 0, 0)));
  DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  ReleaseDC(info, dc);
  EXPECT_LE(need.bottom, box.bottom);
}

// Nobody at the desk: the box closes itself, and says so.
TEST(ShowBox, ClosesItselfWhenNobodyAnswers) {
  EXPECT_FALSE(ShowBox("qvlcapture test box", false, 1));
}

}  // namespace
}  // namespace qvl
