#include "templates/enrollment.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/os.h"
#include "window/texts.h"

namespace qvl {

std::string FeatureText(const FeatureBuffer& feature) {
  std::string text;
  text.reserve(feature.size() * 5);
  for (std::uint8_t byte : feature) text += std::to_string(byte) + "\r\n";
  return text;
}

namespace {

// Puts the file at `staged` in the place of `target`, in one step where the system allows it.
// Another program may hold `target` open (a caller showing the last picture, a virus scanner):
// the file is then written in place if the holder lets others write (an indexer), else stays the
// old one. The failure's message when `target` is not the staged file (the old one, or none).
std::optional<std::string> PlaceFile(const std::string& staged, const std::string& target) {
  std::optional<std::string> failure;
  if (!MoveOver(staged, target)) {
    try {
      std::vector<std::uint8_t> bytes = ReadFileBytes(staged);
      OutputFile file(target);
      file.Write({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
      file.Close();
    } catch (const RunError& error) {
      failure = error.what();
      // Half written (a full disk) is worse than none; a held file stays the old one.
      RemoveFile(target);
    }
  }
  RemoveFile(staged);
  return failure;
}

// A picture the library wrote whole: "BM", and as long as its header says. A full disk, or a
// library that fails half way, leaves a cut one, which is no picture at all.
bool IsWholePicture(const std::string& path) {
  try {
    InputFile file(path);
    std::uint8_t header[6] = {};
    constexpr std::uint64_t kLeastHeaders = 14 + 12;  // the file's header and the smallest info
    if (file.length() < kLeastHeaders || file.Read(header, sizeof header) != sizeof header)
      return false;
    std::uint32_t size =
        header[2] | header[3] << 8 | header[4] << 16 | std::uint32_t{header[5]} << 24;
    return header[0] == 'B' && header[1] == 'M' && size == file.length();
  } catch (const RunError&) {
    return false;
  }
}

}  // namespace

bool WriteEnrollmentOutputs(ScannerLibrary& scanner, StatusWindow& window,
                            const std::string& folder, const ImageBuffer& raw_image,
                            FeatureBuffer& feature, ImageBuffer& processed_image) {
  window.ShowInfo(kCaptured);
  scanner.Process(raw_image, feature, processed_image);
  // A real template is never all zero: this one the library never wrote, and compared with a
  // stored template of an enrollment that failed the same way it would read as a match. Checked
  // before any file is touched, so the stop leaves the folder as it was.
  if (std::all_of(feature.begin(), feature.begin() + kTemplateRecordSize,
                  [](std::uint8_t byte) { return byte == 0; })) {
    throw RunError(Say(Message::kNoTemplate));
  }
  // The library writes beside scan.bmp, under a name only this run uses (the folder is locked),
  // so scan.bmp is only ever replaced by a whole picture of this run. A leftover that cannot be
  // removed is never taken for this run's.
  LibraryPath staged = LibraryWritablePath(folder, "scan.new.bmp");
  bool fresh = RemoveFile(staged.path);
  scanner.SaveBmp(staged.ansi.c_str(), processed_image);
  std::string target = JoinPath(folder, "scan.bmp");
  // With no whole picture, rather none than the last person's; the answer then says that
  // scan.bmp is not this run's.
  bool picture = false;
  if (fresh && IsWholePicture(staged.path)) {
    picture = !PlaceFile(staged.path, target);
  } else {
    if (fresh) RemoveFile(staged.path);
    RemoveFile(target);
  }
  // Written beside and moved over: a full disk leaves the last feature.txt as it was.
  std::string staged_feature = JoinPath(folder, "feature.new.txt");
  try {
    OutputFile file(staged_feature);
    file.Write(FeatureText(feature));
    file.Close();
  } catch (const RunError&) {
    RemoveFile(staged_feature);
    throw;
  }
  if (std::optional<std::string> failure =
          PlaceFile(staged_feature, JoinPath(folder, "feature.txt")))
    throw RunError(*failure);
  return picture;
}

}  // namespace qvl
