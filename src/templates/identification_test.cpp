#include "templates/identification.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "testing/fakes.h"
#include "window/texts.h"

namespace qvl {
namespace {

// A database whose records start with the given bytes; the probe's first byte is 5.
class IdentificationTest : public testing::Test {
 protected:
  IdentificationTest() { feature[0] = 5; }
  void WriteDatabase(const std::string& first_bytes, std::size_t tail = 0) {
    std::string bytes;
    for (char c : first_bytes) bytes += c + std::string(255, '\0');
    dir.Write("match.bin", bytes + std::string(tail, '\5'));
  }
  std::string Identify(bool one_to_many, bool each_record, double level = 3) {
    return IdentifyInDatabase(scanner, window, dir.File("match.bin"), feature, level, one_to_many,
                              each_record);
  }

  ScopedTempDir dir;
  FakeWindow window;
  FakeScanner scanner;
  FeatureBuffer feature{};
};

TEST_F(IdentificationTest, ListsEveryMatchingRecordInOrder) {
  WriteDatabase("\5\1\5\5\2\5");
  EXPECT_EQ(Identify(false, true), "0,2,3,5");
  EXPECT_EQ(window.Shown("timer"), (std::vector<std::string>{kReadingDatabase, ""}));
}

TEST_F(IdentificationTest, NoMatchIsTheEmptyText) {
  WriteDatabase("\1\2");
  EXPECT_EQ(Identify(false, true), "");
}

TEST_F(IdentificationTest, TrailingPartOfARecordIsIgnored) {
  WriteDatabase("\1", 44);  // 300 bytes: one record
  EXPECT_EQ(Identify(false, true), "");
  EXPECT_EQ(scanner.calls.size(), 1u);
}

TEST_F(IdentificationTest, OneToManyReportsTheLibrarysAnswer) {
  WriteDatabase("\1\2\3");
  scanner.match_n_answer = -7;
  EXPECT_EQ(Identify(true, false, 4.5), "-7");
  EXPECT_EQ(scanner.match_n_count, 3);
  EXPECT_EQ(scanner.levels, std::vector<std::int16_t>{4});
}

TEST_F(IdentificationTest, EmptyDatabaseInBothModes) {
  WriteDatabase("");
  scanner.match_n_answer = -1;
  EXPECT_EQ(Identify(true, false), "-1");
  EXPECT_EQ(scanner.match_n_count, 0);
  EXPECT_EQ(Identify(false, true), "");
}

TEST_F(IdentificationTest, BothModesGiveTheList) {
  WriteDatabase("\1\5");
  scanner.match_n_answer = 1;
  EXPECT_EQ(Identify(true, true), "1");
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"matchn", "match", "match"}));
}

TEST_F(IdentificationTest, MissingDatabaseStopsTheRunNamingThePath) {
  try {
    Identify(false, true);
    FAIL();
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("match.bin"), std::string::npos);
  }
}

TEST_F(IdentificationTest, OneToManyOverMoreRecordsThan16BitsStops) {
  dir.Write("match.bin", std::string(32768 * 256, '\0'));
  EXPECT_THROW(Identify(true, false), RunError);
  EXPECT_EQ(Identify(false, true), "");  // record by record has no such limit
  EXPECT_EQ(scanner.calls.size(), 32768u);
}

TEST_F(IdentificationTest, LevelOutOf16BitsStopsOnlyWhenCompared) {
  WriteDatabase("\5");
  EXPECT_THROW(Identify(false, true, -40000), RunError);
  WriteDatabase("");
  EXPECT_EQ(Identify(false, true, -40000), "");
}

}  // namespace
}  // namespace qvl
