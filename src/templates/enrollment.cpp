#include "templates/enrollment.h"

#include <algorithm>
#include <cstdint>
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

// Puts the picture the library wrote at `staged` in the place of `target`, in one step where the
// system allows it. Another program may hold `target` open (a caller showing the last picture, a
// virus scanner): the picture is then lost, never the captured print. False when `target` is not
// this picture (the old one, or a part of the new one).
bool PlacePicture(const std::string& staged, const std::string& target) {
  bool placed = MoveOver(staged, target);
  if (!placed) {
    // A holder that lets others write (an indexer) still lets the bytes be written in place.
    try {
      std::vector<std::uint8_t> picture = ReadFileBytes(staged);
      OutputFile file(target);
      file.Write({reinterpret_cast<const char*>(picture.data()), picture.size()});
      file.Close();
      placed = true;
    } catch (const RunError&) {
      // Half written (a full disk) is worse than none; a held file stays the old picture.
      RemoveFile(target);
    }
  }
  RemoveFile(staged);
  return placed;
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
  // With no picture at all, rather none than the last person's.
  bool picture = fresh && RegularFileLength(staged.path) ? PlacePicture(staged.path, target)
                                                         : RemoveFile(target);
  // Written whole and closed at once, so the file is complete even if a later step stops the run.
  OutputFile file(JoinPath(folder, "feature.txt"));
  file.Write(FeatureText(feature));
  file.Close();
  return picture;
}

}  // namespace qvl
