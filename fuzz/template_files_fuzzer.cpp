// Fuzzes the template-file readers and what is built on them: verify1.bin loading, the database
// read, and identification with a matcher that compares first bytes. Checks the buffers and the
// record list against the file itself.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "base/error.h"
#include "templates/enrollment.h"
#include "templates/identification.h"
#include "templates/template_files.h"
#include "testing/fakes.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The record numbers whose first byte equals the probe's, the way the list must show them.
std::string ExpectedList(const std::uint8_t* data, std::size_t size, std::uint8_t probe) {
  std::string list;
  for (std::size_t i = 0; i + 256 <= size; i += 256) {
    if (data[i] != probe) continue;
    if (!list.empty()) list += ',';
    list += std::to_string(i / 256);
  }
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qvl::ScopedTempDir dir;
  std::string path = dir.File("input.bin");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                              static_cast<std::streamsize>(size));
  qvl::FakeWindow window;
  qvl::FakeScanner scanner;

  qvl::FeatureBuffer stored{};
  try {
    qvl::LoadTemplateFile(path, stored, window);
    Check(size <= stored.size());
    Check(size == 0 || std::memcmp(stored.data(), data, size) == 0);
    Check(std::string(stored.size() - size, '\0') ==
          std::string(reinterpret_cast<const char*>(stored.data()) + size, stored.size() - size));
  } catch (const qvl::RunError&) {
    Check(size > stored.size());
  }
  Check(qvl::FeatureText(stored).size() >= 257 * 3);

  qvl::DatabaseBuffer database = qvl::ReadDatabaseFile(path);
  Check(database.file_length() == size && database.data()[size] == 0);
  qvl::FeatureBuffer probe{};
  probe[0] = size > 0 ? data[0] : 0;
  std::string list =
      qvl::IdentifyInDatabase(scanner, window, path, probe, size % 7, size % 3 == 0, true);
  Check(list == ExpectedList(data, size, probe[0]));
  return 0;
}
