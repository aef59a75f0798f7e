// POSIX side of the bridge's child runs: a process group, so that a helper the library started
// ends with the run.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
  if (pid < 0) throw RunError(Say(Message::kUnexpectedFailure, {{"reason", SystemErrorText(LastSystemError())}}));
  if (pid == 0) {
    setpgid(0, 0);
    // Nothing of the bridge's own (its sockets) is the run's.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (chdir(folder.c_str()) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadline_seconds);
  ChildEnd end;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      end.killed = true;
      return end;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-pid, SIGKILL);  // whatever the run left behind
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return end;
}

std::string BridgeDataFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return JoinPath(state, "qvlbridge");
  const char* home = std::getenv("HOME");
  return JoinPath(JoinPath(JoinPath(home && *home ? home : "/tmp", ".local"), "state"), "qvlbridge");
}

bool StartAtLogon(const std::string& program, bool start, std::string* error) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string folder = config && *config ? std::string(config) : JoinPath(home ? home : "/tmp", ".config");
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
