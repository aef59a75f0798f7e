#include "templates/verification.h"

#include "base/messages.h"
#include "base/numbers.h"
#include "base/os.h"
#include "templates/template_files.h"

namespace qvl {

int VerifyAgainstFile(ScannerLibrary& scanner, StatusWindow& window, const std::string& folder,
                      const FeatureBuffer& feature, FeatureBuffer& stored, double match_level) {
  std::string path = JoinPath(folder, "verify1.bin");
  if (!RegularFileLength(path)) return 0;
  LoadTemplateFile(path, stored, window);
  std::int16_t level = ToInt16(match_level, Say(Message::kMatchLevel));
  return scanner.Match(feature.data(), stored.data(), level) == 0 ? 1 : 0;
}

}  // namespace qvl
