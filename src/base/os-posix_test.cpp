#include <gtest/gtest.h>

#include <cerrno>

#include "base/os.h"

namespace qvl {
namespace {

// Only a lock another process holds refuses a start; any other failure (NFS without locks) is an
// error that says so, never "already running".
TEST(PosixLocks, OnlyALockHeldElsewhereRefusesAStart) {
  EXPECT_TRUE(HeldElsewhere({EWOULDBLOCK, true}));
  for (int other : {ENOLCK, EACCES, EBADF, EINTR}) {
    EXPECT_FALSE(HeldElsewhere({static_cast<unsigned long>(other), true})) << other;
  }
}

}  // namespace
}  // namespace qvl
