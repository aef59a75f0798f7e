// The least a Win32 program can do before its window shows a text: the floor for
// qvlcapture.exe's start-up under Wine.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"MinimalWindow";
  RegisterClassW(&window_class);
  HWND window = CreateWindowW(L"MinimalWindow", L"minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 480, 360, nullptr, nullptr, instance, nullptr);
  CreateWindowW(L"STATIC", L"Приложите палец", WS_CHILD | WS_VISIBLE, 0, 0, 400, 40, window,
                nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOW);
  MSG message;
  while (IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
