#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <string>

#include "base/file.h"
#include "base/os.h"
#include "testing/fakes.h"

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

// A crash report that the disk cuts short (a file-size limit stands in for a full disk) leaves
// no error.txt, rather than half the story.
TEST(ReportFile, CutShortIsRemoved) {
  ScopedTempDir dir;
  PrepareReportFile(dir.path(), "error.txt");
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit full = before;
  full.rlim_cur = 16;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &full);
  WriteReportFile(std::string(200, 'x'));
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(RegularFileLength(dir.File("error.txt")));
  WriteReportFile("whole");
  EXPECT_EQ(RegularFileLength(dir.File("error.txt")), 3u + 5 + 2);
}

}  // namespace
}  // namespace qvl
