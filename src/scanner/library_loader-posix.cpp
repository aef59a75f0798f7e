#include <dlfcn.h>

#include "base/error.h"
#include "base/os.h"
#include "scanner/library_loader.h"

namespace qvl {

const char kScannerLibraryName[] = "libQvlScanner.so";

void* LoadScannerLibrary() {
  // The program's own folder first, as on Windows; then the system's search path.
  std::string beside = JoinPath(ProgramFolder(), kScannerLibraryName);
  void* library = RegularFileLength(beside) ? dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)
                                            : dlopen(kScannerLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    throw RunError(std::string("Cannot load the scanner library ") + kScannerLibraryName + ": " +
                   (reason ? reason : "unknown reason"));
  }
  return library;
}

void* FindLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

}  // namespace qvl
