#include "run/run.h"

#include <gtest/gtest.h>

#include "testing/fakes.h"
#include "window/texts.h"

namespace qvl {
namespace {

class RunTest : public testing::Test {
 protected:
  RunTest() { scanner.clock = &clock; }
  Ending Run(const std::string& command_line, StatusWindow* on = nullptr) {
    options = ParseSwitches(SplitArguments(command_line));
    return PerformRun({on ? *on : window, scanner, clock, dir.path(), options, ""});
  }

  ScopedTempDir dir;
  FakeClock clock;
  FakeWindow window;
  FakeScanner scanner;
  RunOptions options;
};

TEST_F(RunTest, CapturedPrintWithoutModeAnswersMinusOneAndTheToken) {
  EXPECT_EQ(Run("-CONTROL:A17 -TIMEOUT:7"), Ending::kAnswered);
  EXPECT_EQ(dir.Read("result.txt"), "-1\r\nA17\r\n");
  EXPECT_EQ(window.Shown("info"), (std::vector<std::string>{kPrompt, kCaptured}));
  EXPECT_EQ(window.Shown("timer"), (std::vector<std::string>{"", "7", ""}));
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"open", "poll", "process", "bmp"}));
}

TEST_F(RunTest, NoPrintShowsTheMessageOnlyWhileTheWindowIsUpThenReturnsTheFocus) {
  scanner.finger_at_poll = 0;
  dir.Write("result.txt", "1\r\nprevious\r\n");
  EXPECT_EQ(Run("-TIMEOUT:30 -FOCUS"), Ending::kTimedOut);
  EXPECT_EQ(dir.Read("result.txt"), "");
  EXPECT_EQ(window.Shown("message"), std::vector<std::string>{TimeoutText(30)});
  EXPECT_EQ(window.events.back().first, "focus");  // after the message is dismissed
  FakeWindow closed_window;  // closed by the user: no message, the focus still goes back
  closed_window.close_at_pump = 2;
  EXPECT_EQ(Run("-FOCUS", &closed_window), Ending::kWindowClosed);
  EXPECT_TRUE(closed_window.Shown("message").empty());
  EXPECT_EQ(closed_window.events.back().first, "focus");
}

TEST_F(RunTest, ModesRunInOrderAndTheLastDecides) {
  scanner.template_to_give[0] = 5;
  std::string database(3 * 256, '\0');
  database[256] = 5;
  dir.Write("match.bin", database);
  dir.Write("verify1.bin", std::string(1, '\5'));
  scanner.match_n_answer = 1;
  Run("-CVERIMATCH -CMATCH -CVERIFY -CONTROL:t");
  EXPECT_EQ(dir.Read("result.txt"), "1\r\nt\r\n");  // the record list "1", not MatchN's 1
  EXPECT_EQ(window.Shown("info")[0], std::string("Идентификация через верификацию:\r\n") + kPrompt);
  EXPECT_EQ(window.Shown("timer")[0], kReadingDatabase);  // before the finger is asked for
  EXPECT_EQ(scanner.match_n_count, 3);
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"open", "poll", "process", "bmp", "match",
                                                     "matchn", "match", "match", "match"}));
  Run("-CMATCH");
  EXPECT_EQ(dir.Read("result.txt"), "1\r\n\r\n");
}

}  // namespace
}  // namespace qvl
