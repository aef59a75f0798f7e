#include "run/command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/error.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

using Args = std::vector<std::string>;

TEST(SplitArguments, SeparatorsQuotesAndTheCommandLine) {
  const std::tuple<const char*, const char*, Args> cases[] = {
      {"-CVERIFY", "-CMATCH", {"-CVERIFY"}},  // the text wins
      {"   ", "-CMATCH  -FOCUS", {"-CMATCH", "-FOCUS"}},
      {"\r\n", "-CMATCH", {"-CMATCH"}},  // separators alone are blank
      {"", "", {}},
      {" a\tb  c ", "", {"a", "b", "c"}},
      {"-CVERIFY\r\n-CONTROL:A17\r\n", "", {"-CVERIFY", "-CONTROL:A17"}},
      {R"("-CVERIMATCH" "-MFILE:sub\staff.bin" "-CONTROL:a b")",
       "",
       {"-CVERIMATCH", "-MFILE:sub\\staff.bin", "-CONTROL:a b"}},
      {R"(-MFILE:"my db.bin" "" a\\\"b c\\"d e" f\)",
       "",
       {"-MFILE:my db.bin", "", "a\\\"b", "c\\d e", "f\\"}},
      {R"("-CONTROL:say ""hi""" x)", "", {"-CONTROL:say \"hi\"", "x"}},
      {"1 2 3 4 5 6 7 8 9 10 -FOCUS", "", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}}};
  for (const auto& [text, tail, arguments] : cases)
    EXPECT_EQ(SplitArguments(CommandSource(text, tail)), arguments) << text;
}

TEST(ParseSwitches, FlagsWholeValuesByPrefixLaterWins) {
  RunOptions options = ParseSwitches(
      {"-cverify", "-CMatch", "-CVERIMATCH", "-Focus", "-control:Ab7", "-MFILE:Staff.BIN",
       "-LEVEL:4.5", "-TIMEOUT:60", "-TIMEOUT:abc", "-quiet", "-workdir: runs\\a "});
  EXPECT_TRUE(options.verify_mode && options.identify_mode && options.verify_identify_mode &&
              options.return_focus && options.quiet);
  EXPECT_EQ(options.work_folder, "runs\\a");
  EXPECT_EQ(options.control_token, "Ab7");
  EXPECT_EQ(options.database_file, "Staff.BIN");
  EXPECT_EQ(options.match_level, 4.5);
  EXPECT_EQ(options.timeout_seconds, 0);
  options = ParseSwitches({"-CVERIFYX", "-CMATCH:", "CVERIMATCH", "-FOCUS2", "-MFILE:"});
  EXPECT_FALSE(options.verify_mode || options.identify_mode || options.verify_identify_mode ||
               options.return_focus);
  EXPECT_EQ(options.database_file, "");
  EXPECT_TRUE(options.match_level == 3 && options.timeout_seconds == 120);  // the defaults
  EXPECT_FALSE(options.work_folder || options.quiet);
  EXPECT_THROW(ParseSwitches({"-level:" + std::string(320, '9')}), RunError);
  EXPECT_THROW(ParseSwitches({"-LEVEL:high"}), RunError);  // 0 would be the loosest match
  // The first mistake is the one reported; what follows it is still read.
  std::string mistake;
  options = ParseSwitches({"-LEVEL:high", "-QUIET", "-TIMEOUT:1e999"}, &mistake);
  EXPECT_NE(mistake.find("-LEVEL:high"), std::string::npos) << mistake;
  EXPECT_TRUE(options.quiet);
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);  // "" removes it
#else
  *value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// What the command line and command.txt make of each other: %NAME% set or not, and -QUIET
// written only in the file still makes a mistyped switch a mistake.
TEST(TakeCommand, EnvironmentNamesAndQuietFromTheFile) {
  ScopedTempDir dir;
  std::filesystem::create_directory(dir.File("%QVL_NOT_SET%"));
  std::filesystem::create_directory(dir.File("set"));
  SetVariable("QVL_SET_HERE", "set");
  const struct {
    std::string line, file, folder, mistake;
  } cases[] = {
      {"-WORKDIR:" + dir.File("%QVL_NOT_SET%"), "", dir.File("%QVL_NOT_SET%"), ""},
      {"-WORKDIR:" + dir.File("%QVL_SET_HERE%"), "", dir.File("set"), ""},
      {"", "-QUIET -QIUET", dir.path(), "-QIUET"},
      {"", "-QIUET", dir.path(), ""},  // seen by a person, who sees it did nothing
  };
  for (const auto& c : cases) {
    dir.Write("command.txt", c.file);
    Command command = TakeCommand(dir.path(), c.line);
    EXPECT_EQ(command.folder, c.folder) << c.line << c.file << ": " << command.mistake;
    EXPECT_TRUE(command.mistake.find(c.mistake) != std::string::npos &&
                c.mistake.empty() == command.mistake.empty())
        << c.line << c.file << ": " << command.mistake;
  }
  SetVariable("QVL_SET_HERE", "");
}

}  // namespace
}  // namespace qvl
