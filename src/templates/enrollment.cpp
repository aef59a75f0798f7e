#include "templates/enrollment.h"

#include <algorithm>

#include "base/error.h"
#include "base/file.h"
#include "base/os.h"
#include "window/texts.h"

namespace qvl {

std::string FeatureText(const FeatureBuffer& feature) {
  std::string text;
  text.reserve(feature.size() * 5);
  for (std::uint8_t byte : feature) text += std::to_string(byte) + "\r\n";
  return text;
}

void WriteEnrollmentOutputs(ScannerLibrary& scanner, StatusWindow& window,
                            const std::string& folder, const ImageBuffer& raw_image,
                            FeatureBuffer& feature, ImageBuffer& processed_image) {
  window.ShowInfo(kCaptured);
  // The last person's picture must never stand beside this run's answer.
  std::string bmp_path = JoinPath(folder, "scan.bmp");
  if (!RemoveFile(bmp_path)) throw RunError(FileErrorMessage("replace", bmp_path));
  scanner.Process(raw_image, feature, processed_image);
  // A real template is never all zero: this one the library never wrote, and compared with a
  // stored template of an enrollment that failed the same way it would read as a match.
  if (std::all_of(feature.begin(), feature.begin() + kTemplateRecordSize,
                  [](std::uint8_t byte) { return byte == 0; })) {
    throw RunError(
        "The scanner library made no template of the captured print (QvlProcess "
        "left it empty): put the finger on the scanner again");
  }
  LibraryOutputPath library_path(bmp_path);
  scanner.SaveBmp(library_path.ansi(), processed_image);
  library_path.Commit();
  // Written whole and closed at once, so the file is complete even if a later step stops the run.
  OutputFile file(JoinPath(folder, "feature.txt"));
  file.Write(FeatureText(feature));
  file.Close();
}

}  // namespace qvl
