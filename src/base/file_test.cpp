#include "base/file.h"

#include <gtest/gtest.h>

#include "testing/fakes.h"

namespace qvl {
namespace {

// error.txt is the whole message of this run, never the tail of a longer one before it.
TEST(WriteErrorText, ReplacesALongerFileWhole) {
  ScopedTempDir dir;
  dir.Write("error.txt", std::string(500, 'x'));
  WriteErrorText(dir.File("error.txt"), "short");
  EXPECT_EQ(dir.Read("error.txt"), "\xEF\xBB\xBFshort\r\n");
}

}  // namespace
}  // namespace qvl
