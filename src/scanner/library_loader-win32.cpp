#include <windows.h>

#include "base/error.h"
#include "base/win32_text.h"
#include "scanner/library_loader.h"

namespace qvl {

const char kScannerLibraryName[] = "QvlScanner.dll";

void* LoadScannerLibrary() {
  // Take the current directory out of the search order: that is where a planted DLL would sit.
  // The program's own folder stays first.
  SetDllDirectoryW(L"");
  HMODULE library = LoadLibraryW(L"QvlScanner.dll");
  if (!library) {
    throw RunError(std::string("Cannot load the scanner library ") + kScannerLibraryName + ": " +
                   Win32ErrorText(GetLastError()));
  }
  return reinterpret_cast<void*>(library);
}

void* FindLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace qvl
