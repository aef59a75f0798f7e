#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvl {

// Reads the number at the start of `text` the way the caller's switches have always been read:
// an optional sign, digits with an optional full stop, an optional exponent (E, optionally
// signed integer), blanks (space, tab, line feed) skipped anywhere inside, and &H / &O for a
// hexadecimal or octal integer. Reading stops at the first character that cannot continue the
// number; text that does not begin with one reads as 0. nullopt when the number is too large
// for a double.
std::optional<double> ReadLeadingNumber(std::string_view text);

// Whether `text` begins with a number that ReadLeadingNumber reads: "high" does not, "-.5" does.
bool BeginsWithNumber(std::string_view text);

// Rounds to the nearest integer, an exact half to the even neighbour, and checks that the
// result fits 16 bits; otherwise a RunError naming `what` and the value.
std::int16_t ToInt16(double value, std::string_view what);

// The shortest plain text of a number: 120, -1, 4.5.
std::string NumberText(double value);

}  // namespace qvl
