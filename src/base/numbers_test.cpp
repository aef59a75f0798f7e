#include "base/numbers.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace qvl {
namespace {

// The decimal point is a full stop whatever the locale ("1,5"); CR is not a blank ("1\r2").
TEST(ReadLeadingNumber, AsFarAsTheNumberGoes) {
  const std::pair<const char*, double> cases[] = {
      {"60", 60},     {"4.5", 4.5},   {"-7", -7},    {"+7", 7},         {".5", 0.5},
      {"12abc", 12},  {"3.2.1", 3.2}, {"1,5", 1},    {"", 0},           {"abc", 0},
      {"-", 0},       {".", 0},       {"e5", 0},     {"1E3", 1000},     {"2.5e-1", 0.25},
      {"1E+2x", 100}, {"7E", 7},      {"1e-400", 0}, {"  1 2\t3", 123}, {"- 4\n.5", -4.5},
      {"1\r2", 1},    {"&H1F", 31},   {"&hff", 255}, {"&O17", 15},      {"&O18", 1},
      {"&X1", 0},     {"&H", 0}};
  for (auto [text, number] : cases) EXPECT_EQ(ReadLeadingNumber(text), number) << text;
  for (std::string huge :
       {std::string("1e400"), std::string(400, '9'), "&H" + std::string(300, 'F')})
    EXPECT_FALSE(ReadLeadingNumber(huge)) << huge;
  // What reads as 0 because it is no number at all, and what reads as 0 because it is one.
  for (const char* text : {"", "abc", "-", ".", "e5", "&X1", "&H", "&Oz", "high"})
    EXPECT_FALSE(BeginsWithNumber(text)) << text;
  for (const char* text : {"0", "-0", "- .0", "&H0", "&o7", " 7x"})
    EXPECT_TRUE(BeginsWithNumber(text)) << text;
}

TEST(ToInt16, HalvesToEvenWithinSixteenBits) {
  const std::pair<double, int> cases[] = {
      {2.5, 2}, {3.5, 4}, {-2.5, -2}, {32767.4, 32767}, {-32768, -32768}};
  for (auto [value, rounded] : cases) EXPECT_EQ(ToInt16(value, "x"), rounded) << value;
  EXPECT_THROW(ToInt16(32767.5, "x"), RunError);
  EXPECT_THROW(ToInt16(-32769, "x"), RunError);
}

TEST(NumberText, PlainShortestForm) {
  const std::pair<double, const char*> cases[] = {{120, "120"},        {-1, "-1"},  {4.5, "4.5"},
                                                  {2.3 - 1, "1.3"},    {-0.0, "0"}, {1e20, "1E+20"},
                                                  {1234567, "1234567"}};
  for (auto [value, text] : cases) EXPECT_EQ(NumberText(value), text);
}

}  // namespace
}  // namespace qvl
