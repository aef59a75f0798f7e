#pragma once

#include <string>

#include "base/os.h"
#include "run/command.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// How a run ended. The values are the program's exit statuses, which callers branch on.
enum class Ending {
  kAnswered = 0,            // result.txt, feature.txt and scan.bmp are all this run's
  kError = 1,               // an error stopped the run; its message names it
  kTimedOut = 2,            // no print: the wait timed out
  kWindowClosed = 3,        // no print: the user closed the window
  kNotAPrint = 4,           // no print: the scanner reported something else
  kRefused = 5,             // another capture runs (this folder or this scanner); nothing touched
  kLibraryCrashed = 6,      // the scanner library crashed
  kAnsweredOldPicture = 7,  // answered, but without a whole scan.bmp of this run's (held, cut, none)
  kLibraryHung = 8,         // a call into the scanner library did not return in time
};

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
