#pragma once

#include <cstdint>
#include <string>

#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// Loads verify1.bin in `folder` into `stored`, before the finger is asked for, so that a file
// rewritten during the wait cannot change the answer. False when there is none (the answer is
// then 0); a file over 257 bytes stops the run.
bool LoadStoredTemplate(const std::string& folder, FeatureBuffer& stored, StatusWindow& window);

// 1 when the library says the captured template matches the stored one, else 0. Without a stored
// template (`stored` null) the answer is 0 and the library is not asked.
int Verify(ScannerLibrary& scanner, const FeatureBuffer& feature, const FeatureBuffer* stored,
           std::int16_t level);

}  // namespace qvl
