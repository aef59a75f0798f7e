// Finds the close box of qvlcapture's window and writes its centre, in screen coordinates, to
// the file named by the argument, for the test to click. It asks the window itself which point
// is the close box (WM_NCHITTEST), so no frame or caption sizes are guessed. Exit 1 when the
// window or its close box cannot be found within 20 s.

#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR output, int) {
  HWND window = nullptr;
  for (int i = 0; i < 200 && !(window = FindWindowW(L"QvlCaptureForm1", nullptr)); ++i) Sleep(100);
  if (!window) return 1;
  RECT frame;
  GetWindowRect(window, &frame);
  // Along the middle of the caption, from the right edge. Each probe waits for the program's
  // next pump (five a second), so the row is walked in steps of 2 pixels.
  int y = frame.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  int right = -1;
  for (int x = frame.right - 1; x > frame.right - 80; x -= 2) {
    bool close_box = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
    if (close_box && right < 0) right = x;
    if (!close_box && right >= 0) {
      FILE* file = _wfopen(output, L"w");
      if (!file) return 1;
      std::fprintf(file, "%d %d\n", (x + right) / 2, y);
      std::fclose(file);
      return 0;
    }
  }
  return 1;
}
