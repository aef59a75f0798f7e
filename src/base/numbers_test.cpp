#include "base/numbers.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace qvl {
namespace {

double Read(const char* text) { return ReadLeadingNumber(text).value(); }

TEST(ReadLeadingNumber, ReadsAsFarAsTheNumberGoes) {
  EXPECT_EQ(Read("60"), 60);
  EXPECT_EQ(Read("4.5"), 4.5);
  EXPECT_EQ(Read("-7"), -7);
  EXPECT_EQ(Read("+7"), 7);
  EXPECT_EQ(Read(".5"), 0.5);
  EXPECT_EQ(Read("12abc"), 12);
  EXPECT_EQ(Read("3.2.1"), 3.2);
  EXPECT_EQ(Read("1,5"), 1);  // the decimal point is a full stop whatever the locale
}

TEST(ReadLeadingNumber, NoNumberReadsAsZero) {
  EXPECT_EQ(Read(""), 0);
  EXPECT_EQ(Read("abc"), 0);
  EXPECT_EQ(Read("-"), 0);
  EXPECT_EQ(Read("."), 0);
  EXPECT_EQ(Read("e5"), 0);
}

TEST(ReadLeadingNumber, Exponent) {
  EXPECT_EQ(Read("1E3"), 1000);
  EXPECT_EQ(Read("2.5e-1"), 0.25);
  EXPECT_EQ(Read("1E+2x"), 100);
  EXPECT_EQ(Read("7E"), 7);  // an exponent without digits is not part of the number
  EXPECT_EQ(Read("1e-400"), 0);
}

TEST(ReadLeadingNumber, SkipsBlanksInsideTheNumber) {
  EXPECT_EQ(Read("  1 2\t3"), 123);
  EXPECT_EQ(Read("- 4\n.5"), -4.5);
  EXPECT_EQ(Read("1\r2"), 1);  // CR is not a blank
}

TEST(ReadLeadingNumber, HexAndOctal) {
  EXPECT_EQ(Read("&H1F"), 31);
  EXPECT_EQ(Read("&hff"), 255);
  EXPECT_EQ(Read("&O17"), 15);
  EXPECT_EQ(Read("&O19"), 1);
  EXPECT_EQ(Read("&X1"), 0);
  EXPECT_EQ(Read("&H"), 0);
}

TEST(ReadLeadingNumber, TooLargeForADoubleIsNoNumber) {
  EXPECT_FALSE(ReadLeadingNumber("1e400"));
  EXPECT_FALSE(ReadLeadingNumber(std::string(400, '9')));
  EXPECT_FALSE(ReadLeadingNumber("&H" + std::string(300, 'F')));
}

TEST(ToInt16, RoundsHalvesToEven) {
  EXPECT_EQ(ToInt16(2.5, "x"), 2);
  EXPECT_EQ(ToInt16(3.5, "x"), 4);
  EXPECT_EQ(ToInt16(-2.5, "x"), -2);
  EXPECT_EQ(ToInt16(4.4, "x"), 4);
  EXPECT_EQ(ToInt16(32767.4, "x"), 32767);
  EXPECT_EQ(ToInt16(-32768, "x"), -32768);
}

TEST(ToInt16, OutOfRangeNamesTheValue) {
  EXPECT_THROW(ToInt16(32767.5, "x"), RunError);
  EXPECT_THROW(ToInt16(-32769, "x"), RunError);
  try {
    ToInt16(40000, "The match level");
    FAIL();
  } catch (const RunError& error) {
    EXPECT_EQ(std::string(error.what()).find("The match level 40000"), 0u) << error.what();
  }
}

TEST(NumberText, PlainShortestForm) {
  EXPECT_EQ(NumberText(120), "120");
  EXPECT_EQ(NumberText(-1), "-1");
  EXPECT_EQ(NumberText(4.5), "4.5");
  EXPECT_EQ(NumberText(2.3 - 1), "1.3");
  EXPECT_EQ(NumberText(-0.0), "0");
  EXPECT_EQ(NumberText(1e20), "1E+20");
}

}  // namespace
}  // namespace qvl
