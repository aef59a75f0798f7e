// Prints the text of qvlcapture's message box in UTF-8, as the user reads it: the box's static
// text, taken with WM_GETTEXT. Exit 1 when there is no such box.

#include <windows.h>

#include <cstdio>
#include <string>

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

int main() {
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
