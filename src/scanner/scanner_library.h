#pragma once

// The scanner vendor's library as the run uses it. Abstract so tests can put a fake in its
// place; the real one (VendorScannerLibrary) loads the library by name on the first call.
// Results are the library's, read as signed 16-bit.

#include <array>
#include <cstdint>
#include <memory>

#include "scanner/qvl_api.h"

namespace qvl {

using ImageBuffer = std::array<std::uint8_t, QVL_IMAGE_SIZE>;
using FeatureBuffer = std::array<std::uint8_t, QVL_FEATURE_SIZE>;
inline constexpr std::size_t kTemplateRecordSize = QVL_RECORD_SIZE;

class ScannerLibrary {
 public:
  virtual ~ScannerLibrary() = default;
  virtual std::int16_t OpenDevice() = 0;
  virtual std::int16_t GetImage(ImageBuffer& raw_image, std::int16_t& capture_flag) = 0;
  virtual std::int16_t Process(const ImageBuffer& raw_image, FeatureBuffer& feature,
                               ImageBuffer& processed_image) = 0;
  // `ansi_path` is zero-terminated bytes in the ANSI code page.
  virtual std::int16_t SaveBmp(const char* ansi_path, const ImageBuffer& processed_image) = 0;
  // 0 when the two templates match.
  virtual std::int16_t Match(const std::uint8_t* probe, const std::uint8_t* stored,
                             std::int16_t level) = 0;
  virtual std::int16_t MatchN(const std::uint8_t* probe, const std::uint8_t* first,
                              std::int16_t count, std::int16_t level) = 0;
};

std::unique_ptr<ScannerLibrary> NewVendorScannerLibrary();

}  // namespace qvl
