#include "run/command.h"

#include <algorithm>
#include <cstdint>
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

// UTF-16 text (after its mark) as UTF-8; nullopt for an odd length or a lone surrogate.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  auto unit = [&](std::size_t i) -> std::uint32_t {
    auto high = static_cast<unsigned char>(bytes[i + (big_endian ? 0 : 1)]);
    auto low = static_cast<unsigned char>(bytes[i + (big_endian ? 1 : 0)]);
    return std::uint32_t{high} << 8 | low;
  };
  std::string utf8;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t code = unit(i);
    if (code >= 0xDC00 && code < 0xE000) return std::nullopt;
    if (code >= 0xD800 && code < 0xDC00) {
      if (i + 2 >= bytes.size() || unit(i + 2) < 0xDC00 || unit(i + 2) >= 0xE000)
        return std::nullopt;
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    }
    int more = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    utf8 += static_cast<char>(kLead[more] | (code >> (6 * more)));
    for (int k = more - 1; k >= 0; --k)
      utf8 += static_cast<char>(0x80 | ((code >> (6 * k)) & 0x3F));
  }
  return utf8;
}

double SwitchNumber(std::string_view name, std::string_view value) {
  std::optional<double> number = ReadLeadingNumber(TrimSpaces(value));
  if (!number) throw RunError(Say(Message::kNumberOverflows, {{"switch", name}}));
  return *number;
}

}  // namespace

std::string ReadCommandText(const std::string& folder, TextEncoding* encoding) {
  TextEncoding ignored;
  if (!encoding) encoding = &ignored;
  *encoding = TextEncoding::kAnsi;
  std::string path = JoinPath(folder, "command.txt");
  std::optional<std::uint64_t> length = RegularFileLength(path);
  if (!length || *length == 0) return {};
  std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // Windows PowerShell 5.1 writes UTF-16 with a mark with `>` and Out-File. Without a mark there
  // is no telling the byte order: every switch would go unseen.
  bool little = text.substr(0, 2) == "\xFF\xFE", big = text.substr(0, 2) == "\xFE\xFF";
  std::optional<std::string> decoded;
  if (little || big) {
    *encoding = big ? TextEncoding::kUtf16Be : TextEncoding::kUtf16Le;
    decoded = Utf16ToUtf8(text.substr(2), big);
    if (!decoded) throw RunError(Say(Message::kUnspellableCommand, {{"path", path}}));
    text = *decoded;
  }
  // A Delphi or VB fixed string, or fwrite of a whole buffer: zeros after the text.
  text = text.substr(0, text.find_last_not_of('\0') + 1);
  if (!decoded && text.size() >= 2 && (text[0] != '\0') != (text[1] != '\0'))
    throw RunError(Say(Message::kUtf16Command, {{"path", path}}));
  // Notepad's UTF-8, with its mark or (since Windows 10 1903) without: kept as UTF-8, so that a
  // path in any alphabet reaches the file system as written.
  bool marked = text.substr(0, 3) == "\xEF\xBB\xBF";
  if (marked) text.remove_prefix(3);
  if (!decoded && (marked || IsUtf8BeyondAscii(text))) *encoding = TextEncoding::kUtf8;
  return std::string(TrimSpaces(text));
}

std::string ResultText(const std::string& text, TextEncoding encoding) {
  if (encoding != TextEncoding::kUtf16Le && encoding != TextEncoding::kUtf16Be) return text;
  bool big = encoding == TextEncoding::kUtf16Be;
  std::string utf16;
  auto unit = [&](std::uint32_t value) {
    char high = static_cast<char>(value >> 8), low = static_cast<char>(value & 0xFF);
    utf16 += big ? high : low;
    utf16 += big ? low : high;
  };
  unit(0xFEFF);
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    int more = byte < 0x80 ? 0 : byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
    std::uint32_t code = more == 0 ? byte : byte & (0x3F >> more);
    for (int k = 1; k <= more && i + k < text.size(); ++k)
      code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += more + 1;
    if (code < 0x10000) {
      unit(code);
    } else {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return utf16;
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

namespace {

// False for an argument that is no switch at all.
bool ApplySwitch(const std::string& argument, RunOptions& options) {
  std::string upper = AsciiUpper(argument);
  auto value_of = [&](std::string_view prefix) -> std::optional<std::string_view> {
    if (upper.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return std::string_view(argument).substr(prefix.size());
  };
  bool* flag = upper == "-CVERIFY"      ? &options.verify_mode
               : upper == "-CMATCH"     ? &options.identify_mode
               : upper == "-CVERIMATCH" ? &options.verify_identify_mode
               : upper == "-FOCUS"      ? &options.return_focus
               : upper == "-QUIET"      ? &options.quiet
                                        : nullptr;
  if (flag) {
    *flag = true;
  } else if (auto value = value_of("-CONTROL:")) {
    options.control_token = TrimSpaces(*value);
  } else if (auto value = value_of("-MFILE:")) {
    options.database_file = TrimSpaces(*value);
  } else if (auto value = value_of("-LEVEL:")) {
    // Read as 0 it would be the loosest match of all: a person could pass as someone else.
    if (!BeginsWithNumber(*value)) {
      throw RunError(Say(Message::kLevelNotANumber, {{"value", TrimSpaces(*value)}}));
    }
    options.match_level = SwitchNumber("-LEVEL:", *value);
  } else if (auto value = value_of("-TIMEOUT:")) {
    options.timeout_seconds = SwitchNumber("-TIMEOUT:", *value);
  } else if (auto value = value_of("-WORKDIR:")) {
    options.work_folder = std::string(TrimSpaces(*value));
  } else {
    return false;
  }
  return true;
}

}  // namespace

RunOptions ParseSwitches(const std::vector<std::string>& arguments, std::string* mistake) {
  RunOptions options;
  for (const std::string& argument : arguments) {
    try {
      if (!ApplySwitch(argument, options) && options.unknown_argument.empty())
        options.unknown_argument = argument.empty() ? "\"\"" : argument;
    } catch (const RunError& error) {
      if (!mistake) throw;
      if (mistake->empty()) *mistake = error.what();
    }
  }
  return options;
}

std::string WorkingFolder(const std::string& program_folder, const RunOptions& options) {
  if (!options.work_folder) return program_folder;
  if (options.work_folder->empty()) throw RunError(Say(Message::kBlankWorkFolder));
  std::string path = *options.work_folder;
  PathKind kind = KindOfPath(path);
  // Windows would resolve these against the caller's own current drive or folder.
  if (kind == PathKind::kAnchored)
    throw RunError(
        Say(Message::kAnchoredWorkFolder, {{"value", path}, {"folder", program_folder}}));
  if (kind == PathKind::kRelative) path = JoinPath(program_folder, path);
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (RegularFileLength(path)) throw RunError(Say(Message::kWorkFolderIsFile, {{"path", path}}));
  if (!IsFolder(path)) throw RunError(Say(Message::kNoWorkFolder, {{"path", path}}));
  return path;
}

namespace {

// %NAME% replaced by the environment's value where NAME is set, as a shortcut's target is;
// anything else between percent signs stays as written.
std::string ExpandEnvironment(const std::string& path) {
  std::string expanded;
  std::size_t at = 0;
  for (std::size_t open; (open = path.find('%', at)) != std::string::npos;) {
    std::size_t close = path.find('%', open + 1);
    if (close == std::string::npos) break;
    std::optional<std::string> value =
        close > open + 1 ? EnvironmentValue(path.substr(open + 1, close - open - 1)) : std::nullopt;
    expanded.append(path, at, open - at);
    expanded += value ? *value : path.substr(open, close - open);
    at = value ? close + 1 : close;
  }
  return expanded + path.substr(at);
}

// Every argument, switches read from the first kMostArguments: the rest is ignored, as the
// original did, but a -QUIET among them still holds, so that no box waits for nobody, and the
// first of them is kept to be named.
RunOptions ParseArguments(std::string_view source, std::string* mistake) {
  std::vector<std::string> arguments = SplitArguments(source, SIZE_MAX);
  std::vector<std::string> rest;
  if (arguments.size() > kMostArguments) {
    rest.assign(arguments.begin() + kMostArguments, arguments.end());
    arguments.resize(kMostArguments);
  }
  RunOptions options = ParseSwitches(arguments, mistake);
  for (const std::string& argument : rest)
    options.quiet = options.quiet || AsciiUpper(argument) == "-QUIET";
  if (!rest.empty()) options.past_the_limit = rest.front();
  return options;
}

// Under -QUIET what nobody would see has no effect is a mistake: an argument that is no switch,
// or one past the limit.
std::string QuietMistake(const RunOptions& options) {
  if (!options.quiet) return "";
  if (!options.unknown_argument.empty())
    return Say(Message::kUnknownArgument, {{"argument", options.unknown_argument}});
  if (!options.past_the_limit.empty())
    return Say(Message::kPastTheLimit, {{"argument", options.past_the_limit}});
  return "";
}

// The path values as UTF-8: converted from the ANSI text they were read from, or taken from the
// full command line or a Unicode command.txt.
void TakePaths(RunOptions& options, const std::optional<RunOptions>& unicode) {
  if (options.work_folder)
    options.work_folder = ExpandEnvironment(unicode ? *unicode->work_folder
                                                    : AnsiToPath(*options.work_folder));
  options.database_file =
      ExpandEnvironment(unicode ? unicode->database_file : AnsiToPath(options.database_file));
}

}  // namespace

Command TakeCommand(const std::string& program_folder, const std::string& command_line_tail,
                    const std::optional<std::string>& unicode_tail) {
  Command command;
  RunOptions line = ParseArguments(command_line_tail, &command.mistake);
  std::optional<RunOptions> unicode;
  if (unicode_tail) {
    std::string ignored;  // the same mistakes as the ANSI text's
    unicode = ParseArguments(*unicode_tail, &ignored);
    if (static_cast<bool>(unicode->work_folder) != static_cast<bool>(line.work_folder))
      unicode.reset();  // split otherwise: the ANSI text's own values, converted
  }
  TakePaths(line, unicode);
  command.options = line;
  // A -WORKDIR: on the command line makes the working folder's command.txt the one that counts:
  // one left in the shared program folder must never speak for this caller.
  std::string command_folder = program_folder;
  try {
    command.folder = WorkingFolder(program_folder, line);
    command_folder = command.folder;
  } catch (const RunError& error) {
    if (line.work_folder) {
      command.mistake = error.what();
      return command;
    }
  }
  std::string text;
  TextEncoding encoding = TextEncoding::kAnsi;
  try {
    text = ReadCommandText(command_folder, &encoding);
  } catch (const RunError& error) {
    // Nothing of the file can be read: the command line's switches are all there is.
    command.mistake = error.what();
    command.folder = command_folder;
    return command;
  }
  if (CommandSource(text, "").empty()) {
    command.folder = command_folder;
    if (command.mistake.empty()) command.mistake = QuietMistake(line);
    return command;
  }
  std::string mistake;
  command.options = ParseArguments(text, &mistake);
  // UTF-8 and UTF-16 text is read as UTF-8: its paths are already the characters written.
  bool unicode_text = encoding != TextEncoding::kAnsi;
  TakePaths(command.options,
            unicode_text ? std::optional<RunOptions>(command.options) : std::nullopt);
  command.options.quiet = command.options.quiet || line.quiet;
  // The token byte for byte as the caller wrote it, and result.txt in its command.txt's encoding.
  command.options.answer_encoding = encoding;
  if (mistake.empty()) mistake = QuietMistake(command.options);
  if (line.work_folder) {
    command.options.work_folder = line.work_folder;
    command.folder = command_folder;
  } else {
    try {
      command.folder = WorkingFolder(program_folder, command.options);
    } catch (const RunError& error) {
      command.folder.clear();
      if (mistake.empty()) mistake = error.what();
    }
  }
  std::string path = JoinPath(command_folder, "command.txt");
  command.mistake =
      mistake.empty() ? "" : Say(Message::kInCommandFile, {{"message", mistake}, {"path", path}});
  return command;
}

}  // namespace qvl
