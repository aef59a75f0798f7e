#pragma once

// Command intake: the caller's switches, from command.txt or the command line.

#include <string>
#include <string_view>
#include <vector>

namespace qvl {

struct RunOptions {
  bool verify_mode = false;                 // -CVERIFY
  bool identify_mode = false;               // -CMATCH
  bool verify_identify_mode = false;        // -CVERIMATCH
  bool return_focus = false;                // -FOCUS
  std::string control_token;                // -CONTROL:
  std::string database_file = "match.bin";  // -MFILE:, ANSI bytes
  double match_level = 3;                   // -LEVEL:
  double timeout_seconds = 120;             // -TIMEOUT:
};

// The content of command.txt in `folder` in the ANSI code page, with leading and trailing spaces
// removed, or empty when the file is missing or empty. UTF-8 with a byte-order mark is converted.
// An unreadable file, UTF-16, or a character the code page cannot spell is a RunError.
std::string ReadCommandText(const std::string& folder);

// Splits the command text into at most `max_args` arguments. When the text holds nothing but
// separators the command-line tail is split instead. Space, tab, CR and LF separate arguments, so a
// command.txt written one switch per line works; double quotes group and backslashes escape them
// as on a Windows command line.
std::vector<std::string> SplitArguments(std::string_view text, std::string_view command_line_tail,
                                        std::size_t max_args = 10);

// Applies every switch in order; later values override earlier ones, unknown arguments are
// ignored. A number too large to read is a RunError naming its switch.
RunOptions ParseSwitches(const std::vector<std::string>& arguments);

}  // namespace qvl
