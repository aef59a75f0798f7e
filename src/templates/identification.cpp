#include "templates/identification.h"

#include "base/messages.h"
#include "base/numbers.h"
#include "templates/template_files.h"
#include "window/texts.h"

namespace qvl {

std::string MatchingRecords(ScannerLibrary& scanner, const DatabaseBuffer& database,
                            const FeatureBuffer& feature, double match_level) {
  std::string list;
  std::size_t count = database.record_count();
  if (count == 0) return list;
  std::int16_t level = ToInt16(match_level, Say(Message::kMatchLevel));
  for (std::size_t i = 0; i < count; ++i) {
    if (scanner.Match(feature.data(), database.record(i), level) != 0) continue;
    if (!list.empty()) list += ',';
    list += std::to_string(i);
  }
  return list;
}

std::string IdentifyInDatabase(ScannerLibrary& scanner, StatusWindow& window,
                               const std::string& path, const FeatureBuffer& feature,
                               double match_level, bool one_to_many, bool each_record) {
  window.ShowTimer(kReadingDatabase);
  DatabaseBuffer database = ReadDatabaseFile(path);
  window.ShowTimer("");
  std::string answer;
  if (one_to_many) {
    std::int16_t count = ToInt16(static_cast<double>(database.record_count()),
                                 Say(Message::kRecordCount, {{"path", path}}));
    std::int16_t level = ToInt16(match_level, Say(Message::kMatchLevel));
    answer = std::to_string(scanner.MatchN(feature.data(), database.data(), count, level));
  }
  if (each_record) answer = MatchingRecords(scanner, database, feature, match_level);
  return answer;
}

}  // namespace qvl
