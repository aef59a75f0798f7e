#pragma once

#include <cstdint>

#include "base/os.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// Opens the scanner and polls it until it reports an image (any nonzero flag), the timeout
// has passed or the window was closed, keeping the countdown current. The first two polls
// follow each other at once, then one every 200 ms plus the library's own time. At least
// one poll is made while the window is shown, whatever the timeout. Seconds are counted as
// boundaries of the clock's whole seconds crossed since the scanner was opened.
// Returns the result of opening the scanner.
std::int16_t WaitForFinger(ScannerLibrary& scanner, StatusWindow& window, Clock& clock,
                           double timeout_seconds, ImageBuffer& raw_image,
                           std::int16_t& capture_flag);

}  // namespace qvl
