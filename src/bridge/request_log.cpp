// The service's log: one line a request, kept under a size, the older lines in one .old file.

#include <ctime>
#include <filesystem>
#include <fstream>

#include "bridge/server.h"

namespace qvl {
namespace {

constexpr std::uintmax_t kLogBytes = 1024 * 1024;

}  // namespace

void RequestLog::Write(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path path = fs::u8path(path_);
  if (fs::file_size(path, error) > kLogBytes && !error) {
    fs::rename(path, fs::u8path(path_ + ".old"), error);
  }
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
  std::ofstream out(path, std::ios::app | std::ios::binary);
  out << stamp << " " << line << "\n";
}

}  // namespace qvl
