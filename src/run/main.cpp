// The entry routine: one run per process. It alone turns an error into the message the user
// sees, and how the run ended into the exit status.

#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/fault.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/os.h"
#include "run/run.h"
#include "scanner/scanner_library.h"
#include "window/status_window.h"

namespace qvl {
namespace {

bool g_quiet = false;      // -QUIET: no box waits for a person
std::string g_error_file;  // error.txt, once the working folder is this run's

// The message of a run that an error ends: into error.txt once the folder is this run's, and in
// a box unless the caller asked for none.
void Report(const std::string& message) {
  // A message that ends with the system's reason ends with a full stop, as every other does (a
  // crash report has its own, so nothing is allocated there).
  if (!message.empty() && message.back() != '.') return Report(message + '.');
  if (!g_error_file.empty()) WriteErrorText(g_error_file, message);
  // A service that redirects standard error has the message even where error.txt cannot be
  // written (a read-only folder, a -WORKDIR: that names none).
  if (g_quiet) return WriteStandardError(message);
  AwaitPerson();
  ShowFatalError(message);
}

// The report of a crash or a hung library call: error.txt written with system calls alone, as
// the thread that faulted may hold the heap; the box, unless -QUIET, only once the heap is free.
void ReportFault(const std::string& message) {
  WriteReportFile(message);
  if (g_quiet) return WriteStandardError(message);
  AwaitPerson();
  ShowFatalError(message);
}

// Both locks, or the message of a refused start. A folder that refuses the lock file does not
// keep an old answer: nobody can be running there, so result.txt is emptied if it can be.
std::optional<std::string> TakeLocks(const std::string& folder) {
  try {
    if (!LockFolder(folder)) return Say(Message::kAlreadyRunning, {{"folder", folder}});
  } catch (const RunError&) {
    EmptyIfPossible(JoinPath(folder, "result.txt"));
    throw;
  }
  if (!LockScanner()) {
    // The folder is this start's own, busy scanner or not: its old answer goes, and error.txt
    // says why, as after any run that stops.
    g_error_file = JoinPath(folder, kErrorFileName);
    EmptyIfPossible(JoinPath(folder, "result.txt"));
    return Say(Message::kScannerBusy);
  }
  return std::nullopt;
}

// The run after the window is up; an error's message shows while the window is still there, as
// the user expects.
Ending RunInWindow(std::unique_ptr<StatusWindow>& window, const std::string& program_folder) {
  // Whatever is wrong with the command, what could be read holds: -QUIET, and the folder whose
  // old answer goes before the mistake is reported.
  Command command = TakeCommand(program_folder, CommandLineTail(), CommandLineTail(true));
  g_quiet = command.options.quiet;
  if (command.folder.empty()) throw RunError(command.mistake);  // no folder is this run's
  std::string folder = command.folder;
  // Before any file or the scanner is touched: a second start must leave the running capture
  // its answer.
  if (std::optional<std::string> refusal = TakeLocks(folder)) {
    window.reset();  // a refused start leaves nothing of its own open behind its message
    Report(*refusal);
    return Ending::kRefused;
  }
  g_error_file = JoinPath(folder, kErrorFileName);
  RemoveFile(g_error_file);
  PrepareReportFile(folder, kErrorFileName);
  std::unique_ptr<ScannerLibrary> scanner = NewVendorScannerLibrary();
  return PerformRun({*window, *scanner, SystemClock(), folder, command.options, command.mistake});
}

Ending Run() {
  std::string program_folder = ProgramFolder();
  // The window first: a caller that starts the program hidden hides the first window shown,
  // and the message of a refused start must not be that one.
  std::unique_ptr<StatusWindow> window = OpenStatusWindow();
  try {
    return RunInWindow(window, program_folder);
  } catch (const RunError& error) {
    Report(error.what());
    return error.kind() == RunError::Kind::kLibraryCrash ? Ending::kLibraryCrashed : Ending::kError;
  }
}

}  // namespace

int Main() {
  SetLanguage(UserLanguage());
  ReportFaults(ReportFault, {static_cast<int>(Ending::kLibraryCrashed), static_cast<int>(Ending::kError),
                        static_cast<int>(Ending::kLibraryHung)});
  try {
    return static_cast<int>(Run());
  } catch (const RunError& error) {
    Report(error.what());
  } catch (const std::bad_alloc&) {
    Report(Say(Message::kOutOfMemory));
  } catch (const std::exception& error) {
    Report(Say(Message::kUnexpectedFailure, {{"reason", error.what()}}));
  }
  return static_cast<int>(Ending::kError);
}

}  // namespace qvl

#ifdef _WIN32
#include <windows.h>
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return qvl::Main(); }
#else
int main() { return qvl::Main(); }
#endif
