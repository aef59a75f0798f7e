#include <windows.h>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"
#include "base/win32_text.h"
#include "scanner/binary_kind.h"
#include "scanner/library_loader.h"

namespace qvl {

const char kScannerLibraryName[] = "QvlScanner.dll";
const char kLibraryStartName[] = "DllMain";

namespace {

// The folder the system really searches for it: a 32-bit program on 64-bit Windows that asks
// for System32 is given SysWOW64. Empty when the system does not say.
std::string SystemFolder() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  auto get = wow64 ? GetSystemWow64DirectoryW : GetSystemDirectoryW;
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = get(folder.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  folder.resize(length);
  return Narrow(folder);
}

// The libraries that the library at `path` imports and that are neither beside it nor where the
// system looks (the system folders, PATH), as "a.dll, b.dll".
std::string MissingDependencies(const std::string& path) {
  // Where the loader looks, as it is set up here: beside the library, the program's folder (the
  // DLL directory), the system folders, PATH. Asked of the loader itself, Wine would also look in
  // the current folder.
  wchar_t windows[MAX_PATH] = L"";
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring env_path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
  env_path.resize(GetEnvironmentVariableW(L"PATH", env_path.data(), env_path.size()));
  std::wstring folders = Widen(path.substr(0, path.rfind('\\'))) + L";" + Widen(ProgramFolder()) +
                         L";" + Widen(SystemFolder()) + L";" + windows + L";" + env_path;
  std::string missing;
  for (const std::string& name : ReadImportedLibraries(path)) {
    wchar_t found[MAX_PATH];
    if (CompareStringOrdinal(Widen(name.substr(0, 4)).c_str(), -1, L"api-", -1, TRUE) == CSTR_EQUAL)
      continue;  // API sets: no files, the system resolves them
    if (SearchPathW(folders.c_str(), Widen(name).c_str(), nullptr, MAX_PATH, found, nullptr) == 0)
      missing += (missing.empty() ? "" : ", ") + name;
  }
  return missing;
}

// Why the library at `path`, which is there, did not load: in words that say what to do.
RunError WhyNotLoaded(const std::string& path, DWORD error) {
  if (std::optional<std::string> mismatch = MismatchMessage(path)) return RunError(*mismatch);
  if (error == ERROR_MOD_NOT_FOUND) {
    std::string missing = MissingDependencies(path);
    if (missing.empty()) return RunError(Say(Message::kSomeDependencyMissing, {{"path", path}}));
    Message several = missing.find(',') == std::string::npos ? Message::kDependencyMissing
                                                             : Message::kDependenciesMissing;
    return RunError(Say(several, {{"path", path}, {"missing", missing}}));
  }
  // Its DllMain failed, or faulted: the loader catches that and fails the load. A fault there is
  // the library's crash, as one in any of its calls.
  if (error == ERROR_DLL_INIT_FAILED || error == ERROR_NOACCESS) {
    return RunError(
        Say(Message::kLibraryStartFailed, {{"path", path},
                                           {"entry_point", kLibraryStartName},
                                           {"reason", Win32ErrorText(error, path)}}),
        error == ERROR_NOACCESS ? RunError::Kind::kLibraryCrash : RunError::Kind::kError);
  }
  return RunError(
      Say(Message::kCannotLoad, {{"path", path}, {"reason", Win32ErrorText(error, path)}}));
}

}  // namespace

void* LoadScannerLibrary(std::string& loaded) {
  // By full path from known places only: the program's folder, then the system folder. The
  // plain name would also search the current folder and every folder on PATH, where any file
  // of that name would be loaded and run.
  std::string beside = JoinPath(ProgramFolder(), kScannerLibraryName);
  std::string system_folder = SystemFolder();
  std::string system =
      system_folder.empty() ? std::string() : JoinPath(system_folder, kScannerLibraryName);
  // Libraries that the vendor's library needs are looked for beside it (the altered search
  // path), then in the system folders and on PATH, never in the caller's current folder, where
  // any file of such a name would be loaded and run: the program's own folder takes its place.
  SetDllDirectoryW(Widen(ProgramFolder()).c_str());
  for (const std::string& path : {beside, system}) {
    if (path.empty() || !RegularFileLength(path)) continue;
    loaded = path;
    HMODULE library = LoadLibraryExW(Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) throw WhyNotLoaded(path, GetLastError());
    return reinterpret_cast<void*>(library);
  }
  throw RunError(Say(Message::kLibraryNowhere, {{"name", kScannerLibraryName},
                                                {"folder", ProgramFolder()},
                                                {"system_folder", system_folder},
                                                {"program", "qvlcapture.exe"}}));
}

void* FindLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace qvl
