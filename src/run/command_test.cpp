#include "run/command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

using Args = std::vector<std::string>;

TEST(ReadCommandText, FileContentTrimmedOfSpacesOnly) {
  ScopedTempDir dir;
  dir.Write("command.txt", "  -CMATCH\t-FOCUS\r\n  ");
  EXPECT_EQ(ReadCommandText(dir.path()), "-CMATCH\t-FOCUS\r\n");
}

TEST(ReadCommandText, MissingEmptyOrFolderIsNoText) {
  ScopedTempDir dir;
  EXPECT_EQ(ReadCommandText(dir.path()), "");
  dir.Write("command.txt", "");
  EXPECT_EQ(ReadCommandText(dir.path()), "");
  ScopedTempDir other;
  std::filesystem::create_directory(other.File("command.txt"));
  EXPECT_EQ(ReadCommandText(other.path()), "");
}

TEST(ReadCommandText, BinaryBytesPassThrough) {
  ScopedTempDir dir;
  std::string bytes("-CONTROL:\x00\xC0\xFF", 12);
  dir.Write("command.txt", bytes);
  EXPECT_EQ(ReadCommandText(dir.path()), bytes);
}

TEST(SplitArguments, TextWinsUnlessBlank) {
  EXPECT_EQ(SplitArguments("-CVERIFY", "-CMATCH"), Args{"-CVERIFY"});
  EXPECT_EQ(SplitArguments("   ", "-CMATCH  -FOCUS"), (Args{"-CMATCH", "-FOCUS"}));
  EXPECT_EQ(SplitArguments("", ""), Args{});
}

TEST(SplitArguments, BlanksAndLineBreaksSeparate) {
  EXPECT_EQ(SplitArguments(" a\tb  c ", ""), (Args{"a", "b", "c"}));
  // One switch per line, and a final line break: the break never joins an argument.
  EXPECT_EQ(SplitArguments("-CVERIFY\r\n-CONTROL:A17\r\n", ""), (Args{"-CVERIFY", "-CONTROL:A17"}));
  EXPECT_EQ(SplitArguments("a\nb\rc", ""), (Args{"a", "b", "c"}));
  EXPECT_EQ(SplitArguments("\"a b\"", ""), (Args{"\"a", "b\""}));  // quotes mean nothing
}

TEST(SplitArguments, AtMostTenArguments) {
  Args split = SplitArguments("1 2 3 4 5 6 7 8 9 10 -FOCUS", "");
  ASSERT_EQ(split.size(), 10u);
  EXPECT_EQ(split.back(), "10");
  EXPECT_FALSE(ParseSwitches(split).return_focus);
  EXPECT_EQ(SplitArguments("a b c", "", 2), (Args{"a", "b"}));
}

TEST(ParseSwitches, Defaults) {
  RunOptions options = ParseSwitches({});
  EXPECT_FALSE(options.verify_mode || options.identify_mode || options.verify_identify_mode ||
               options.return_focus);
  EXPECT_EQ(options.control_token, "");
  EXPECT_EQ(options.database_file, "match.bin");
  EXPECT_EQ(options.match_level, 3);
  EXPECT_EQ(options.timeout_seconds, 120);
}

TEST(ParseSwitches, FlagsMustBeWholeAndIgnoreCase) {
  RunOptions options = ParseSwitches({"-cverify", "-CMatch", "-CVERIMATCH", "-Focus"});
  EXPECT_TRUE(options.verify_mode && options.identify_mode && options.verify_identify_mode &&
              options.return_focus);
  options = ParseSwitches({"-CVERIFYX", "-CMATCH:", "CVERIMATCH", "-FOCUS2", "", "x"});
  EXPECT_FALSE(options.verify_mode || options.identify_mode || options.verify_identify_mode ||
               options.return_focus);
}

TEST(ParseSwitches, ValuesKeepTheirCaseAndLaterOnesWin) {
  RunOptions options = ParseSwitches(
      {"-control:Ab7", "-MFILE:Staff.BIN", "-LEVEL:4.5", "-TIMEOUT:60", "-TIMEOUT:abc"});
  EXPECT_EQ(options.control_token, "Ab7");
  EXPECT_EQ(options.database_file, "Staff.BIN");
  EXPECT_EQ(options.match_level, 4.5);
  EXPECT_EQ(options.timeout_seconds, 0);
  options = ParseSwitches({"-CONTROL:first", "-MFILE:", "-CONTROL:second", "-level:&H10"});
  EXPECT_EQ(options.control_token, "second");
  EXPECT_EQ(options.database_file, "");
  EXPECT_EQ(options.match_level, 16);
}

TEST(ParseSwitches, NumberTooLargeIsAnErrorNamingTheSwitch) {
  try {
    ParseSwitches({"-TIMEOUT:1e999"});
    FAIL();
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("-TIMEOUT:"), std::string::npos) << error.what();
  }
  EXPECT_THROW(ParseSwitches({"-level:" + std::string(320, '9')}), RunError);
}

}  // namespace
}  // namespace qvl
