#include "base/numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/error.h"
#include "base/messages.h"

namespace qvl {
namespace {

// Walks the text one character at a time, stepping over the blanks a number may contain.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) { SkipBlanks(); }
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void Next() {
    ++pos_;
    SkipBlanks();
  }
  bool Take(char lower) {
    char c = Peek();
    if (c != lower && c != lower - 'a' + 'A') return false;
    Next();
    return true;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n'))
      ++pos_;
  }
  std::string_view text_;
  std::size_t pos_ = 0;
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

std::optional<double> ReadRadixInteger(Cursor& cursor, int radix) {
  double value = 0;
  for (int d; (d = DigitValue(cursor.Peek())) < radix; cursor.Next()) value = value * radix + d;
  if (std::isinf(value)) return std::nullopt;
  return value;
}

std::string TakeDigits(Cursor& cursor) {
  std::string digits;
  for (; cursor.Peek() >= '0' && cursor.Peek() <= '9'; cursor.Next()) digits += cursor.Peek();
  return digits;
}

}  // namespace

std::optional<double> ReadLeadingNumber(std::string_view text) {
  Cursor cursor(text);
  if (cursor.Peek() == '&') {
    cursor.Next();
    if (cursor.Take('h')) return ReadRadixInteger(cursor, 16);
    if (cursor.Take('o')) return ReadRadixInteger(cursor, 8);
    return 0.0;
  }
  // Gather the number's characters without blanks, then let strtod do the rounding. The text
  // handed to strtod holds only digits, '.', 'e' and '-', so the C locale's full stop is all
  // it needs (the program never changes the locale).
  std::string number;
  if (cursor.Peek() == '-' || cursor.Peek() == '+') {
    if (cursor.Peek() == '-') number += '-';
    cursor.Next();
  }
  std::string whole = TakeDigits(cursor);
  std::string fraction;
  if (cursor.Peek() == '.') {
    cursor.Next();
    fraction = TakeDigits(cursor);
  }
  if (whole.empty() && fraction.empty()) return 0.0;
  number += whole + "." + fraction;
  if (cursor.Take('e')) {
    std::string sign;
    if (cursor.Peek() == '-' || cursor.Peek() == '+') {
      sign = cursor.Peek();
      cursor.Next();
    }
    std::string exponent = TakeDigits(cursor);
    if (!exponent.empty()) number += "e" + sign + exponent;
  }
  double value = std::strtod(number.c_str(), nullptr);
  if (std::isinf(value)) return std::nullopt;
  return value;  // an underflow reads as 0 or the nearest tiny value, as it should
}

bool BeginsWithNumber(std::string_view text) {
  Cursor cursor(text);
  if (cursor.Peek() == '&') {
    cursor.Next();
    if (cursor.Take('h')) return DigitValue(cursor.Peek()) < 16;
    return cursor.Take('o') && DigitValue(cursor.Peek()) < 8;
  }
  if (cursor.Peek() == '-' || cursor.Peek() == '+') cursor.Next();
  if (cursor.Peek() == '.') cursor.Next();
  return cursor.Peek() >= '0' && cursor.Peek() <= '9';
}

std::int16_t ToInt16(double value, std::string_view what) {
  double rounded = std::nearbyint(value);  // the default rounding mode sends halves to even
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) {
    throw RunError(Say(Message::kOutOfRange, {{"quantity", what}, {"value", NumberText(value)}}));
  }
  return static_cast<std::int16_t>(rounded);
}

std::string NumberText(double value) {
  if (value == 0) return "0";  // no "-0"
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  std::string result = text;
  for (char& c : result) {
    if (c == 'e') c = 'E';
  }
  return result;
}

}  // namespace qvl
