// The capture wait's own cost per pass: the poll, the countdown text, the pump and the pause,
// with a library, a window and a clock that cost nothing and a pause that takes no real time.

#include <benchmark/benchmark.h>

#include "scanner/capture_wait.h"

namespace qvl {
namespace {

class IdleScanner : public ScannerLibrary {
 public:
  std::int16_t OpenDevice() override { return 0; }
  std::int16_t GetImage(ImageBuffer&, std::int16_t& flag) override {
    flag = 0;
    return 0;
  }
  std::int16_t Process(const ImageBuffer&, FeatureBuffer&, ImageBuffer&) override { return 0; }
  std::int16_t SaveBmp(const char*, const ImageBuffer&) override { return 0; }
  std::int16_t Match(const std::uint8_t*, const std::uint8_t*, std::int16_t) override { return 1; }
  std::int16_t MatchN(const std::uint8_t*, const std::uint8_t*, std::int16_t,
                      std::int16_t) override {
    return -1;
  }
};

class SilentWindow : public StatusWindow {
 public:
  void ShowInfo(const std::string&) override {}
  void ShowTimer(const std::string& text) noexcept override { benchmark::DoNotOptimize(text); }
  bool IsShown() override { return true; }
  void PumpEvents() override {}
  void ShowMessage(const std::string&) override {}
  void ReturnFocusToCaller() override {}
};

class VirtualClock : public Clock {
 public:
  std::int64_t NowMs() override { return now_; }
  void SleepMs(int ms) override { now_ += ms; }

 private:
  std::int64_t now_ = 0;
};

// A wait of 1,000 virtual seconds: 5,001 passes.
void BM_CapturePass(benchmark::State& state) {
  IdleScanner scanner;
  SilentWindow window;
  ImageBuffer raw{};
  for (auto _ : state) {
    VirtualClock clock;
    std::int16_t flag = 0;
    WaitForFinger(scanner, window, clock, 1000, raw, flag);
  }
  state.SetItemsProcessed(state.iterations() * 5001);
}
BENCHMARK(BM_CapturePass)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qvl
