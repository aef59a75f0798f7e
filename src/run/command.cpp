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

// Valid UTF-8 that holds a byte over 127: text in the ANSI code page practically never is.
bool IsUtf8BeyondAscii(std::string_view text) {
  bool beyond = false;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    constexpr std::size_t kInvalid = 9;
    std::size_t more = lead < 0x80   ? 0
                       : lead < 0xC2 ? kInvalid
                       : lead < 0xE0 ? 1
                       : lead < 0xF0 ? 2
                       : lead < 0xF5 ? 3
                                     : kInvalid;
    if (more == kInvalid || text.size() - i <= more) return false;
    std::uint32_t code = lead & (0x7F >> more);
    for (std::size_t k = 1; k <= more; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    const std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[more] || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return false;
    beyond = beyond || more > 0;
    i += more + 1;
  }
  return beyond;
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
  // A Delphi or VB fixed string, or fwrite of a whole buffer: zeros after the text.
  text = text.substr(0, text.find_last_not_of('\0') + 1);
  // Windows PowerShell 5.1 writes UTF-16 with `>` and Out-File: every switch would go unseen.
  bool utf16 =
      text.size() >= 2 && (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF" ||
                           (text[0] != '\0') != (text[1] != '\0'));
  if (utf16) {
    throw RunError(Say(Message::kUtf16Command, {{"path", path}}));
  }
  // Notepad's UTF-8, with its mark or (since Windows 10 1903) without: the run works in the ANSI
  // code page, as the command line comes and result.txt goes.
  bool marked = text.substr(0, 3) == "\xEF\xBB\xBF";
  if (marked) text.remove_prefix(3);
  if (!marked && !IsUtf8BeyondAscii(text)) return std::string(TrimSpaces(text));
  std::optional<std::string> ansi = Utf8ToAnsi(text);
  if (!ansi) {
    throw RunError(Say(Message::kUnspellableCommand, {{"path", path}}));
  }
  return std::string(TrimSpaces(*ansi));
}

std::string_view CommandSource(std::string_view command_text, std::string_view command_line_tail) {
  // A text of separators alone (`echo.>command.txt` writes just a line break) holds no argument.
  bool blank = std::all_of(command_text.begin(), command_text.end(), IsSeparator);
  return blank ? command_line_tail : command_text;
}

std::vector<std::string> SplitArguments(std::string_view source, std::size_t max_args) {
  // As the C runtime splits (CommandLineToArgvW too): backslashes count until the next character;
  // before a quote, each pair is one backslash and an odd one makes the quote literal.
  std::vector<std::string> arguments;
  bool in_argument = false, quoted = false;
  std::size_t backslashes = 0;
  auto flush = [&] {
    if (backslashes > 0) arguments.back().append(backslashes, '\\');
    backslashes = 0;
  };
  for (std::size_t i = 0; i < source.size(); ++i) {
    char c = source[i];
    if (!quoted && IsSeparator(c)) {
      flush();
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
      ++backslashes;
    } else if (c == '"') {
      argument.append(backslashes / 2, '\\');
      bool escaped = backslashes % 2 == 1;
      backslashes = 0;
      if (escaped) {
        argument += '"';
      } else if (quoted && i + 1 < source.size() && source[i + 1] == '"') {
        argument += '"';  // "" inside quotes
        ++i;
      } else {
        quoted = !quoted;
      }
    } else {
      flush();
      argument += c;
    }
  }
  flush();
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
    if (auto value = value_of("-LEVEL:")) {
      // Read as 0 it would be the loosest match of all: a person could pass as someone else.
      if (!BeginsWithNumber(*value)) {
        throw RunError(Say(Message::kLevelNotANumber, {{"value", TrimSpaces(*value)}}));
      }
      options.match_level = SwitchNumber("-LEVEL:", *value);
    }
    if (auto value = value_of("-TIMEOUT:"))
      options.timeout_seconds = SwitchNumber("-TIMEOUT:", *value);
    if (upper == "-FOCUS") options.return_focus = true;
    if (auto value = value_of("-WORKDIR:")) options.work_folder = TrimSpaces(*value);
    if (upper == "-QUIET") options.quiet = true;
  }
  return options;
}

RunOptions TakeCommand(const std::string& program_folder, const std::string& command_line_tail) {
  std::string text = ReadCommandText(program_folder);
  return ParseSwitches(SplitArguments(CommandSource(text, command_line_tail)));
}

}  // namespace qvl
