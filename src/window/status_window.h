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
  // A modal message with an OK button; returns when the user has dismissed it, or when it has
  // closed itself after kBoxSeconds.
  virtual void ShowMessage(const std::string& text) = 0;
  // Hides the window and gives the focus back to the window that had it before the run.
  virtual void ReturnFocusToCaller() = 0;
};

// Shows the window, modeless, with its initial texts.
std::unique_ptr<StatusWindow> OpenStatusWindow();

// Reports an error that stopped the run: a message box on Windows, a line on stderr elsewhere.
void ShowFatalError(const std::string& message);

// Every box that waits for a person closes itself after this long when nobody answers: the run
// then ends as if the person had pressed OK. A -QUIET left out costs two minutes, never a hung
// turnstile.
inline constexpr int kBoxSeconds = 120;

// The box of ShowMessage and ShowFatalError (on Linux a wait for Enter at a terminal), owned by
// `owner` (a window handle on Windows, or null): true when a person answered it, false when it
// closed itself after `seconds`.
bool ShowBox(const std::string& text, bool error, int seconds, void* owner = nullptr);

}  // namespace qvl
