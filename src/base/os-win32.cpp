// Windows side of the OS services: wide-character APIs throughout, so a folder whose name the
// ANSI code page cannot spell still works.

#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "base/os.h"
#include "base/win32_text.h"

namespace qvl {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string Narrow(std::wstring_view wide, UINT code_page, bool* lossy) {
  if (lossy) *lossy = false;
  if (wide.empty()) return {};
  // Only the ANSI code page can report a character it had to replace.
  BOOL used_default = FALSE;
  DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* report = code_page == CP_UTF8 ? nullptr : &used_default;
  int length = static_cast<int>(wide.size());
  int size = WideCharToMultiByte(code_page, flags, wide.data(), length, nullptr, 0, nullptr, report);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), length, text.data(), size, nullptr, report);
  if (lossy) *lossy = used_default != FALSE;
  return text;
}

std::string Win32ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "Windows error " + std::to_string(code);
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
  return Narrow(line.substr(end), CP_ACP);
}

std::string AnsiToPath(std::string_view ansi) {
  if (ansi.empty()) return {};
  int length = static_cast<int>(ansi.size());
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), size);
  return Narrow(wide);
}

std::string PathForLibrary(const std::string& path) {
  std::wstring wide = Widen(path);
  bool lossy;
  std::string ansi = Narrow(wide, CP_ACP, &lossy);
  std::size_t slash = wide.rfind(L'\\');
  if (!lossy || slash == std::wstring::npos) return ansi;
  // The file may not exist yet, but its folder does, and an 8.3 name is plain ASCII.
  std::wstring folder = wide.substr(0, slash);
  std::wstring short_folder(GetShortPathNameW(folder.c_str(), nullptr, 0), L'\0');
  DWORD length = GetShortPathNameW(folder.c_str(), short_folder.data(),
                                   static_cast<DWORD>(short_folder.size()));
  if (length == 0 || length >= short_folder.size()) return ansi;
  short_folder.resize(length);
  std::string short_ansi = Narrow(short_folder + wide.substr(slash), CP_ACP, &lossy);
  return lossy ? ansi : short_ansi;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  SetLastError(0);
  return _wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

std::string SystemErrorText() {
  DWORD code = GetLastError();
  return code != 0 ? Win32ErrorText(code) : std::strerror(errno);
}

std::optional<std::uint64_t> RegularFileLength(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
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
