// Windows side of the fault report: an unhandled-exception filter, which sees a fault only after
// every handler on the stack (the vendor library's own included) has passed it by. It works
// alike for the 32-bit build, whose stdcall entry points MinGW cannot wrap in __try.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "base/fault.h"

namespace qvl {
namespace {

ShowReport g_show = nullptr;

const char* ExceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "EXCEPTION_ACCESS_VIOLATION";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case EXCEPTION_PRIV_INSTRUCTION: return "EXCEPTION_PRIV_INSTRUCTION";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_INT_OVERFLOW: return "EXCEPTION_INT_OVERFLOW";
    case EXCEPTION_STACK_OVERFLOW: return "EXCEPTION_STACK_OVERFLOW";
    case EXCEPTION_IN_PAGE_ERROR: return "EXCEPTION_IN_PAGE_ERROR";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "EXCEPTION_DATATYPE_MISALIGNMENT";
    default: return "exception";
  }
}

LONG WINAPI OnFault(EXCEPTION_POINTERS* pointers) {
  static bool reporting = false;  // a fault in the report itself ends the process at once
  if (reporting) TerminateProcess(GetCurrentProcess(), 1);
  reporting = true;
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  char fault[64];
  std::snprintf(fault, sizeof fault, "%s 0x%08lX", ExceptionName(record.ExceptionCode),
                static_cast<unsigned long>(record.ExceptionCode));
  auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
  char where[MAX_PATH * 3 + 32];
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH];
  char name[MAX_PATH * 3];
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(record.ExceptionAddress), &module) &&
      GetModuleFileNameW(module, path, MAX_PATH) != 0 &&
      WideCharToMultiByte(CP_UTF8, 0, std::wcsrchr(path, L'\\') ? std::wcsrchr(path, L'\\') + 1 : path,
                          -1, name, sizeof name, nullptr, nullptr) != 0) {
    std::snprintf(where, sizeof where, "%s+0x%llX", name,
                  static_cast<unsigned long long>(address - reinterpret_cast<std::uintptr_t>(module)));
  } else {
    std::snprintf(where, sizeof where, "0x%llX", static_cast<unsigned long long>(address));
  }
  g_show(FaultReport(fault, where));
  // Not ExitProcess: that would run the faulty library's code again as it unloads.
  TerminateProcess(GetCurrentProcess(), 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ReportFaults(ShowReport show) {
  g_show = show;
  SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnFault);
}

}  // namespace qvl
