#pragma once

#include <cstdint>
#include <string>

#include "scanner/scanner_library.h"
#include "templates/template_files.h"
#include "window/status_window.h"

namespace qvl {

// Reads the template database at `path` whole, before the finger is asked for: a missing or
// unreadable database stops the run before anyone puts a finger down, and a file rewritten
// during the wait cannot change the answer. With `one_to_many`, more records than 16 bits can
// count stop the run too.
DatabaseBuffer ReadDatabase(StatusWindow& window, const std::string& path, bool one_to_many);

// The numbers of the records that match `feature`, in increasing order, comma-separated.
std::string MatchingRecords(ScannerLibrary& scanner, const DatabaseBuffer& database,
                            const FeatureBuffer& feature, std::int16_t level);

// Searches the database for the captured template. One-to-many (`one_to_many`) reports the
// library's answer in decimal; record by record (`each_record`) lists the numbers of all
// matching records, possibly none. With both, the list is the answer.
std::string Identify(ScannerLibrary& scanner, const DatabaseBuffer& database,
                     const FeatureBuffer& feature, std::int16_t level, bool one_to_many,
                     bool each_record);

}  // namespace qvl
