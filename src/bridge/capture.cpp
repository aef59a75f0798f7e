#include "bridge/capture.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <vector>

#include "base/ending.h"
#include "base/error.h"
#include "base/file.h"
#include "base/os.h"
#include "bridge/child.h"

namespace qvl {
namespace {

namespace fs = std::filesystem;

// Made empty, under a name no other run of this bridge or another one uses; it begins with the
// bridge's process id and start time, so that a later bridge knows whose it was.
std::string FreshFolder(const std::string& runs_folder) {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  std::string refused;
  if (!MakePrivateFolder(runs_folder, &refused))
    throw RunError(Say(Message::kCannotCreate, {{"path", runs_folder}, {"reason", refused}}));
  for (;;) {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string folder =
        JoinPath(runs_folder, OwnProcessStamp() + "-" + std::to_string(stamp) + "-" +
                                  std::to_string(counter++));
    if (fs::create_directory(fs::u8path(folder), error)) return folder;
    if (error)
      throw RunError(Say(Message::kCannotCreate, {{"path", folder}, {"reason", error.message()}}));
  }
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  OutputFile file(path);
  file.Write({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  file.Close();
}

std::vector<std::uint8_t> BytesIfThere(const std::string& path) {
  return RegularFileLength(path) ? ReadFileBytes(path) : std::vector<std::uint8_t>();
}

// The messages of a quiet run's standard error ("qvlcapture: ..." lines), the last one that
// says why the run ended.
std::string StandardErrorMessage(const std::string& text) {
  constexpr std::string_view kPrefix = "qvlcapture: ";
  std::string last;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    if (line.substr(0, kPrefix.size()) == kPrefix) last = std::string(line.substr(kPrefix.size()));
    at = end + 1;
  }
  return last;
}

// Removed whatever happens to the run in between.
struct RemovedAtEnd {
  std::string folder;
  ~RemovedAtEnd() {
    std::error_code ignored;
    fs::remove_all(fs::u8path(folder), ignored);
  }
};

}  // namespace

CaptureOutcome RunCaptureProgram(const std::string& program, const std::string& runs_folder,
                                 const CaptureRequest& request, int deadline_seconds,
                                 const CancelFlag& cancel,
                                 const std::function<void(const std::string&)>& log) {
  RemovedAtEnd folder{FreshFolder(runs_folder)};
  std::vector<std::string> arguments = {"-QUIET", "-WORKDIR:" + folder.folder,
                                        "-TIMEOUT:" + std::to_string(request.timeout),
                                        "-LEVEL:" + std::to_string(request.level)};
  if (request.mode == "verify") {
    WriteBytes(JoinPath(folder.folder, "verify1.bin"), request.stored_template);
    arguments.push_back("-CVERIFY");
  } else if (request.mode != "enroll") {
    WriteBytes(JoinPath(folder.folder, "match.bin"), request.database);
    arguments.push_back(request.mode == "identify" ? "-CMATCH" : "-CVERIMATCH");
  }
  ChildEnd end = RunChild(program, arguments, folder.folder, deadline_seconds, cancel, log);
  CaptureOutcome outcome;
  outcome.cancelled = cancel;
  outcome.killed = end.killed;
  outcome.status = end.status;
  std::vector<std::uint8_t> result = BytesIfThere(JoinPath(folder.folder, "result.txt"));
  outcome.result.assign(result.begin(), result.end());
  std::vector<std::uint8_t> error = BytesIfThere(JoinPath(folder.folder, "error.txt"));
  std::string text(error.begin(), error.end());
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  // Where a full disk kept the message from error.txt, the run said it on standard error too.
  if (text.empty()) text = StandardErrorMessage(end.standard_error);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  outcome.error_text = text;
  if (!end.killed && Answered(end.status)) {
    outcome.features = BytesIfThere(JoinPath(folder.folder, "feature.txt"));
    outcome.picture = BytesIfThere(JoinPath(folder.folder, "scan.bmp"));
  }
  return outcome;
}

}  // namespace qvl
