#include "scanner/capture_wait.h"

#include "window/texts.h"

namespace qvl {

std::int16_t WaitForFinger(ScannerLibrary& scanner, StatusWindow& window, Clock& clock,
                           double timeout_seconds, ImageBuffer& raw_image,
                           std::int16_t& capture_flag) {
  constexpr int kPollPauseMs = 200;
  std::int16_t status = scanner.OpenDevice();
  std::int64_t start_second = clock.NowMs() / 1000;
  bool timed_out = false;
  bool first_pass = true;
  // All three parts are tested on every pass: the window may have closed during the last one.
  while (window.IsShown() && !timed_out && (first_pass || capture_flag == 0)) {
    scanner.GetImage(raw_image, capture_flag);
    double elapsed = static_cast<double>(clock.NowMs() / 1000 - start_second);
    window.ShowTimer(CountdownText(timeout_seconds - elapsed));
    timed_out = elapsed > timeout_seconds;
    window.PumpEvents();
    if (!first_pass) clock.SleepMs(kPollPauseMs);
    first_pass = false;
  }
  return status;
}

}  // namespace qvl
