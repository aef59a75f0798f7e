// A caller with a window of its own: it takes the focus, starts the program the way callers do,
// waits for it while serving its window, and exits 0 when its own window is the active one again
// afterwards (1 when it is not, 2 when the program could not start).
// Usage: caller.exe [--show hide|minimized] PROGRAM [ARGUMENTS]
//   --show: the show command the caller asks for the program's window (.NET's WindowStyle, VB's
//   Shell), through STARTUPINFO.

#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_tail, int) {
  std::wstring command = command_tail;
  STARTUPINFOW startup = {sizeof startup};
  if (command.rfind(L"--show ", 0) == 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = command.rfind(L"--show hide ", 0) == 0 ? SW_HIDE : SW_SHOWMINIMIZED;
    command = command.substr(command.find(L' ', 7) + 1);
  }
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = instance;
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"QvlCaller";
  RegisterClassW(&window_class);
  HWND caller = CreateWindowW(L"QvlCaller", L"qvl caller", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600,
                              400, 300, 200, nullptr, nullptr, instance, nullptr);
  SetForegroundWindow(caller);

  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 2;
  // Keep the window served while the program runs, as a real caller would.
  MSG message;
  while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT) ==
         WAIT_OBJECT_0 + 1) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  for (int i = 0; i < 25; ++i) {  // let the focus change settle
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(20);
  }
  return GetForegroundWindow() == caller ? 0 : 1;
}
