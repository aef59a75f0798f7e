#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
  EXPECT_TRUE(HeldElsewhere({EAGAIN, true}));
  EXPECT_TRUE(HeldElsewhere({EACCES, true}));
  for (int other : {ENOLCK, EBADF, EINTR}) {
    EXPECT_FALSE(HeldElsewhere({static_cast<unsigned long>(other), true})) << other;
  }
}

// A run that holds the folder refuses a start; one still ending as the start comes (a caller
// killed it and started the next at once) lets it go within the grace.
TEST(PosixLocks, AHolderThatIsEndingPassesWithinTheGrace) {
  ScopedTempDir dir;
  int held[2], go[2];
  ASSERT_EQ(pipe(held), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t holder = fork();
  if (holder == 0) {
    char byte = 0;
    if (LockFolder(dir.path(), 0) && write(held[1], &byte, 1) == 1 && read(go[0], &byte, 1) == 1)
      usleep(200'000);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(held[0], &byte, 1), 1);
  EXPECT_FALSE(LockFolder(dir.path(), 0));
  ASSERT_EQ(write(go[1], &byte, 1), 1);
  EXPECT_TRUE(LockFolder(dir.path(), 60'000));
  waitpid(holder, nullptr, 0);
  for (int fd : {held[0], held[1], go[0], go[1]}) close(fd);
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
