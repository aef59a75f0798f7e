// POSIX side of the OS services. Linux only where /proc is named.

#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/command_line.h"
#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/os.h"

namespace qvl {

std::string ProgramFolder() {
  std::string path(4096, '\0');
  ssize_t length;
  while ((length = readlink("/proc/self/exe", path.data(), path.size())) ==
         static_cast<ssize_t>(path.size()))
    path.resize(path.size() * 2);
  if (length < 0) {
    throw RunError(
        Say(Message::kNoProgramFolder, {{"reason", SystemErrorText(LastSystemError())}}));
  }
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/'));
}

Language UserLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value)
      return std::strncmp(value, "ru", 2) == 0 ? Language::kRussian : Language::kEnglish;
  }
  return Language::kEnglish;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

PathKind KindOfPath(const std::string& path) {
  return !path.empty() && path[0] == '/' ? PathKind::kFull : PathKind::kRelative;
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string CommandLineTail(bool) {
  // /proc/self/cmdline holds the arguments, each ending in a zero byte; the first is the
  // program itself.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string tail;
  std::size_t first = all.find('\0') + 1;  // 0 when there is no zero byte at all
  for (std::size_t begin = first; first != 0 && begin < all.size();) {
    std::size_t end = all.find('\0', begin);
    if (end == std::string::npos) end = all.size();
    if (begin != first) tail += ' ';
    tail += QuotedArgument(all.substr(begin, end - begin));
    begin = end + 1;
  }
  return tail;
}

std::string AnsiToPath(std::string_view ansi) { return std::string(ansi); }

// File names are bytes here, and the ANSI code page is UTF-8: the library takes any path as it is.
LibraryPath LibraryWritablePath(const std::string& folder, const std::string& name) {
  std::string path = JoinPath(folder, name);
  return {path, path};
}

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) { return std::string(utf8); }

bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::string_view> parts) noexcept {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = true;
  for (std::string_view part : parts) {
    written = written && write(fd, part.data(), part.size()) == static_cast<ssize_t>(part.size());
  }
  return close(fd) == 0 && written;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

bool MoveOver(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

namespace {

int g_scanner_lock = -1;

// Locks the file at `path` for this process's lifetime. False when another process holds it past
// `grace_ms`.
bool LockFile(const std::string& path, int grace_ms, int* held = nullptr) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) throw RunError(CreateErrorMessage(path, LastSystemError()));
  // A record lock is the process's own: a helper the library forks does not inherit it, and it
  // goes with the process, however that ends. The descriptor stays open until then. Only a lock
  // held elsewhere means another run: on NFS, say, locking fails for reasons of its own.
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  timespec pause{0, 50'000'000};
  for (int waited = 0;; waited += 50) {
    if (fcntl(fd, F_SETLK, &whole) == 0) {
      if (held) *held = fd;
      return true;
    }
    SystemError error = LastSystemError();
    if (HeldElsewhere(error) && waited < grace_ms) {
      nanosleep(&pause, nullptr);
      continue;
    }
    close(fd);
    if (HeldElsewhere(error)) return false;
    throw RunError(FileErrorMessage(Message::kCannotLock, path, error));
  }
}

}  // namespace

bool HeldElsewhere(SystemError error) {
  return error.code == EAGAIN || error.code == EACCES;  // either, by the system
}

bool LockFolder(const std::string& folder, int grace_ms) {
  return LockFile(JoinPath(folder, kLockFileName), grace_ms);
}

std::string AccountHome() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  const passwd* account = getpwuid(geteuid());
  return account && account->pw_dir ? account->pw_dir : "";
}

bool LockScanner() {
  const char* name = std::getenv("QVLCAPTURE_SCANNER_LOCK");
  if (!name || !*name) name = "qvlcapture-scanner";
  // The user's own runtime folder where there is one; else a folder of the account's own under
  // its home, never one another account can write: there it could take the name first and keep
  // every capture busy.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime && *runtime ? runtime : "";
  if (folder.empty()) {
    folder = JoinPath(JoinPath(AccountHome(), ".cache"), "qvlcapture");
    for (std::size_t slash = 1; slash != std::string::npos; slash = folder.find('/', slash + 1))
      mkdir(folder.substr(0, slash).c_str(), 0700);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      throw RunError(CreateErrorMessage(folder, LastSystemError()));
    chmod(folder.c_str(), 0700);
  }
  return LockFile(JoinPath(folder, std::string(name) + ".lock"), kLockGraceMilliseconds,
                  &g_scanner_lock);
}

void ReleaseScanner() {
  if (g_scanner_lock >= 0) close(g_scanner_lock);
  g_scanner_lock = -1;
}

namespace {
int g_report_folder = -1;
const char* g_report_name = nullptr;
}  // namespace

void PrepareReportFile(const std::string& folder, const char* name) {
  if (g_report_folder >= 0) close(g_report_folder);
  g_report_folder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  g_report_name = name;
}

void WriteReportFile(std::string_view message) noexcept {
  if (g_report_folder < 0) return;
  int file = openat(g_report_folder, g_report_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (file < 0) return;
  bool whole = true;
  for (std::string_view part : {std::string_view("\xEF\xBB\xBF"), message, std::string_view("\r\n")})
    whole = whole && write(file, part.data(), part.size()) == static_cast<ssize_t>(part.size());
  close(file);
  if (!whole) unlinkat(g_report_folder, g_report_name, 0);  // rather none than half the story
}

void WriteStandardError(std::string_view message) noexcept {
  iovec line[] = {{const_cast<char*>("qvlcapture: "), 12},
                  {const_cast<char*>(message.data()), message.size()},
                  {const_cast<char*>("\n"), 1}};
  [[maybe_unused]] ssize_t written = writev(STDERR_FILENO, line, 3);
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

SystemError LastSystemError() { return {static_cast<unsigned long>(errno), true}; }

std::FILE* OpenFile(const std::string& path, const char* mode, SystemError* error) {
  std::FILE* file = std::fopen(path.c_str(), (std::string(mode) + "e").c_str());  // e: O_CLOEXEC
  if (!file) *error = LastSystemError();
  return file;
}

std::string SystemErrorText(SystemError system_error, std::string_view) {
  auto error = static_cast<int>(system_error.code);
  // In the language of the program's own words: Russian from the user's locale, where the
  // system has its messages; the C locale's English otherwise.
  static locale_t russian =
      newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));  // UTF-8 text
  if (CurrentLanguage() == Language::kRussian && russian) return strerror_l(error, russian);
  return std::strerror(error);
}

bool FolderRefusesWriting(const std::string&, SystemError error) {
  return error.code == EACCES || error.code == EPERM || error.code == EROFS;
}

namespace {

std::optional<std::uint64_t> LengthOfRegular(int result, const struct stat& info) {
  if (result != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace

std::optional<std::uint64_t> RegularFileLength(const std::string& path) {
  struct stat info;
  return LengthOfRegular(stat(path.c_str(), &info), info);
}

std::optional<std::uint64_t> OpenFileLength(std::FILE* file) {
  struct stat info;
  return LengthOfRegular(fstat(fileno(file), &info), info);
}

namespace {

class MonotonicClock : public Clock {
 public:
  std::int64_t NowMs() override {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
  }
  void SleepMs(int ms) override {
    timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    // A signal (the user's Ctrl+C) cuts the sleep short; the wait notices it at its next test.
    nanosleep(&wait, nullptr);
  }
};

}  // namespace

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace qvl
