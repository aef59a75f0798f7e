#pragma once

// The program's one window: two text lines, the timeout message box and the focus return.
// Abstract so tests can drive the run with a fake that records what was shown. The real one
// is a Win32 window (status_window-win32.cpp); on Linux a console stands in for it
// (status_window-console.cpp). Texts are UTF-8.

#include <memory>
#include <string>

namespace qvl {

class StatusWindow {
 public:
  virtual ~StatusWindow() = default;  // unloads the window

  // The instruction line.
  virtual void ShowInfo(const std::string& text) = 0;
  // The countdown line. Never fails: a countdown update must not stop the run.
  virtual void ShowTimer(const std::string& text) noexcept = 0;
  // False once the user has closed the window, or after ReturnFocusToCaller hid it.
  virtual bool IsShown() = 0;
  // Processes pending window events: repaint, the close box.
  virtual void PumpEvents() = 0;
  // A modal message with an OK button; returns when the user has dismissed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // Hides the window and gives the focus back to the window that had it before the run.
  virtual void ReturnFocusToCaller() = 0;
};

// Shows the window, modeless, with its initial texts.
std::unique_ptr<StatusWindow> OpenStatusWindow();

// Reports an error that stopped the run: a message box on Windows, a line on stderr elsewhere.
void ShowFatalError(const std::string& message);

}  // namespace qvl
