// The console stand-in for the window, for Linux: every text goes to stderr, Ctrl+C (SIGINT) is
// the user closing the window, and the message box waits for Enter when someone can press it.

#include <poll.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "window/status_window.h"
#include "window/texts.h"

namespace qvl {
namespace {

volatile sig_atomic_t g_closed = 0;

void OnInterrupt(int) { g_closed = 1; }

class ConsoleWindow : public StatusWindow {
 public:
  ConsoleWindow() : terminal_(isatty(STDERR_FILENO) != 0) {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);  // no SA_RESTART: Ctrl+C cuts a sleep short
    // The title alone: the window's placeholder lines ("---", "-") would mean nothing here.
    std::cerr << "== " << kWindowCaption << " ==\n";
  }

  ~ConsoleWindow() override {
    EndTimerLine();
    signal(SIGINT, SIG_DFL);
  }

  void ShowInfo(const std::string& text) override {
    if (!IsShown()) return;
    EndTimerLine();
    std::string shown = text;
    for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;)
      shown.replace(at, 2, "\n");
    std::cerr << shown << '\n';
  }

  void ShowTimer(const std::string& text) noexcept override {
    if (!IsShown()) return;
    // The window redraws only a changed text; a log gets each new text once.
    if (text == timer_text_) return;
    timer_text_ = text;
    // On a terminal the countdown updates one line in place.
    if (terminal_) {
      std::cerr << "\r\033[K" << text << std::flush;
      timer_line_open_ = !text.empty();
    } else if (!text.empty()) {
      std::cerr << text << '\n';
    }
  }

  bool IsShown() override { return !g_closed && !hidden_; }

  void PumpEvents() override {}  // signals arrive by themselves

  void ShowMessage(const std::string& text) override {
    EndTimerLine();
    ShowBox(text, false, kBoxSeconds);
  }

  void ReturnFocusToCaller() override { hidden_ = true; }  // the terminal keeps its focus

 private:
  void EndTimerLine() {
    if (timer_line_open_) std::cerr << '\n';
    timer_line_open_ = false;
  }

  bool terminal_;
  bool timer_line_open_ = false;
  std::string timer_text_;
  bool hidden_ = false;
};

}  // namespace

std::unique_ptr<StatusWindow> OpenStatusWindow() { return std::make_unique<ConsoleWindow>(); }

bool ShowBox(const std::string& text, bool, int seconds, void*) {
  std::cerr << text << '\n';
  if (!isatty(STDIN_FILENO)) return true;
  std::cerr << "[Enter]" << std::flush;
  pollfd input = {STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, seconds * 1000) <= 0) {
    std::cerr << '\n';
    return false;
  }
  std::string line;
  std::getline(std::cin, line);
  return true;
}

void ShowFatalError(const std::string& message) {
  // One system call that allocates nothing: a crash report comes through here too.
  iovec line[] = {{const_cast<char*>(kProgramName), sizeof kProgramName - 1},
                  {const_cast<char*>(": error: "), 9},
                  {const_cast<char*>(message.data()), message.size()},
                  {const_cast<char*>("\n"), 1}};
  [[maybe_unused]] ssize_t written = writev(STDERR_FILENO, line, 4);
}

}  // namespace qvl
