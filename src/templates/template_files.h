#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// Loads a stored template into `target` from its first byte; bytes past the file's end stay as
// they were. A file longer than the buffer is a RunError naming it. The window's events are
// processed once per byte, so it repaints while a slow disk answers.
void LoadTemplateFile(const std::string& path, FeatureBuffer& target, StatusWindow& window);

// A template database in memory: the whole file plus one zero byte after it, because the
// library may read a byte past the last record.
class DatabaseBuffer {
 public:
  explicit DatabaseBuffer(std::size_t file_length);
  std::uint8_t* data() { return bytes_.get(); }
  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t file_length() const { return file_length_; }
  std::size_t record_count() const { return file_length_ / kTemplateRecordSize; }
  const std::uint8_t* record(std::size_t index) const {
    return bytes_.get() + index * kTemplateRecordSize;
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t file_length_;
};

// Reads a whole database file with one read call. A missing file, a folder, or a file too large
// for memory is a RunError naming the path.
DatabaseBuffer ReadDatabaseFile(const std::string& path);

}  // namespace qvl
