#pragma once

// Windows command lines: one function for every place that builds one, so that what the
// program's own intake splits and what the bridge starts it with agree.

#include <string>

namespace qvl {

// `argument` as a Windows command line spells it, so that the C runtime (and CommandLineToArgvW)
// splits it back into the same one: quoted where it has a blank, a quote or nothing at all;
// backslashes doubled only before a quote, the closing one included. UTF-8 in, UTF-8 out.
inline std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\r\n\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '"') quoted.append(backslashes + 1, '\\');
    backslashes = c == '\\' ? backslashes + 1 : 0;
    quoted += c;
  }
  return quoted.append(backslashes, '\\') + '"';
}

}  // namespace qvl
