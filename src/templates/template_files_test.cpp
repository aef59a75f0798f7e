#include "templates/template_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

TEST(ReadDatabaseFile, WholeFileThenOneZeroByte) {
  ScopedTempDir dir;
  dir.Write("db.bin", std::string(300, '\x7f'));
  DatabaseBuffer database = ReadDatabaseFile(dir.File("db.bin"));
  EXPECT_EQ(database.file_length(), 300u);
  EXPECT_EQ(database.record_count(), 1u);
  EXPECT_EQ(database.data()[299], 0x7f);
  EXPECT_EQ(database.data()[300], 0);
  EXPECT_EQ(database.record(1), database.data() + 256);
}

TEST(ReadDatabaseFile, FolderOrMissingFileIsAnErrorNamingIt) {
  ScopedTempDir dir;
  std::filesystem::create_directory(dir.File("db.bin"));
  EXPECT_THROW(ReadDatabaseFile(dir.File("db.bin")), RunError);
  try {
    ReadDatabaseFile(dir.File("none.bin"));
    FAIL();
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("none.bin"), std::string::npos);
  }
}

}  // namespace
}  // namespace qvl
