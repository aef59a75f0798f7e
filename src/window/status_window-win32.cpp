// The Win32 status window: a fixed-size top-level window with two static labels. Geometry is in
// twips, as the window was first laid out, and scaled once by the display's DPI (the manifest
// declares the program DPI-aware, so that DPI is the real one).

#include <windows.h>

#include <cwchar>

#include "base/error.h"
#include "base/messages.h"
#include "base/win32_text.h"
#include "window/status_window.h"
#include "window/texts.h"

namespace qvl {
namespace {

constexpr wchar_t kClassName[] = L"QvlCaptureForm1";

// Layout in twips (1/1440 inch). The info label reaches 120 twips above the client area, which
// keeps the title line close to the top edge.
struct TwipBox {
  int left, top, width, height;
};
constexpr int kClientWidth = 7110, kClientHeight = 5370;
constexpr TwipBox kInfoBox = {0, -120, 7095, 4455};
constexpr TwipBox kTimerBox = {0, 4440, 6975, 855};
constexpr int kFontCentipoints = 2775;
constexpr COLORREF kTimerColor = RGB(0, 0, 192);
constexpr UINT kNeverSent = WM_APP + 0x3FFF;  // a message no one sends this program

class Win32Window : public StatusWindow {
 public:
  Win32Window();
  ~Win32Window() override;

  void ShowInfo(const std::string& text) override;
  void ShowTimer(const std::string& text) noexcept override;
  // Not IsWindowVisible: a caller that starts the program hidden must not end the wait at once.
  bool IsShown() override { return hwnd_ && !hidden_; }
  void PumpEvents() override;
  void ShowMessage(const std::string& text) override;
  void ReturnFocusToCaller() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCreate();
  LRESULT OnColorStatic(HDC dc, HWND control);
  HWND CreateLabel(const TwipBox& box, const char* text);
  HFONT MakeFont(int centipoints) const;
  void FitInfo();
  static void SetLabel(HWND label, const std::string& text);
  int Scale(int twips) const { return MulDiv(twips, dpi_, 1440); }

  HWND hwnd_ = nullptr;
  HWND info_ = nullptr;
  HWND timer_ = nullptr;
  HFONT font_ = nullptr;
  HFONT smaller_font_ = nullptr;  // the info line's, where its text does not fit at font_'s size
  HWND caller_ = nullptr;  // the window that was active when the program started
  bool hidden_ = false;    // by the focus return
  int dpi_ = 96;
};

Win32Window::Win32Window() : caller_(GetForegroundWindow()) {
  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  if (!RegisterClassExW(&window_class))
    throw RunError(Say(Message::kWindowClassFailed, {{"reason", Win32ErrorText(GetLastError())}}));

  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame = {0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  if (!CreateWindowExW(0, kClassName, Widen(kWindowCaption).c_str(), style, CW_USEDEFAULT,
                       CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                       nullptr, instance, this))
    throw RunError(Say(Message::kWindowFailed, {{"reason", Win32ErrorText(GetLastError())}}));
  // Windows gives the first ShowWindow the caller's show command (hidden, minimized) instead of
  // ours; the window exists to be seen, so the second one shows it as it is meant.
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
  UpdateWindow(hwnd_);
}

Win32Window::~Win32Window() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
  if (smaller_font_) DeleteObject(smaller_font_);
  UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* window =
        static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    window->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wparam, lparam);
  return window->HandleMessage(message, wparam, lparam);
}

LRESULT Win32Window::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND hwnd = hwnd_;
  switch (message) {
    case WM_CREATE:
      OnCreate();
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnColorStatic(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_NCDESTROY:
      // The close box destroys the window at once (DefWindowProc's WM_CLOSE); from then on the
      // run works on nothing and IsShown is false.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      hwnd_ = info_ = timer_ = nullptr;
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void Win32Window::OnCreate() {
  font_ = MakeFont(kFontCentipoints);
  info_ = CreateLabel(kInfoBox, kInitialInfo);
  timer_ = CreateLabel(kTimerBox, kInitialTimer);
}

HWND Win32Window::CreateLabel(const TwipBox& box, const char* text) {
  HWND label = CreateWindowExW(0, L"STATIC", Widen(text).c_str(),
                               WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, Scale(box.left),
                               Scale(box.top), Scale(box.width), Scale(box.height), hwnd_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return label;
}

LRESULT Win32Window::OnColorStatic(HDC dc, HWND control) {
  if (control == timer_) SetTextColor(dc, kTimerColor);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

// Paints the new text at once: the steps that follow (processing, reading a database) may take
// a while without pumping events, and the user should read what is happening meanwhile. Only
// the label's paint is processed; input, the close box included, waits for the next pump.
void Win32Window::SetLabel(HWND label, const std::string& text) {
  if (!label) return;
  SetWindowTextW(label, Widen(text).c_str());
  UpdateWindow(label);
  // Wine hands a window's drawing to the X server when the thread finds its queue empty; a peek
  // for a message nobody sends does that and takes no input. Windows needs no such thing.
  MSG none;
  PeekMessageW(&none, nullptr, kNeverSent, kNeverSent, PM_NOREMOVE);
}

HFONT Win32Window::MakeFont(int centipoints) const {
  return CreateFontW(-MulDiv(centipoints, dpi_, 7200), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Arial Narrow");
}

void Win32Window::ShowInfo(const std::string& text) {
  SetLabel(info_, text);
  FitInfo();
}

// The original's size where the text fits, as with Arial Narrow; smaller where it would be cut
// off, as with the wider font that Windows takes where Arial Narrow (an Office font) is missing.
void Win32Window::FitInfo() {
  wchar_t text[1024];
  GetWindowTextW(info_, text, 1024);
  RECT box;
  GetClientRect(info_, &box);
  HDC dc = GetDC(info_);
  HFONT fitting = font_;
  for (int size = kFontCentipoints; size >= kFontCentipoints / 2; size -= 125) {
    HFONT font = size == kFontCentipoints ? font_ : MakeFont(size);
    HGDIOBJ old = SelectObject(dc, font);
    RECT need = {0, 0, box.right, 0};
    DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    fitting = font;
    if (need.bottom <= box.bottom) break;
    if (font != font_ && size - 125 >= kFontCentipoints / 2) DeleteObject(font);
  }
  ReleaseDC(info_, dc);
  SendMessageW(info_, WM_SETFONT, reinterpret_cast<WPARAM>(fitting), TRUE);
  if (smaller_font_ && smaller_font_ != fitting) DeleteObject(smaller_font_);
  smaller_font_ = fitting == font_ ? nullptr : fitting;
}

void Win32Window::ShowTimer(const std::string& text) noexcept {
  try {
    SetLabel(timer_, text);
  } catch (...) {
    // A countdown update never stops the run.
  }
}

void Win32Window::PumpEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Win32Window::ShowMessage(const std::string& text) {
  ShowBox(text, false, kBoxSeconds, IsShown() ? hwnd_ : nullptr);
}

void Win32Window::ReturnFocusToCaller() {
  // The focus goes first, while this program still has the foreground and so the right to give
  // it away; hidden first, the window would hand it to whoever is next.
  bool caller_there = caller_ && caller_ != hwnd_ && IsWindow(caller_);
  if (caller_there) SetForegroundWindow(caller_);
  hidden_ = true;
  if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
  if (caller_there) return;
  // The caller's window is gone: Shift+Alt+Tab hands the focus to whatever was active before.
  INPUT keys[6] = {};
  const WORD sequence[6] = {VK_SHIFT, VK_MENU, VK_TAB, VK_TAB, VK_MENU, VK_SHIFT};
  for (int i = 0; i < 6; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = sequence[i];
    if (i >= 3) keys[i].ki.dwFlags = KEYEVENTF_KEYUP;
  }
  SendInput(6, keys, sizeof(INPUT));
}

}  // namespace

std::unique_ptr<StatusWindow> OpenStatusWindow() { return std::make_unique<Win32Window>(); }

void ShowFatalError(const std::string& message) { ShowBox(message, true, kBoxSeconds); }

namespace {

bool g_box_closed_itself = false;

BOOL CALLBACK EndMessageBox(HWND window, LPARAM) {
  wchar_t kind[16] = {};
  GetClassNameW(window, kind, 16);
  if (std::wcscmp(kind, L"#32770") != 0) return TRUE;
  g_box_closed_itself = true;
  EndDialog(window, IDOK);
  return FALSE;
}

// A thread timer: the box's own message loop runs it, on the thread the box belongs to.
VOID CALLBACK BoxTimeUp(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), EndMessageBox, 0);
}

}  // namespace

bool ShowBox(const std::string& text, bool error, int seconds, void* owner) {
  g_box_closed_itself = false;
  UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, BoxTimeUp);
  MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(), Widen(kProgramName).c_str(),
              MB_OK | (error ? MB_ICONERROR : 0));
  if (timer) KillTimer(nullptr, timer);
  return !g_box_closed_itself;
}

}  // namespace qvl
