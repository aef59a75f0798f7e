#pragma once

// Command intake: the caller's switches, from command.txt or the command line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvl {

// How command.txt was written, and so how result.txt is.
enum class TextEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

struct RunOptions {
  bool verify_mode = false;                 // -CVERIFY
  bool identify_mode = false;               // -CMATCH
  bool verify_identify_mode = false;        // -CVERIMATCH
  bool return_focus = false;                // -FOCUS
  std::string control_token;                // -CONTROL:
  std::string database_file = "match.bin";  // -MFILE:, ANSI bytes; UTF-8 from TakeCommand
  double match_level = 3;                   // -LEVEL:
  double timeout_seconds = 120;             // -TIMEOUT:
  std::optional<std::string> work_folder;   // -WORKDIR:, as -MFILE:; none: the program's
  bool quiet = false;                       // -QUIET: no box waits for a person
  TextEncoding answer_encoding{};           // result.txt's: command.txt's own
  std::string unknown_argument;             // the first argument that is no switch
  std::string past_the_limit;               // the first argument past kMostArguments
};

// The original reads ten arguments and ignores the rest.
inline constexpr std::size_t kMostArguments = 10;

// The content of command.txt in `folder`, with leading and trailing spaces and trailing zero
// bytes (a fixed-size buffer written whole) removed, or empty when the file is missing or empty:
// in the ANSI code page as written, or as UTF-8 where the file is UTF-8 (with a byte-order mark or
// without: valid UTF-8 with a byte over 127, which Russian ANSI text practically never is) or
// UTF-16 with a byte-order mark. `encoding`, where given, gets the file's own encoding. An
// unreadable file, UTF-16 without a mark or with a lone surrogate is a RunError.
std::string ReadCommandText(const std::string& folder, TextEncoding* encoding = nullptr);

// The text of result.txt in the encoding of the command.txt it answers: as it is for ANSI and
// UTF-8 (the token's bytes as the caller wrote them), and for UTF-16 the whole text, UTF-8 here,
// in that byte order with its mark, so that every reader decodes both lines alike.
std::string ResultText(const std::string& text, TextEncoding encoding);

// The text to split: command.txt's, unless it holds nothing but separators; then the command-line
// tail.
std::string_view CommandSource(std::string_view command_text, std::string_view command_line_tail);

// Splits the command into at most `max_args` arguments (TakeCommand asks for all of them).
// Space, tab, CR and LF separate them, so a command.txt written one switch per line works;
// double quotes group, "" inside quotes is a quote, and backslashes escape quotes, as the C
// runtime splits a Windows command line.
std::vector<std::string> SplitArguments(std::string_view source,
                                        std::size_t max_args = kMostArguments);

// Applies every switch in order; later values override earlier ones; the first argument that
// is no switch is kept in unknown_argument (ignored, but under -QUIET a mistake: see
// TakeCommand). A number too large to read, or a -LEVEL: that is no number, is a mistake naming its
// switch: a RunError, or, given `mistake`, the first one said there while every other switch is
// still read.
RunOptions ParseSwitches(const std::vector<std::string>& arguments, std::string* mistake = nullptr);

// The folder of the run's files: -WORKDIR: (a UTF-8 path, full or relative to the program's
// folder), else
// the program's folder. A blank one, one relative to the caller's own drive or root (C:x, \x),
// one that does not exist and one that is a file are RunErrors.
std::string WorkingFolder(const std::string& program_folder, const RunOptions& options);

// The caller's request, and what is wrong with it. Whatever is wrong, every switch that could be
// read holds, -QUIET and -WORKDIR: above all: the mistake is reported under the run's own folder.
struct Command {
  RunOptions options;
  std::string folder;   // the working folder; empty when -WORKDIR: itself is the mistake
  std::string mistake;  // the first mistake, or empty
};

// The command line, or command.txt where it holds anything: the one in the working folder when
// the command line names one with -WORKDIR: (which then holds whatever the file says), else the
// one in the program's folder. -QUIET and -WORKDIR: on the command line hold whatever the file
// says: only the caller that started the program knows how the run is hosted. Under -QUIET an
// argument that is no switch (a mistyped -QIUET), or one past the tenth, is a mistake: nobody
// would see what it did (a -QUIET past the tenth still counts, so that no box waits). Path
// values (-WORKDIR:, -MFILE:) come as UTF-8: from `unicode_tail` (the command line in full, any
// alphabet) where the command line gives them, or from a UTF-8 or UTF-16 command.txt, with
// %NAME% replaced by the environment's value where NAME is set, as in a shortcut.
Command TakeCommand(const std::string& program_folder, const std::string& command_line_tail,
                    const std::optional<std::string>& unicode_tail = std::nullopt);

}  // namespace qvl
