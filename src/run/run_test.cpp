#include "run/run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "testing/fakes.h"
#include "window/texts.h"

namespace qvl {
namespace {

class RunTest : public testing::Test {
 protected:
  RunTest() { scanner.clock = &clock; }
  void Run(const std::string& command_line) {
    PerformRun({window, scanner, clock, dir.path(), command_line});
  }
  std::string RunError(const std::string& command_line) {
    try {
      Run(command_line);
    } catch (const qvl::RunError& error) {
      return error.what();
    }
    return "no error";
  }

  ScopedTempDir dir;
  FakeClock clock;
  FakeWindow window;
  FakeScanner scanner;
};

TEST_F(RunTest, CapturedPrintWithoutModeAnswersMinusOneAndTheToken) {
  dir.Write("result.txt", "old answer");
  Run("-CONTROL:A17");
  EXPECT_EQ(dir.Read("result.txt"), "-1\r\nA17\r\n");
  EXPECT_EQ(window.Shown("info"), (std::vector<std::string>{kPrompt, kCaptured}));
  EXPECT_TRUE(window.Shown("message").empty());
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"open", "poll", "process", "bmp"}));
}

TEST_F(RunTest, NoTokenGivesAnEmptySecondLine) {
  Run("");
  EXPECT_EQ(dir.Read("result.txt"), "-1\r\n\r\n");
}

TEST_F(RunTest, TimerLineClearedBeforeThePromptAndAfterTheWait) {
  Run("-TIMEOUT:7");
  EXPECT_EQ(window.events.front(), (std::pair<std::string, std::string>{"timer", ""}));
  EXPECT_EQ(window.Shown("timer"), (std::vector<std::string>{"", "7", ""}));
}

TEST_F(RunTest, CommandFileWinsOverTheCommandLine) {
  dir.Write("command.txt", "-CONTROL:file\r\n");
  Run("-CONTROL:line -FOCUS");
  EXPECT_EQ(dir.Read("result.txt"), "-1\r\nfile\r\n");
  EXPECT_TRUE(window.Shown("focus").empty());
}

TEST_F(RunTest, TimeoutLeavesResultEmptyAndShowsTheMessage) {
  dir.Write("result.txt", "1\r\nprevious\r\n");
  dir.Write("feature.txt", "old");
  scanner.finger_at_poll = 0;
  Run("-TIMEOUT:30 -FOCUS");
  EXPECT_EQ(dir.Read("result.txt"), "");
  EXPECT_EQ(dir.Read("feature.txt"), "old");
  EXPECT_EQ(window.Shown("message"), std::vector<std::string>{kTimeoutMessage});
  // The focus goes back after the message is dismissed.
  EXPECT_EQ(window.events.back().first, "focus");
}

TEST_F(RunTest, ClosedWindowShowsNoMessageButStillReturnsTheFocus) {
  scanner.finger_at_poll = 0;
  window.close_at_pump = 2;
  Run("-FOCUS");
  EXPECT_EQ(dir.Read("result.txt"), "");
  EXPECT_TRUE(window.Shown("message").empty());
  EXPECT_EQ(window.Shown("focus").size(), 1u);
}

TEST_F(RunTest, FlagOtherThanOneIsNoPrint) {
  scanner.flag_value = 2;
  Run("");
  EXPECT_EQ(dir.Read("result.txt"), "");
  EXPECT_FALSE(dir.Exists("feature.txt"));
  EXPECT_EQ(window.Shown("message").size(), 1u);
}

TEST_F(RunTest, ResultFileThatCannotBeCreatedStopsTheRunFirst) {
  std::filesystem::create_directory(dir.File("result.txt"));
  EXPECT_NE(RunError("").find("result.txt"), std::string::npos);
  EXPECT_TRUE(scanner.calls.empty());
}

TEST_F(RunTest, ErrorStopLeavesResultEmptyAndEarlierFilesComplete) {
  dir.Write("result.txt", "stale");
  scanner.template_to_give[0] = 9;
  std::string error = RunError("-CVERIMATCH -MFILE:staff.bin -CONTROL:t");
  EXPECT_NE(error.find("staff.bin"), std::string::npos) << error;
  EXPECT_EQ(dir.Read("result.txt"), "");
  EXPECT_EQ(dir.Read("feature.txt").substr(0, 6), "9\r\n0\r\n");
  EXPECT_EQ(dir.Read("feature.txt").size(), 257u * 3);
}

TEST_F(RunTest, EmptyDatabaseNameStopsNamingThePath) {
  std::string error = RunError("-CMATCH -MFILE:");
  EXPECT_NE(error.find(dir.path()), std::string::npos) << error;
  EXPECT_EQ(dir.Read("result.txt"), "");
}

TEST_F(RunTest, BadNumberStopsTheRunBeforeTheScannerOpens) {
  EXPECT_NE(RunError("-LEVEL:9e999").find("-LEVEL:"), std::string::npos);
  EXPECT_EQ(dir.Read("result.txt"), "");
  EXPECT_TRUE(scanner.calls.empty());
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
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"open", "poll", "process", "bmp", "match",
                                                     "matchn", "match", "match", "match"}));
  Run("-CVERIFY -CONTROL:t");
  EXPECT_EQ(dir.Read("result.txt"), "1\r\nt\r\n");
  Run("-CMATCH");
  EXPECT_EQ(dir.Read("result.txt"), "1\r\n\r\n");
}

}  // namespace
}  // namespace qvl
