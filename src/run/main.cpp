// The entry routine: one run per process. It alone turns an error into the message the user
// sees and exit status 1.

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "base/error.h"
#include "base/fault.h"
#include "base/messages.h"
#include "base/os.h"
#include "run/run.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {

int Main() {
  SetLanguage(UserLanguage());
  ReportFaults(ShowFatalError);
  std::unique_ptr<StatusWindow> window;  // outlives the error message, as the user expects
  try {
    std::string folder = ProgramFolder();
    // The window first: a caller that starts the program hidden hides the first window shown,
    // and the message of a refused start must not be that one.
    window = OpenStatusWindow();
    // Before any file or the scanner is touched: a second start must leave the running capture
    // its answer.
    if (!LockFolder(folder)) {
      window.reset();  // a refused start leaves nothing of its own open behind its message
      throw RunError(Say(Message::kAlreadyRunning, {{"folder", folder}}));
    }
    std::unique_ptr<ScannerLibrary> scanner = NewVendorScannerLibrary();
    PerformRun({*window, *scanner, SystemClock(), folder, CommandLineTail()});
    return 0;
  } catch (const RunError& error) {
    ShowFatalError(error.what());
  } catch (const std::bad_alloc&) {
    ShowFatalError(Say(Message::kOutOfMemory));
  } catch (const std::exception& error) {
    ShowFatalError(Say(Message::kUnexpectedFailure, {{"reason", error.what()}}));
  }
  return 1;
}

}  // namespace qvl

#ifdef _WIN32
#include <windows.h>
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return qvl::Main(); }
#else
int main() { return qvl::Main(); }
#endif
