// POSIX side of the OS services. Linux only where /proc is named.

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/error.h"
#include "base/os.h"

namespace qvl {

std::string ProgramFolder() {
  std::string path(4096, '\0');
  ssize_t length;
  while ((length = readlink("/proc/self/exe", path.data(), path.size())) ==
         static_cast<ssize_t>(path.size()))
    path.resize(path.size() * 2);
  if (length < 0) throw RunError("Cannot find the program's folder: " + SystemErrorText());
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/'));
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

std::string CommandLineTail() {
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
    tail.append(all, begin, end - begin);
    begin = end + 1;
  }
  return tail;
}

std::string AnsiToPath(std::string_view ansi) { return std::string(ansi); }

std::string PathForLibrary(const std::string& path) { return path; }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string SystemErrorText() { return std::strerror(errno); }

std::optional<std::uint64_t> RegularFileLength(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
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
