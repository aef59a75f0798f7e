#include "templates/verification.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

class VerificationTest : public testing::Test {
 protected:
  VerificationTest() { feature[0] = 7; }
  int Verify(double level = 3) {
    return VerifyAgainstFile(scanner, window, dir.path(), feature, stored, level);
  }

  ScopedTempDir dir;
  FakeWindow window;
  FakeScanner scanner;
  FeatureBuffer feature{};
  FeatureBuffer stored{};
};

TEST_F(VerificationTest, MatchAndMismatch) {
  dir.Write("verify1.bin", "\7");
  EXPECT_EQ(Verify(), 1);
  dir.Write("verify1.bin", "\6");
  EXPECT_EQ(Verify(), 0);
  EXPECT_EQ(scanner.levels, (std::vector<std::int16_t>{3, 3}));
}

TEST_F(VerificationTest, MissingFileIsNoMatchWithoutAskingTheLibrary) {
  EXPECT_EQ(Verify(), 0);
  EXPECT_TRUE(scanner.calls.empty());
}

TEST_F(VerificationTest, EmptyFileComparesAgainstZeros) {
  dir.Write("verify1.bin", "");
  feature[0] = 0;
  EXPECT_EQ(Verify(), 1);
  EXPECT_EQ(scanner.last_stored, std::vector<std::uint8_t>(256, 0));
}

TEST_F(VerificationTest, LoadsUpTo257BytesPumpingPerByte) {
  dir.Write("verify1.bin", std::string(256, '\1'));
  Verify();
  EXPECT_EQ(stored[255], 1);
  EXPECT_EQ(stored[256], 0);
  EXPECT_EQ(window.pumps, 256);
  dir.Write("verify1.bin", std::string(257, '\2'));
  Verify();
  EXPECT_EQ(stored[256], 2);
}

TEST_F(VerificationTest, LongerFileStopsTheRunNamingIt) {
  dir.Write("verify1.bin", std::string(258, '\1'));
  try {
    Verify();
    FAIL();
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("verify1.bin"), std::string::npos);
  }
  EXPECT_TRUE(scanner.calls.empty());
}

TEST_F(VerificationTest, LevelIsRoundedAndMustFit16Bits) {
  dir.Write("verify1.bin", "\7");
  Verify(2.5);
  Verify(3.5);
  EXPECT_EQ(scanner.levels, (std::vector<std::int16_t>{2, 4}));
  EXPECT_THROW(Verify(32768), RunError);
}

TEST_F(VerificationTest, FolderNamedLikeTheFileCountsAsMissing) {
  std::filesystem::create_directory(dir.File("verify1.bin"));
  EXPECT_EQ(Verify(), 0);
}

}  // namespace
}  // namespace qvl
