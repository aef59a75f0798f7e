#include "templates/identification.h"

#include "base/error.h"
#include "base/messages.h"
#include "base/numbers.h"
#include "base/os.h"
#include "window/texts.h"

namespace qvl {

DatabaseBuffer ReadDatabase(StatusWindow& window, const std::string& path, bool one_to_many) {
  // Nothing the person at the scanner can mend: the message says whom to ask.
  if (!RegularFileLength(path)) throw RunError(Say(Message::kMissingDatabase, {{"path", path}}));
  window.ShowTimer(kReadingDatabase);
  DatabaseBuffer database = ReadDatabaseFile(path);
  window.ShowTimer("");
  // The library's search takes its count as a 16-bit number.
  if (one_to_many && database.record_count() > 32767) {
    throw RunError(Say(Message::kTooManyRecords,
                       {{"path", path}, {"count", std::to_string(database.record_count())}}));
  }
  return database;
}

std::string MatchingRecords(ScannerLibrary& scanner, const DatabaseBuffer& database,
                            const FeatureBuffer& feature, std::int16_t level) {
  std::string list;
  for (std::size_t i = 0; i < database.record_count(); ++i) {
    if (scanner.Match(feature.data(), database.record(i), level) != 0) continue;
    if (!list.empty()) list += ',';
    list += std::to_string(i);
  }
  return list;
}

std::string Identify(ScannerLibrary& scanner, const DatabaseBuffer& database,
                     const FeatureBuffer& feature, std::int16_t level, bool one_to_many,
                     bool each_record) {
  std::string answer;
  if (one_to_many) {
    // Counted when the database was read: it fits.
    auto count = static_cast<std::int16_t>(database.record_count());
    answer = std::to_string(scanner.MatchN(feature.data(), database.data(), count, level));
  }
  if (each_record) answer = MatchingRecords(scanner, database, feature, level);
  return answer;
}

}  // namespace qvl
