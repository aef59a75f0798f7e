#pragma once

#include <string>

#include "base/ending.h"
#include "base/os.h"
#include "run/command.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// The file that holds the message of a run that ended with one, in the working folder.
inline constexpr char kErrorFileName[] = "error.txt";

// What a run talks to: the window, the scanner library, the clock, where it lives and what the
// caller asked for.
struct RunContext {
  StatusWindow& window;
  ScannerLibrary& scanner;
  Clock& clock;
  std::string folder;  // the working folder: every file of the run lives here
  const RunOptions& options;
  // Why the command could not be taken, or empty. Reported once result.txt is emptied.
  std::string intake_error;
};

// One whole run, from emptying result.txt to returning the focus. Errors that stop the run come
// out as RunError, with result.txt left empty.
Ending PerformRun(const RunContext& context);

}  // namespace qvl
