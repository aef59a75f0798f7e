#include <windows.h>

#include "base/error.h"
#include "base/os.h"
#include "base/win32_text.h"
#include "scanner/binary_kind.h"
#include "scanner/library_loader.h"

namespace qvl {

const char kScannerLibraryName[] = "QvlScanner.dll";

namespace {

// Why the library at `path`, which is there, did not load: in words that say what to do.
std::string WhyNotLoaded(const std::string& path, DWORD error) {
  if (std::optional<std::string> mismatch = MismatchMessage(path)) return *mismatch;
  if (error == ERROR_MOD_NOT_FOUND) {
    return path +
           " is there, but a library that it needs is missing. Install what the scanner "
           "vendor's library requires (its runtime or driver package).";
  }
  return "Cannot load the scanner library " + path + ": " + Win32ErrorText(error, path);
}

}  // namespace

void* LoadScannerLibrary() {
  // By full path from known places only: the program's folder, then the system folder. The
  // plain name would also search the current folder and every folder on PATH, where any file
  // of that name would be loaded and run.
  std::string beside = JoinPath(ProgramFolder(), kScannerLibraryName);
  wchar_t system_folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
  std::string system =
      length > 0 && length < MAX_PATH
          ? JoinPath(Narrow(std::wstring_view(system_folder, length)), kScannerLibraryName)
          : std::string();
  for (const std::string& path : {beside, system}) {
    if (path.empty() || !RegularFileLength(path)) continue;
    // Altered search path: a library that the vendor's library needs is looked for beside it.
    HMODULE library = LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) throw RunError(WhyNotLoaded(path, GetLastError()));
    return reinterpret_cast<void*>(library);
  }
  throw RunError(std::string("The scanner library ") + kScannerLibraryName +
                 " is neither in the program's folder (" + ProgramFolder() +
                 ") nor in the system folder (" + Narrow(system_folder) +
                 "). Place the scanner vendor's " + kScannerLibraryName +
                 " beside qvlcapture.exe.");
}

void* FindLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace qvl
