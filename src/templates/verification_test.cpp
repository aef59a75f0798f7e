#include "templates/verification.h"

#include <gtest/gtest.h>

#include "templates/template_files.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

TEST(LoadStoredTemplate, LoadsUpTo257BytesPumpingPerByte) {
  ScopedTempDir dir;
  FakeWindow window;
  FakeScanner scanner;
  FeatureBuffer feature{}, stored{};
  auto verify = [&] {
    bool present = LoadStoredTemplate(dir.path(), stored, window);
    return Verify(scanner, feature, present ? &stored : nullptr, 2);
  };
  EXPECT_EQ(verify(), 0);
  EXPECT_TRUE(scanner.calls.empty());  // no file: no question to the library
  dir.Write("verify1.bin", "");
  EXPECT_EQ(verify(), 1);  // an empty file compares against zeros
  dir.Write("verify1.bin", std::string(256, '\1'));
  verify();
  EXPECT_EQ(stored[255], 1);
  EXPECT_EQ(stored[256], 0);
  EXPECT_EQ(window.pumps, 256);
  dir.Write("verify1.bin", std::string(257, '\2'));
  verify();
  EXPECT_EQ(stored[256], 2);
}

TEST(ReadDatabaseFile, WholeRecordsAndAZeroByteAfterTheFile) {
  ScopedTempDir dir;
  dir.Write("match.bin", std::string(300, '\7'));
  DatabaseBuffer database = ReadDatabaseFile(dir.File("match.bin"));
  EXPECT_EQ(database.record_count(), 1u);
  EXPECT_EQ(database.data()[300], 0);
}

}  // namespace
}  // namespace qvl
