// Looks at qvlcapture's windows the way the user does, for the end-to-end cases.
//   window_probe.exe        prints the text of its message box in UTF-8, taken with WM_GETTEXT
//   window_probe.exe FILE   writes to FILE the centre of its window's close box in screen
//                           coordinates; the window itself says which point that is
//                           (WM_NCHITTEST), so no frame or caption size is guessed
// Exit 1 when there is no such box, or no such window within 20 s.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

BOOL CALLBACK TakeText(HWND child, LPARAM found) {
  wchar_t name[16];
  GetClassNameW(child, name, 16);
  if (lstrcmpiW(name, L"Static") != 0 ||
      (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
    return TRUE;
  wchar_t text[4096];
  LRESULT length = SendMessageW(child, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
  if (length <= 0) return TRUE;
  reinterpret_cast<std::wstring*>(found)->assign(text, static_cast<std::size_t>(length));
  return FALSE;
}

int PrintBoxText() {
  HWND box = FindWindowW(L"#32770", L"qvlcapture");
  std::wstring text;
  if (box) EnumChildWindows(box, TakeText, reinterpret_cast<LPARAM>(&text));
  if (text.empty()) return 1;
  std::string utf8(text.size() * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr));
  std::printf("%s\n", utf8.c_str());
  return 0;
}

int WriteCloseBox(const wchar_t* output) {
  HWND window = nullptr;
  for (int i = 0; i < 200 && !(window = FindWindowW(L"QvlCaptureForm1", nullptr)); ++i) Sleep(100);
  if (!window) return 1;
  RECT frame;
  GetWindowRect(window, &frame);
  // Along the middle of the caption, from the right edge. Each probe waits for the program's
  // next pump (five a second), so the row is walked in steps of 2 pixels.
  int y = frame.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  for (int x = frame.right - 1, right = -1; x > frame.right - 80; x -= 2) {
    bool close_box = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
    if (close_box && right < 0) right = x;
    if (close_box || right < 0) continue;
    FILE* file = _wfopen(output, L"w");
    return file && std::fprintf(file, "%d %d\n", (x + right) / 2, y) > 0 && std::fclose(file) == 0
               ? 0
               : 1;
  }
  return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR output, int) {
  return *output ? WriteCloseBox(output) : PrintBoxText();
}
