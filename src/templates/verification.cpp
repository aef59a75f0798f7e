#include "templates/verification.h"

#include "base/os.h"
#include "templates/template_files.h"

namespace qvl {

bool LoadStoredTemplate(const std::string& folder, FeatureBuffer& stored, StatusWindow& window) {
  std::string path = JoinPath(folder, "verify1.bin");
  if (!RegularFileLength(path)) return false;
  LoadTemplateFile(path, stored, window);
  return true;
}

int Verify(ScannerLibrary& scanner, const FeatureBuffer& feature, const FeatureBuffer* stored,
           std::int16_t level) {
  if (!stored) return 0;
  return scanner.Match(feature.data(), stored->data(), level) == 0 ? 1 : 0;
}

}  // namespace qvl
