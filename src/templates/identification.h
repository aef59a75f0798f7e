#pragma once

#include <string>

#include "scanner/scanner_library.h"
#include "templates/template_files.h"
#include "window/status_window.h"

namespace qvl {

// The numbers of the records that match `feature`, in increasing order, comma-separated.
std::string MatchingRecords(ScannerLibrary& scanner, const DatabaseBuffer& database,
                            const FeatureBuffer& feature, double match_level);

// Searches the template database at `path` for the captured template. One-to-many
// (`one_to_many`) reports the library's answer in decimal; record by record (`each_record`)
// lists the numbers of all matching records, comma-separated, possibly empty. With both, the
// list is the answer. A missing database stops the run, as does a one-to-many search over more
// records than 16 bits can count or a match level that does not fit 16 bits.
std::string IdentifyInDatabase(ScannerLibrary& scanner, StatusWindow& window,
                               const std::string& path, const FeatureBuffer& feature,
                               double match_level, bool one_to_many, bool each_record);

}  // namespace qvl
