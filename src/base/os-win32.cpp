// Windows side of the OS services: wide-character APIs throughout, so a folder whose name the
// ANSI code page cannot spell still works.

#include <io.h>

#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "base/os.h"
#include "base/win32_text.h"

namespace qvl {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

UINT AnsiCodePage() { return GetACP(); }

namespace {

// Code pages that take neither WC_NO_BEST_FIT_CHARS nor a used-default report: asked for them,
// WideCharToMultiByte fails. UTF-8 (65001) and GB18030 (54936) can spell every character anyway.
bool TakesNoConversionFlags(UINT code_page) {
  return code_page == CP_UTF8 || code_page == CP_UTF7 || code_page == 42 || code_page == 54936 ||
         (code_page >= 50220 && code_page <= 50229) || (code_page >= 57002 && code_page <= 57011);
}

}  // namespace

std::string Narrow(std::wstring_view wide, UINT code_page, bool* lossy) {
  if (lossy) *lossy = false;
  if (wide.empty()) return {};
  BOOL used_default = FALSE;
  bool plain = TakesNoConversionFlags(code_page);
  DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* report = plain ? nullptr : &used_default;
  int length = static_cast<int>(wide.size());
  int size =
      WideCharToMultiByte(code_page, flags, wide.data(), length, nullptr, 0, nullptr, report);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size == 0 || WideCharToMultiByte(code_page, flags, wide.data(), length, text.data(), size,
                                       nullptr, report) != size) {
    throw RunError("Cannot convert text to code page " + std::to_string(code_page) + ": " +
                   Win32ErrorText(GetLastError()));
  }
  if (lossy) *lossy = used_default != FALSE;
  return text;
}

std::string Win32ErrorText(DWORD code, std::string_view subject) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "Windows error " + std::to_string(code);
  // "%1 is not a valid Win32 application.": the insert is the file, never left as it stands.
  std::wstring name = subject.empty() ? L"the file" : Widen(subject);
  for (std::size_t at = 0; (at = text.find(L'%', at)) != std::wstring::npos;) {
    if (at + 1 < text.size() && text[at + 1] >= L'1' && text[at + 1] <= L'9') {
      text.replace(at, 2, name);
      at += name.size();
    } else {
      ++at;
    }
  }
  return Narrow(text);
}

std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length;
  while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) ==
         path.size())
    path.resize(path.size() * 2);
  if (length == 0) throw RunError("Cannot find the program's folder: " + SystemErrorText());
  path.resize(length);
  return Narrow(path.substr(0, path.rfind(L'\\')));
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}

std::string CommandLineTail() {
  // Skip the program's name the way Windows itself parses it: quoted, or up to a blank.
  std::wstring_view line = GetCommandLineW();
  std::size_t end;
  if (!line.empty() && line[0] == L'"') {
    end = line.find(L'"', 1);
    end = end == std::wstring_view::npos ? line.size() : end + 1;
  } else {
    end = line.find_first_of(L" \t");
    if (end == std::wstring_view::npos) end = line.size();
  }
  return Narrow(line.substr(end), AnsiCodePage());
}

std::string AnsiToPath(std::string_view ansi) {
  if (ansi.empty()) return {};
  int length = static_cast<int>(ansi.size());
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), size);
  return Narrow(wide);
}

namespace {

// The folder's 8.3 name, or the empty text when the volume gives it none.
std::wstring ShortName(const std::wstring& folder) {
  std::wstring short_name(GetShortPathNameW(folder.c_str(), nullptr, 0), L'\0');
  DWORD length =
      GetShortPathNameW(folder.c_str(), short_name.data(), static_cast<DWORD>(short_name.size()));
  if (length == 0 || length >= short_name.size()) return {};
  short_name.resize(length);
  return short_name;
}

// `path` in the ANSI code page when it can spell it there, else with its folder's short name;
// nothing when neither can be spelled.
bool SpellForLibrary(const std::wstring& path, bool short_names, std::string& ansi) {
  bool lossy;
  ansi = Narrow(path, AnsiCodePage(), &lossy);
  std::size_t slash = path.rfind(L'\\');
  if (!lossy || !short_names || slash == std::wstring::npos) return !lossy;
  std::wstring short_folder = ShortName(path.substr(0, slash));
  if (short_folder.empty()) return false;
  std::string spelled = Narrow(short_folder + path.substr(slash), AnsiCodePage(), &lossy);
  if (!lossy) ansi = spelled;
  return !lossy;
}

}  // namespace

LibraryOutputPath::LibraryOutputPath(const std::string& path, bool short_names) : target_(path) {
  if (SpellForLibrary(Widen(path), short_names, ansi_)) return;
  // A fresh ASCII name (qvlXXXX.tmp) in the temporary folder. The empty file that reserves the
  // name goes at once, so only what the library writes is ever moved into place.
  std::wstring temp(MAX_PATH + 1, L'\0');
  temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
  wchar_t name[MAX_PATH + 1];
  std::string ansi;
  if (temp.empty() || !GetTempFileNameW(temp.c_str(), L"qvl", 0, name)) return;
  DeleteFileW(name);
  if (!SpellForLibrary(name, true, ansi)) return;  // the library gets the best it can have
  ansi_ = ansi;
  staged_ = Narrow(name);
}

LibraryOutputPath::~LibraryOutputPath() {
  if (!staged_.empty()) DeleteFileW(Widen(staged_).c_str());
}

void LibraryOutputPath::Commit() {
  if (staged_.empty() || GetFileAttributesW(Widen(staged_).c_str()) == INVALID_FILE_ATTRIBUTES)
    return;
  if (!MoveFileExW(Widen(staged_).c_str(), Widen(target_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    throw RunError("Cannot move " + staged_ + " to " + target_ + ": " +
                   Win32ErrorText(GetLastError(), target_));
  }
  staged_.clear();
}

bool RemoveFile(const std::string& path) {
  if (DeleteFileW(Widen(path).c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool LockFolder(const std::string& folder) {
  // A named mutex, in the namespace all sessions share (two users of one terminal-server folder),
  // named after the folder's long, upper-case path so that every spelling of it meets.
  std::wstring path = Widen(folder);
  std::wstring long_path(GetLongPathNameW(path.c_str(), nullptr, 0), L'\0');
  DWORD length =
      GetLongPathNameW(path.c_str(), long_path.data(), static_cast<DWORD>(long_path.size()));
  if (length > 0 && length < long_path.size()) path.assign(long_path.data(), length);
  CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: a mutex name cannot hold a path
  for (wchar_t c : path) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
  wchar_t name[64];
  swprintf(name, 64, L"Global\\qvlcapture-%016llx", static_cast<unsigned long long>(hash));
  // The handle stays open until the process ends; the system then drops the mutex.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  DWORD error = GetLastError();
  if (!mutex) return error != ERROR_ACCESS_DENIED;  // another user's run holds it
  return error != ERROR_ALREADY_EXISTS;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  SetLastError(0);
  return _wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

std::string SystemErrorText(std::string_view subject) {
  DWORD code = GetLastError();
  return code != 0 ? Win32ErrorText(code, subject) : std::strerror(errno);
}

namespace {

// From the open file, so a symbolic link reports its target: the path's own attributes
// (GetFileAttributesEx) would give the link, 0 bytes.
std::optional<std::uint64_t> HandleLength(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
}

}  // namespace

std::optional<std::uint64_t> RegularFileLength(const std::string& path) {
  HANDLE handle =
      CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::optional<std::uint64_t> length = HandleLength(handle);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return length;
}

std::optional<std::uint64_t> OpenFileLength(std::FILE* file) {
  return HandleLength(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

namespace {

class TickClock : public Clock {
 public:
  std::int64_t NowMs() override { return static_cast<std::int64_t>(GetTickCount64()); }
  void SleepMs(int ms) override { Sleep(static_cast<DWORD>(ms)); }
};

}  // namespace

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace qvl
