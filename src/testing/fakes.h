#pragma once

// Fakes of the seams, for driving the run without a window, a scanner or real time. Each one
// records what was done to it so tests can assert on it.

#include <cstdint>
#include <string>
#include <vector>

#include "base/os.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// Virtual time: only sleeps and the scanner's own time move it.
class FakeClock : public Clock {
 public:
  std::int64_t NowMs() override { return now_ms; }
  void SleepMs(int ms) override {
    sleeps.push_back(ms);
    now_ms += ms;
  }
  std::int64_t now_ms = 0;
  std::vector<int> sleeps;
};

class FakeWindow : public StatusWindow {
 public:
  void ShowInfo(const std::string& text) override { events.emplace_back("info", text); }
  void ShowTimer(const std::string& text) noexcept override { events.emplace_back("timer", text); }
  bool IsShown() override { return !closed && !hidden; }
  void PumpEvents() override { closed = closed || ++pumps == close_at_pump; }
  void ShowMessage(const std::string& text) override { events.emplace_back("message", text); }
  void ReturnFocusToCaller() override {
    hidden = true;
    events.emplace_back("focus", "");
  }

  // The texts shown on one line ("info", "timer") or of one kind ("message", "focus"), in order.
  std::vector<std::string> Shown(const std::string& what) const;

  std::vector<std::pair<std::string, std::string>> events;
  int pumps = 0;
  int close_at_pump = -1;  // the user closes the window during this pump
  bool closed = false;
  bool hidden = false;
};

// A scanner whose finger arrives at a chosen poll, and whose templates match when their first
// bytes are equal. Each poll can cost library time on the clock.
class FakeScanner : public ScannerLibrary {
 public:
  std::int16_t OpenDevice() override { return Call("open"); }
  std::int16_t GetImage(ImageBuffer& raw_image, std::int16_t& capture_flag) override;
  std::int16_t Process(const ImageBuffer&, FeatureBuffer& feature, ImageBuffer&) override;
  // Writes the smallest whole picture: a file header and a core header.
  std::int16_t SaveBmp(const char* ansi_path, const ImageBuffer&) override;
  std::int16_t Match(const std::uint8_t* probe, const std::uint8_t* stored,
                     std::int16_t level) override;
  std::int16_t MatchN(const std::uint8_t* probe, const std::uint8_t* first, std::int16_t count,
                      std::int16_t level) override;

  // Settings.
  FakeClock* clock = nullptr;
  int poll_cost_ms = 0;
  int finger_at_poll = 1;  // 0: never
  FeatureBuffer template_to_give{1};  // a real template is never all zero
  std::int16_t match_n_answer = -1;

  // Records.
  std::vector<std::string> calls;  // "open", "poll", "process", "bmp", "match", "matchn"
  int polls = 0;
  std::vector<std::int16_t> levels;  // the level of every match call
  std::int16_t match_n_count = 0;

 private:
  std::int16_t Call(const char* name) {
    calls.push_back(name);
    return 0;
  }
};

// A folder under the system's temporary folder, removed with everything in it.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;  // "<missing>" when it cannot be read

 private:
  std::string path_;
};

}  // namespace qvl
