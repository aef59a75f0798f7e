#include <dlfcn.h>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "scanner/binary_kind.h"
#include "scanner/library_loader.h"

namespace qvl {

const char kScannerLibraryName[] = "libQvlScanner.so";
const char kLibraryStartName[] = "_init";

namespace {

std::string LastLoadError() {
  const char* reason = dlerror();
  return reason ? std::string(reason) : Say(Message::kUnknownReason);
}

}  // namespace

void* LoadScannerLibrary(std::string& path) {
  // The program's own folder first, as on Windows; then the system's library path.
  std::string beside = JoinPath(ProgramFolder(), kScannerLibraryName);
  path = beside;
  if (RegularFileLength(beside)) {
    if (void* library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
    std::string reason = LastLoadError();
    if (std::optional<std::string> mismatch = MismatchMessage(beside)) throw RunError(*mismatch);
    throw RunError(Say(Message::kCannotLoad, {{"path", beside}, {"reason", reason}}));
  }
  path = kScannerLibraryName;
  if (void* library = dlopen(kScannerLibraryName, RTLD_NOW | RTLD_LOCAL)) return library;
  throw RunError(Say(Message::kLibraryNotOnPath, {{"name", kScannerLibraryName},
                                                  {"folder", ProgramFolder()},
                                                  {"reason", LastLoadError()},
                                                  {"program", "qvlcapture"}}));
}

void* FindLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

}  // namespace qvl
