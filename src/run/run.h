#pragma once

#include <string>

#include "base/os.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

// What a run talks to: the window, the scanner library, the clock, and where it lives.
struct RunContext {
  StatusWindow& window;
  ScannerLibrary& scanner;
  Clock& clock;
  std::string folder;             // the program's folder; every file lives here
  std::string command_line_tail;  // used when command.txt is missing or blank
};

// One whole run, from emptying result.txt to returning the focus. Errors that stop the run
// come out as RunError, with result.txt left empty.
void PerformRun(const RunContext& context);

}  // namespace qvl
