// POSIX side of the bridge's child runs: a process group, so that a helper the library started
// ends with the run.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "bridge/child.h"

namespace qvl {

ChildEnd RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, int deadline_seconds) {
  // Everything the child needs is made before fork: after it, only calls that are safe in a
  // copy of a threaded process.
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    throw RunError(
        Say(Message::kUnexpectedFailure, {{"reason", SystemErrorText(LastSystemError())}}));
  if (pid == 0) {
    setpgid(0, 0);
    // Nothing of the bridge's own (its sockets, its console) is the run's: with -QUIET the run
    // says what it has to say in error.txt.
    int nothing = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(nothing, fd);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (chdir(folder.c_str()) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  ChildEnd end;
  int status = 0;
  // Woken the moment the run ends (a pidfd becomes readable), or at the deadline; where the
  // kernel has no pidfds, looked at often while the run is young, then every 50 ms.
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadline_seconds);
  auto pause = std::chrono::milliseconds(1);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::seconds(0)) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      if (pidfd >= 0) close(pidfd);
      end.killed = true;
      return end;
    }
    if (pidfd >= 0) {
      pollfd ended = {pidfd, POLLIN, 0};
      poll(&ended, 1,
           static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) +
               1);
    } else {
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
  }
  if (pidfd >= 0) close(pidfd);
  kill(-pid, SIGKILL);  // whatever the run left behind
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return end;
}

std::string BridgeDataFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return JoinPath(state, "qvlbridge");
  const char* home = std::getenv("HOME");
  return JoinPath(JoinPath(JoinPath(home && *home ? home : "/tmp", ".local"), "state"),
                  "qvlbridge");
}

bool StartAtLogon(const std::string& program, bool start, std::string* error) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string folder =
      config && *config ? std::string(config) : JoinPath(home ? home : "/tmp", ".config");
  std::string entry = JoinPath(JoinPath(folder, "autostart"), "qvlbridge.desktop");
  if (!start) return RemoveFile(entry);
  std::error_code ignored;
  std::filesystem::create_directories(JoinPath(folder, "autostart"), ignored);
  std::ofstream out(entry, std::ios::binary | std::ios::trunc);
  out << "[Desktop Entry]\nType=Application\nName=qvlbridge\nExec=" << program << "\n";
  if (!out.flush()) {
    *error = entry;
    return false;
  }
  return true;
}

}  // namespace qvl
