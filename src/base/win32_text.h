#pragma once

// Text conversions at the Win32 API, shared by the Windows implementation files.

#include <windows.h>

#include <string>
#include <string_view>

namespace qvl {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide, UINT code_page = CP_UTF8, bool* lossy = nullptr);
// The system's message for a Win32 error code, in UTF-8, without the trailing line break.
std::string Win32ErrorText(DWORD code);

}  // namespace qvl
