#pragma once

#include <string>

#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// Compares the captured template with the stored one in verify1.bin in `folder` (loaded into
// `stored`): 1 when the library says they match, else 0. A missing file gives 0 without asking
// the library. A match level that does not fit 16 bits, or a file over 257 bytes, stops the run.
int VerifyAgainstFile(ScannerLibrary& scanner, StatusWindow& window, const std::string& folder,
                      const FeatureBuffer& feature, FeatureBuffer& stored, double match_level);

}  // namespace qvl
