#include "run/command.h"

#include <algorithm>
#include <optional>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/numbers.h"
#include "base/os.h"

namespace qvl {
namespace {

std::string_view TrimSpaces(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Upper-cases ASCII only: every switch is ASCII, and bytes of the ANSI code page must not be
// touched in values.
std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

double SwitchNumber(std::string_view name, std::string_view value) {
  std::optional<double> number = ReadLeadingNumber(TrimSpaces(value));
  if (!number) throw RunError(Say(Message::kNumberOverflows, {{"switch", name}}));
  return *number;
}

}  // namespace

std::string ReadCommandText(const std::string& folder) {
  std::string path = JoinPath(folder, "command.txt");
  std::optional<std::uint64_t> length = RegularFileLength(path);
  if (!length || *length == 0) return {};
  std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // Windows PowerShell 5.1 writes UTF-16 with `>` and Out-File: every switch would go unseen.
  bool utf16 =
      text.size() >= 2 && (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF" ||
                           (text[0] != '\0') != (text[1] != '\0'));
  if (utf16) {
    throw RunError(Say(Message::kUtf16Command, {{"path", path}}));
  }
  // Notepad's UTF-8 mark: the rest is UTF-8, and the run works in the ANSI code page, as the
  // command line comes and result.txt goes.
  if (text.substr(0, 3) != "\xEF\xBB\xBF") return std::string(TrimSpaces(text));
  std::optional<std::string> ansi = Utf8ToAnsi(text.substr(3));
  if (!ansi) {
    throw RunError(Say(Message::kUnspellableCommand, {{"path", path}}));
  }
  return std::string(TrimSpaces(*ansi));
}

std::vector<std::string> SplitArguments(std::string_view text, std::string_view command_line_tail,
                                        std::size_t max_args) {
  // A text of separators alone (`echo.>command.txt` writes just a line break) holds no argument.
  bool blank = std::all_of(text.begin(), text.end(), IsSeparator);
  std::string_view source = blank ? command_line_tail : text;
  // Quoted as Windows programs quote (the C runtime, CommandLineToArgvW): a double quote groups
  // blanks into an argument and is removed; backslashes are literal unless a quote follows them.
  std::vector<std::string> arguments;
  bool in_argument = false, quoted = false;
  for (std::size_t i = 0; i < source.size(); ++i) {
    char c = source[i];
    if (!quoted && IsSeparator(c)) {
      in_argument = false;
      continue;
    }
    if (!in_argument) {
      if (arguments.size() == max_args) break;
      arguments.emplace_back();
      in_argument = true;
    }
    std::string& argument = arguments.back();
    if (c == '\\') {
      std::size_t end = std::min(source.find_first_not_of('\\', i), source.size());
      bool before_quote = end < source.size() && source[end] == '"';
      std::size_t count = end - i;
      // 2n backslashes and a quote: n of them, and the quote groups; 2n+1: n and a quote.
      argument.append(before_quote ? count / 2 : count, '\\');
      if (before_quote && count % 2 == 1) argument += '"';
      i = before_quote && count % 2 == 1 ? end : end - 1;
    } else if (c == '"') {
      quoted = !quoted;
    } else {
      argument += c;
    }
  }
  return arguments;
}

RunOptions ParseSwitches(const std::vector<std::string>& arguments) {
  RunOptions options;
  for (const std::string& argument : arguments) {
    std::string upper = AsciiUpper(argument);
    auto value_of = [&](std::string_view prefix) -> std::optional<std::string_view> {
      if (upper.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
      return std::string_view(argument).substr(prefix.size());
    };
    if (upper == "-CVERIFY") options.verify_mode = true;
    if (upper == "-CMATCH") options.identify_mode = true;
    if (upper == "-CVERIMATCH") options.verify_identify_mode = true;
    if (auto value = value_of("-CONTROL:")) options.control_token = TrimSpaces(*value);
    if (auto value = value_of("-MFILE:")) options.database_file = TrimSpaces(*value);
    if (auto value = value_of("-LEVEL:")) options.match_level = SwitchNumber("-LEVEL:", *value);
    if (auto value = value_of("-TIMEOUT:"))
      options.timeout_seconds = SwitchNumber("-TIMEOUT:", *value);
    if (upper == "-FOCUS") options.return_focus = true;
  }
  return options;
}

}  // namespace qvl
