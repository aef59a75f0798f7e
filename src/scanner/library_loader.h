#pragma once

// Loading the scanner library: one implementation per platform (library_loader-posix.cpp,
// library_loader-win32.cpp). The library is never unloaded; the process end releases it.

#include <string>

namespace qvl {

// The library's name as the user would look for it.
extern const char kScannerLibraryName[];

// What runs of the library while it loads: its start-up routine, by the platform's name.
extern const char kLibraryStartName[];

// Loads the scanner library, or throws a RunError naming it and the system's reason. `path` gets
// the file it is being loaded from before the library's own code runs.
void* LoadScannerLibrary(std::string& path);

// The address of an exported function, or nullptr when the library has none of that name.
void* FindLibrarySymbol(void* library, const char* name);

}  // namespace qvl
