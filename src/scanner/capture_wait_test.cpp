#include "scanner/capture_wait.h"

#include <gtest/gtest.h>

#include "testing/fakes.h"

namespace qvl {
namespace {

using Texts = std::vector<std::string>;

// One wait in virtual time: only the pauses and the library's own time move the clock.
struct Scenario {
  const char* what;
  double timeout;
  // The scanner's finger (0: never), the library's time per poll, the pump at which the user
  // closes the window (0: before the wait), the clock at the start.
  int finger_at_poll, poll_cost_ms, close_at_pump, start_ms;
  // What must come of it; the timer texts, or the first and the last of a long countdown.
  int polls, flag;
  Texts countdown;
};

TEST(WaitForFinger, Scenarios) {
  const Scenario scenarios[] = {
      {"a finger at once: no pause", 120, 1, 0, -1, 0, 1, 1, {"120"}},
      {"no pause, then 200 ms", 120, 4, 0, -1, 0, 4, 1, {"120", "120", "120", "120"}},
      {"from the limit to 0, never below", 2, 0, 0, -1, 0, 17, 0, {"2", "0"}},
      {"a fraction with a decimal comma", 1.5, 0, 0, -1, 0, 12, 0, {"1,5", "0"}},
      {"a negative limit: one poll", -5, 0, 0, -1, 0, 1, 0, {"0"}},
      {"a finger already there counts", -1, 1, 0, -1, 0, 1, 1, {"0"}},
      // Second boundaries crossed, not spans of 1000 ms: read at 5300, 5300, 5500 ... 6100.
      {"zero: to the next whole second", 0, 0, 0, -1, 5300, 6, 0, {"0", "0"}},
      {"slow library calls count", 3, 0, 1000, -1, 0, 4, 0, {"2", "1", "0", "0"}},
      {"a close noticed at the next test", 120, 0, 0, 3, 0, 3, 0, {"120", "120", "120"}},
      {"a capture as it closes counts", 120, 2, 0, 2, 0, 2, 1, {"120", "120"}},
      {"closed before: no poll", 120, 1, 0, 0, 0, 0, 0, {}}};
  for (const Scenario& s : scenarios) {
    FakeClock clock;
    clock.now_ms = s.start_ms;
    FakeWindow window;
    window.close_at_pump = s.close_at_pump;
    window.closed = s.close_at_pump == 0;
    FakeScanner scanner;
    scanner.clock = &clock;
    scanner.finger_at_poll = s.finger_at_poll;
    scanner.poll_cost_ms = s.poll_cost_ms;
    ImageBuffer raw_image{};
    std::int16_t flag = 0;
    WaitForFinger(scanner, window, clock, s.timeout, raw_image, flag);
    EXPECT_EQ(scanner.polls, s.polls) << s.what;
    EXPECT_EQ(flag, s.flag) << s.what;
    EXPECT_EQ(clock.sleeps, std::vector<int>(std::max(s.polls - 1, 0), 200)) << s.what;
    EXPECT_EQ(window.pumps, s.polls) << s.what;
    Texts shown = window.Shown("timer");
    if (shown.size() > 4) shown = {shown.front(), shown.back()};
    EXPECT_EQ(shown, s.countdown) << s.what;
  }
}

}  // namespace
}  // namespace qvl
