#include "templates/enrollment.h"

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
  scanner.Process(raw_image, feature, processed_image);
  std::string bmp_path = PathForLibrary(JoinPath(folder, "scan.bmp"));
  scanner.SaveBmp(bmp_path.c_str(), processed_image);
  // Written whole and closed at once, so the file is complete even if a later step stops the run.
  OutputFile file(JoinPath(folder, "feature.txt"));
  file.Write(FeatureText(feature));
  file.Close();
}

}  // namespace qvl
