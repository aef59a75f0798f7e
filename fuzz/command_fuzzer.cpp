// Fuzzes the command intake: splitting, switches and numbers, from command.txt and from the
// command line alike. Besides crashes and sanitizer findings it checks what callers rely on.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/error.h"
#include "base/numbers.h"
#include "run/command.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& arguments : {qvl::SplitArguments(qvl::CommandSource(text, "")),
                                qvl::SplitArguments(qvl::CommandSource("", text))}) {
    Check(arguments.size() <= 10);
    try {
      qvl::RunOptions options = qvl::ParseSwitches(arguments);
      const std::string& token = options.control_token;
      Check(token.empty() || (token.front() != ' ' && token.back() != ' '));
      qvl::NumberText(options.timeout_seconds);
      qvl::ToInt16(options.match_level, "level");
    } catch (const qvl::RunError&) {
      // A number too large, or a level outside 16 bits: a clear error, as wanted.
    }
  }
  std::optional<double> number = qvl::ReadLeadingNumber(text);
  if (number) qvl::NumberText(*number);
  Check(qvl::BeginsWithNumber(text) || number == 0.0);  // what is refused as no number reads as 0
  return 0;
}
