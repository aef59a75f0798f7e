#include "scanner/capture_wait.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/fakes.h"

namespace qvl {
namespace {

class CaptureWaitTest : public testing::Test {
 protected:
  CaptureWaitTest() { scanner.clock = &clock; }
  void Wait(double timeout) {
    WaitForFinger(scanner, window, clock, timeout, raw_image, flag);
  }

  FakeClock clock;
  FakeWindow window;
  FakeScanner scanner;
  ImageBuffer raw_image{};
  std::int16_t flag = 0;
};

TEST_F(CaptureWaitTest, FingerOnTheFirstPollEndsAtOnceWithoutSleeping) {
  Wait(120);
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"open", "poll"}));
  EXPECT_EQ(flag, 1);
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(window.Shown("timer"), std::vector<std::string>{"120"});
}

TEST_F(CaptureWaitTest, NoPauseAfterTheFirstPassThen200ms) {
  scanner.finger_at_poll = 4;
  Wait(120);
  EXPECT_EQ(scanner.polls, 4);
  EXPECT_EQ(clock.sleeps, (std::vector<int>{200, 200, 200}));
  EXPECT_EQ(window.pumps, 4);
}

TEST_F(CaptureWaitTest, CountdownFromTheLimitToMinusOne) {
  scanner.finger_at_poll = 0;
  Wait(2);
  std::vector<std::string> shown = window.Shown("timer");
  EXPECT_EQ(shown.front(), "2");
  EXPECT_EQ(shown.back(), "-1");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "1"), 5);  // five polls a second
  EXPECT_EQ(flag, 0);
}

TEST_F(CaptureWaitTest, FractionalLimitShowsItsFraction) {
  scanner.finger_at_poll = 2;
  Wait(4.5);
  EXPECT_EQ(window.Shown("timer").front(), "4.5");
}

TEST_F(CaptureWaitTest, NegativeTimeoutPollsExactlyOnce) {
  scanner.finger_at_poll = 0;
  Wait(-5);
  EXPECT_EQ(scanner.polls, 1);
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_EQ(window.Shown("timer"), std::vector<std::string>{"-5"});
}

TEST_F(CaptureWaitTest, NegativeTimeoutStillTakesAFingerAlreadyThere) {
  Wait(-1);
  EXPECT_EQ(flag, 1);
}

TEST_F(CaptureWaitTest, ZeroTimeoutWaitsUntilTheNextWholeSecond) {
  scanner.finger_at_poll = 0;
  clock.now_ms = 5300;  // the count is of second boundaries crossed, not of 1000 ms spans
  Wait(0);
  EXPECT_EQ(clock.now_ms / 1000, 6);
  EXPECT_EQ(scanner.polls, 6);  // clock read at 5300, 5300, 5500, 5700, 5900, then 6100
}

TEST_F(CaptureWaitTest, SlowLibraryCallsCountTowardsTheTimeout) {
  scanner.finger_at_poll = 0;
  scanner.poll_cost_ms = 1000;
  Wait(3);
  EXPECT_EQ(scanner.polls, 4);
  EXPECT_EQ(window.Shown("timer"), (std::vector<std::string>{"2", "1", "0", "-1"}));
}

TEST_F(CaptureWaitTest, AnyNonzeroFlagEndsTheWait) {
  scanner.finger_at_poll = 3;
  scanner.flag_value = 2;
  Wait(120);
  EXPECT_EQ(scanner.polls, 3);
  EXPECT_EQ(flag, 2);
}

TEST_F(CaptureWaitTest, ClosedWindowIsNoticedAtTheNextTest) {
  scanner.finger_at_poll = 0;
  window.close_at_pump = 3;
  Wait(120);
  EXPECT_EQ(scanner.polls, 3);
}

TEST_F(CaptureWaitTest, CaptureInThePassTheWindowClosedStillCounts) {
  scanner.finger_at_poll = 2;
  window.close_at_pump = 2;
  Wait(120);
  EXPECT_EQ(flag, 1);
}

TEST_F(CaptureWaitTest, WindowClosedBeforehandMeansNoPoll) {
  window.closed = true;
  Wait(120);
  EXPECT_EQ(scanner.calls, std::vector<std::string>{"open"});
}

}  // namespace
}  // namespace qvl
