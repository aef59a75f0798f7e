// Windows side of the OS services: wide-character APIs throughout, so a folder whose name the
// ANSI code page cannot spell still works.

#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
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

std::string Narrow(std::wstring_view wide, UINT code_page, bool* lossy) {
  if (lossy) *lossy = false;
  if (wide.empty()) return {};
  BOOL used_default = FALSE;
  // UTF-8 spells every character, and the system refuses these flags for it.
  bool plain = code_page == CP_UTF8;
  DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* report = plain ? nullptr : &used_default;
  int length = static_cast<int>(wide.size());
  int size =
      WideCharToMultiByte(code_page, flags, wide.data(), length, nullptr, 0, nullptr, report);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size == 0 || WideCharToMultiByte(code_page, flags, wide.data(), length, text.data(), size,
                                       nullptr, report) != size) {
    throw RunError(Say(Message::kConversionFailed, {{"code_page", std::to_string(code_page)},
                                                    {"reason", Win32ErrorText(GetLastError())}}));
  }
  if (lossy) *lossy = used_default != FALSE;
  return text;
}

Language UserLanguage() {
  // A Russian office often runs an English Windows with Russian regional settings: the window
  // speaks Russian there, and so must the messages.
  bool russian = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ||
                 PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) == LANG_RUSSIAN;
  return russian ? Language::kRussian : Language::kEnglish;
}

std::string Win32ErrorText(DWORD code, std::string_view subject) {
  // The system's reason in the language of the program's own words, where the system has it.
  WORD language = CurrentLanguage() == Language::kRussian
                      ? MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)
                      : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  wchar_t* buffer = nullptr;
  DWORD length = 0;
  for (WORD asked : {language, WORD{0}}) {
    length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, asked, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length != 0) break;
  }
  std::wstring text(buffer ? buffer : L"", length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return Say(Message::kWindowsError, {{"code", std::to_string(code)}});
  // "%1 is not a valid Win32 application.": the insert is the file, never left as it stands.
  std::wstring name = Widen(subject.empty() ? Say(Message::kTheFile) : std::string(subject));
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
  if (length == 0) {
    throw RunError(
        Say(Message::kNoProgramFolder, {{"reason", SystemErrorText(LastSystemError())}}));
  }
  path.resize(length);
  return Narrow(path.substr(0, path.rfind(L'\\')));
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}

PathKind KindOfPath(const std::string& path) {
  auto separator = [&](std::size_t at) {
    return at < path.size() && (path[at] == '\\' || path[at] == '/');
  };
  if (separator(0)) return separator(1) ? PathKind::kFull : PathKind::kAnchored;  // \\server
  if (path.size() >= 2 && path[1] == ':')
    return separator(2) ? PathKind::kFull : PathKind::kAnchored;
  return PathKind::kRelative;
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  std::wstring wide = Widen(name);
  DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  DWORD length = GetEnvironmentVariableW(wide.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  return Narrow(value);
}

std::string CommandLineTail(bool unicode) {
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
  return unicode ? Narrow(line.substr(end)) : Narrow(line.substr(end), AnsiCodePage());
}

std::string AnsiToPath(std::string_view ansi) {
  if (ansi.empty()) return {};
  int length = static_cast<int>(ansi.size());
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), size);
  return Narrow(wide);
}

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
  if (utf8.empty()) return std::string();
  int length = static_cast<int>(utf8.size());
  int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, wide.data(), size);
  bool lossy;
  std::string ansi = Narrow(wide, AnsiCodePage(), &lossy);
  if (lossy) return std::nullopt;
  return ansi;
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

// `folder` + `name` (an ASCII name) in the ANSI code page when it can spell the folder, else
// with the folder's short name; nothing when neither can be spelled.
std::optional<std::string> SpellForLibrary(const std::wstring& folder, const std::wstring& name) {
  bool lossy;
  std::string ansi = Narrow(folder + L"\\" + name, AnsiCodePage(), &lossy);
  if (!lossy) return ansi;
  std::wstring short_folder = ShortName(folder);
  if (short_folder.empty()) return std::nullopt;
  ansi = Narrow(short_folder + L"\\" + name, AnsiCodePage(), &lossy);
  if (lossy) return std::nullopt;
  return ansi;
}

}  // namespace

LibraryPath LibraryWritablePath(const std::string& folder, const std::string& name) {
  std::wstring wide_name = Widen(name);
  if (std::optional<std::string> ansi = SpellForLibrary(Widen(folder), wide_name))
    return {*ansi, JoinPath(folder, name)};
  // A volume without 8.3 names. The temporary folder is every program folder's: the name is
  // this process's own.
  std::wstring temp(MAX_PATH + 1, L'\0');
  temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
  while (!temp.empty() && temp.back() == L'\\') temp.pop_back();
  wide_name = L"qvlcapture-" + std::to_wstring(GetCurrentProcessId()) + L"-" + wide_name;
  std::optional<std::string> ansi = SpellForLibrary(temp, wide_name);
  // Where nothing spells it, the library gets the best it can have and may write nothing.
  return {ansi ? *ansi : Narrow(temp + L"\\" + wide_name, AnsiCodePage()),
          Narrow(temp + L"\\" + wide_name)};
}

bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::string_view> parts) noexcept {
  HANDLE file;
  try {
    file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  } catch (...) {
    return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (std::string_view part : parts) {
    DWORD wrote = 0;
    written = written &&
              WriteFile(file, part.data(), static_cast<DWORD>(part.size()), &wrote, nullptr) &&
              wrote == part.size();
  }
  return CloseHandle(file) && written;
}

bool RemoveFile(const std::string& path) {
  if (DeleteFileW(Widen(path).c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool MoveOver(const std::string& from, const std::string& to) {
  // Copying is allowed: the temporary folder may lie on another volume.
  return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

namespace {
HANDLE g_report_folder = INVALID_HANDLE_VALUE;
wchar_t g_report_name[64];
UNICODE_STRING g_report_unicode;
OBJECT_ATTRIBUTES g_report_object;
}  // namespace

void PrepareReportFile(const std::string& folder, const char* name) {
  if (g_report_folder != INVALID_HANDLE_VALUE) CloseHandle(g_report_folder);
  // The folder open, and the name relative to it: opening a file by its path converts the path
  // on the process heap, which the faulting thread may hold.
  g_report_folder = CreateFileW(Widen(folder).c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, g_report_name, 64);
  g_report_unicode.Buffer = g_report_name;
  g_report_unicode.Length = static_cast<USHORT>((length > 0 ? length - 1 : 0) * sizeof(wchar_t));
  g_report_unicode.MaximumLength = sizeof g_report_name;
  InitializeObjectAttributes(&g_report_object, &g_report_unicode, OBJ_CASE_INSENSITIVE,
                             g_report_folder, nullptr);
}

void WriteReportFile(std::string_view message) noexcept {
  if (g_report_folder == INVALID_HANDLE_VALUE) return;
  HANDLE file = nullptr;
  IO_STATUS_BLOCK io = {};
  if (!NT_SUCCESS(NtCreateFile(&file, GENERIC_WRITE | DELETE | SYNCHRONIZE, &g_report_object, &io,
                               nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OVERWRITE_IF,
                               FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0)))
    return;
  bool whole = true;
  for (std::string_view part : {std::string_view("\xEF\xBB\xBF"), message, std::string_view("\r\n")}) {
    DWORD wrote = 0;
    whole = whole && WriteFile(file, part.data(), static_cast<DWORD>(part.size()), &wrote, nullptr) &&
            wrote == part.size();
  }
  if (!whole) {  // rather none than half the story
    FILE_DISPOSITION_INFO gone = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
  }
  CloseHandle(file);
}

void WriteStandardError(std::string_view message) noexcept {
  HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
  if (!out || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  for (std::string_view part : {std::string_view("qvlcapture: "), message, std::string_view("\r\n")})
    WriteFile(out, part.data(), static_cast<DWORD>(part.size()), &written, nullptr);
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

SystemError LastSystemError() {
  DWORD code = GetLastError();
  if (code != 0) return {code, false};
  return {static_cast<unsigned long>(errno), true};
}

std::FILE* OpenFile(const std::string& path, const char* mode, SystemError* error) {
  std::wstring wide_path = Widen(path), wide_mode = Widen(mode) + L"N";
  // The runtime may fail before it asks the system: no stale code from an earlier call then.
  SetLastError(0);
  errno = 0;
  // N: not inherited, so a helper process the vendor's library starts never holds result.txt.
  std::FILE* file = _wfopen(wide_path.c_str(), wide_mode.c_str());
  if (!file) *error = LastSystemError();
  return file;
}

std::string SystemErrorText(SystemError error, std::string_view subject) {
  if (error.c_runtime) return std::strerror(static_cast<int>(error.code));
  return Win32ErrorText(static_cast<DWORD>(error.code), subject);
}

bool FolderRefusesWriting(const std::string& path, SystemError error) {
  if (error.c_runtime || (error.code != ERROR_ACCESS_DENIED && error.code != ERROR_WRITE_PROTECT))
    return false;
  // Windows denies access to a directory or a read-only file of that name too: the file is
  // what is wrong then.
  DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ||
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
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
