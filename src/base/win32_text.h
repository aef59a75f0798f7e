#pragma once

// Text conversions at the Win32 API, shared by the Windows implementation files.

#include <windows.h>

#include <string>
#include <string_view>

namespace qvl {

std::wstring Widen(std::string_view utf8);
// Converts to `code_page`, a real code page number (AnsiCodePage(), never CP_ACP): the flags a
// conversion may take depend on it. `lossy` tells whether a character had no equivalent there.
// A conversion the system refuses is a RunError, never an empty text.
std::string Narrow(std::wstring_view wide, UINT code_page = CP_UTF8, bool* lossy = nullptr);
// The system's ANSI code page: 1251 on Russian Windows, 65001 where "Use Unicode UTF-8 for
// worldwide language support" is on.
UINT AnsiCodePage();
// The system's message for a Win32 error code, in UTF-8, without the trailing line break. Its
// inserts (%1, %2) name `subject`, or "the file" when none is given.
std::string Win32ErrorText(DWORD code, std::string_view subject = {});

// The system's answers the scanner lock takes, apart so that a test can give the answers Wine
// never does (it enforces no access rights). Each returns null with the last error set.
struct NamedMutexCalls {
  HANDLE (*create)(const wchar_t* name);            // created, or opened with full access
  HANDLE (*open_for_waiting)(const wchar_t* name);  // opened with SYNCHRONIZE alone
};
// Takes the named mutex until the process ends: true when taken (an abandoned one too, or one
// let go within `grace_ms`), false when another process holds it. One that another account (or an
// elevated process) created is opened with what can be had; only a lock that truly cannot be had
// is a RunError.
bool TakeNamedMutex(const std::wstring& name, const NamedMutexCalls& calls, int grace_ms);

// The scanner lock's name: Global\qvlcapture-scanner, one for the computer; or from
// QVLCAPTURE_SCANNER_LOCK (`custom`), in the computer's namespace unless it names one itself.
// Local\<name> is a lock of each session: a terminal server whose sessions each have a
// redirected scanner of their own.
std::wstring ScannerLockName(const std::wstring& custom);

}  // namespace qvl
