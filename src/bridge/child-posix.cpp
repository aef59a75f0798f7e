// POSIX side of the bridge's child runs: a process group, so that a helper the library started
// ends with the run.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <thread>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "bridge/child.h"

namespace qvl {

namespace {

void CloseDescriptorsFrom(int first) {
  // Every one, however high: a bridge with many connections has sockets above 1023.
  if (close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
  long most = sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (most > 0 ? most : 65536); ++fd) close(static_cast<int>(fd));
}

// Whatever the run has written to its standard error so far, without waiting for more.
void Drain(int pipe, std::string* text) {
  char buffer[4096];
  ssize_t got;
  while (pipe >= 0 && (got = read(pipe, buffer, sizeof buffer)) > 0)
    KeepErrorText(*text, std::string_view(buffer, static_cast<std::size_t>(got)));
}

bool WaitFor(pid_t pid, int pidfd, int* status, std::chrono::milliseconds most) {
  if (waitpid(pid, status, WNOHANG) != 0) return true;
  if (pidfd >= 0) {
    pollfd ended = {pidfd, POLLIN, 0};
    poll(&ended, 1, static_cast<int>(most.count()));
  } else {
    std::this_thread::sleep_for(std::min(most, std::chrono::milliseconds(10)));
  }
  return waitpid(pid, status, WNOHANG) != 0;
}

}  // namespace

ChildEnd RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, int deadline_seconds, const std::atomic<bool>& cancel,
                  const std::function<void(const std::string&)>&) {
  // Everything the child needs is made before fork: after it, only calls that are safe in a
  // copy of a threaded process.
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t parent = getpid();
  int error_pipe[2] = {-1, -1};
  if (pipe2(error_pipe, O_CLOEXEC) != 0) error_pipe[0] = error_pipe[1] = -1;
  pid_t pid = fork();
  if (pid < 0)
    throw RunError(
        Say(Message::kUnexpectedFailure, {{"reason", SystemErrorText(LastSystemError())}}));
  if (pid == 0) {
    setpgid(0, 0);
    // The run ends with the bridge (this thread of it, which waits for the run), a kill -9
    // included: its scanner lock must not outlive the service.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // Nothing of the bridge's own (its sockets, its console) is the run's: with -QUIET the run
    // says what it has to say in error.txt.
    int nothing = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
      dup2(fd == 2 && error_pipe[1] >= 0 ? error_pipe[1] : nothing, fd);
    CloseDescriptorsFrom(3);
    if (chdir(folder.c_str()) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  ChildEnd end;
  if (error_pipe[1] >= 0) close(error_pipe[1]);
  if (error_pipe[0] >= 0) fcntl(error_pipe[0], F_SETFL, O_NONBLOCK);
  int status = 0;
  // Woken the moment the run ends (a pidfd becomes readable), at the deadline, or within 50 ms
  // of a cancel.
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  auto now = std::chrono::steady_clock::now;
  auto deadline = now() + std::chrono::seconds(deadline_seconds);
  std::optional<std::chrono::steady_clock::time_point> closed;
  while (!WaitFor(pid, pidfd, &status, std::chrono::milliseconds(50))) {
    Drain(error_pipe[0], &end.standard_error);
    if (cancel && !closed) {
      kill(pid, SIGINT);  // the console window's own close
      closed = now();
    }
    if (now() >= deadline || (closed && now() - *closed >= std::chrono::seconds(kCloseSeconds))) {
      kill(-pid, SIGKILL);  // the run and every helper it started
      waitpid(pid, &status, 0);
      end.killed = true;
      break;
    }
  }
  if (pidfd >= 0) close(pidfd);
  Drain(error_pipe[0], &end.standard_error);
  if (error_pipe[0] >= 0) close(error_pipe[0]);
  if (end.killed) return end;
  kill(-pid, SIGKILL);  // whatever the run left behind
  // A run ended by a signal answered nothing, whatever its low bits say.
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return end;
}

std::string BridgeDataFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return JoinPath(state, "qvlbridge");
  std::string folder = AccountHome();
  if (folder.empty()) throw RunError("this account has no home folder for qvlbridge's files");
  return JoinPath(JoinPath(JoinPath(folder, ".local"), "state"), "qvlbridge");
}

bool MakePrivateFolder(const std::string& folder, std::string* error) {
  umask(077);
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  // One made by an earlier version is 0755: made private now.
  if (!failed)
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, failed);
  if (failed) *error = failed.message();
  return !failed;
}

namespace {

// /proc/PID/stat: "pid (comm) state ppid ... starttime (22nd) ..."; comm may hold anything but
// ends at the last parenthesis.
struct ProcessStat {
  std::string comm;
  char state = 0;
  std::string start;
};

std::optional<ProcessStat> StatOf(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t open = text.find('('), close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  ProcessStat stat;
  stat.comm = text.substr(open + 1, close - open - 1);
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  fields >> stat.state;
  for (int number = 4; number <= 22 && fields >> field; ++number) {
    if (number == 22) stat.start = field;
  }
  if (stat.start.empty()) return std::nullopt;
  return stat;
}

}  // namespace

std::string OwnProcessStamp() {
  std::string pid = std::to_string(getpid());
  std::optional<ProcessStat> stat = StatOf(pid);
  return pid + "-" + (stat ? stat->start : "0");
}

bool BridgeRuns(const std::string& stamp) {
  std::size_t dash = stamp.find('-');
  std::string pid = stamp.substr(0, dash);
  if (dash == std::string::npos || pid.empty() ||
      pid.find_first_not_of("0123456789") != std::string::npos)
    return false;
  std::optional<ProcessStat> stat = StatOf(pid);
  return stat && stat->state != 'Z' && stat->comm == "qvlbridge" &&
         pid + "-" + stat->start == stamp;
}

void KeepFromChildren(std::uintptr_t handle) {
  int fd = static_cast<int>(handle);
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

namespace {

std::string ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return config;
  return JoinPath(AccountHome(), ".config");
}

struct HostPlace {
  std::string folder;
  bool firefox;
};

// Where each browser looks for host manifests: the user's own folders, or the system's.
std::vector<HostPlace> HostPlaces(bool every_user) {
  if (every_user) {
    const char* root = std::getenv("QVLBRIDGE_ROOT");
    std::string prefix = root ? root : "";
    return {{prefix + "/etc/opt/chrome/native-messaging-hosts", false},
            {prefix + "/etc/chromium/native-messaging-hosts", false},
            {prefix + "/etc/opt/edge/native-messaging-hosts", false},
            {prefix + "/etc/opt/yandex/browser/native-messaging-hosts", false},
            {prefix + "/usr/lib/mozilla/native-messaging-hosts", true}};
  }
  std::vector<HostPlace> places;
  for (const char* browser : {"google-chrome", "chromium", "microsoft-edge", "yandex-browser"})
    places.push_back({JoinPath(JoinPath(ConfigFolder(), browser), "NativeMessagingHosts"), false});
  places.push_back({JoinPath(JoinPath(AccountHome(), ".mozilla"), "native-messaging-hosts"), true});
  return places;
}

}  // namespace

bool RegisterHost(const std::string& name, const HostManifests& manifests, const std::string&,
                  bool every_user, bool install, std::string* error) {
  for (const HostPlace& place : HostPlaces(every_user)) {
    std::string path = JoinPath(place.folder, name + ".json");
    if (!install) {
      if (RemoveFile(path)) continue;
      *error = "cannot remove " + path + (every_user ? ": -UNINSTALL:ALL needs root" : "");
      return false;
    }
    std::error_code ignored;
    // Every user's browser reads them; only root may change them.
    mode_t before = umask(022);
    std::filesystem::create_directories(place.folder, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << (place.firefox ? manifests.firefox : manifests.chromium) << "\n";
    umask(before);
    if (!out.flush()) {
      *error = "cannot write " + path + (every_user ? ": -INSTALL:ALL needs root" : "");
      return false;
    }
  }
  return true;
}

void BinaryStandardStreams() {}

void UseCallersConsole() {}

namespace {

// The program as one argument of a desktop entry's Exec= line: quoted, with what the quotes
// reserve escaped, and every backslash doubled once more, as string values are unescaped first.
std::string ExecQuoted(const std::string& program) {
  std::string quoted = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += "\\\\";
    quoted += c == '\\' ? std::string("\\\\") : c == '%' ? std::string("%%") : std::string(1, c);
  }
  return quoted + "\"";
}

}  // namespace

bool StartAtLogon(const std::string& program, bool start, std::string* error) {
  std::string folder = ConfigFolder();
  std::string entry = JoinPath(JoinPath(folder, "autostart"), "qvlbridge.desktop");
  if (!start) return RemoveFile(entry);
  std::error_code ignored;
  std::filesystem::create_directories(JoinPath(folder, "autostart"), ignored);
  std::ofstream out(entry, std::ios::binary | std::ios::trunc);
  out << "[Desktop Entry]\nType=Application\nName=qvlbridge\nExec=" << ExecQuoted(program) << "\n";
  if (!out.flush()) {
    *error = entry;
    return false;
  }
  return true;
}

}  // namespace qvl
