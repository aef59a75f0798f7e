#pragma once

#include <string>

#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// After a captured print: tells the user, has the library turn the raw image into the template
// (`feature`) and the image to save (`processed_image`), and writes scan.bmp (by the library)
// and feature.txt into `folder`. A template the library left all zero is a RunError, before any
// file is touched. A scan.bmp that another program holds may stay as it was, and a picture the
// library cut short or did not write (a full disk) is none; that never stops the run, and the
// result is false then: scan.bmp is not a whole picture of this run's.
bool WriteEnrollmentOutputs(ScannerLibrary& scanner, StatusWindow& window,
                            const std::string& folder, const ImageBuffer& raw_image,
                            FeatureBuffer& feature, ImageBuffer& processed_image);

// feature.txt: every byte of the template in decimal, one per line, each line ending CR LF.
std::string FeatureText(const FeatureBuffer& feature);

}  // namespace qvl
