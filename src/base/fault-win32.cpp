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

// The system's own names for the faults old native code commits.
const char* ExceptionName(DWORD code) {
#define QVL_EXCEPTION(name) \
  { name, #name }
  static const struct {
    DWORD code;
    const char* name;
  } kNames[] = {
      QVL_EXCEPTION(EXCEPTION_ACCESS_VIOLATION), QVL_EXCEPTION(EXCEPTION_ILLEGAL_INSTRUCTION),
      QVL_EXCEPTION(EXCEPTION_PRIV_INSTRUCTION), QVL_EXCEPTION(EXCEPTION_INT_DIVIDE_BY_ZERO),
      QVL_EXCEPTION(EXCEPTION_INT_OVERFLOW),     QVL_EXCEPTION(EXCEPTION_STACK_OVERFLOW),
      QVL_EXCEPTION(EXCEPTION_IN_PAGE_ERROR),    QVL_EXCEPTION(EXCEPTION_DATATYPE_MISALIGNMENT),
  };
#undef QVL_EXCEPTION
  for (const auto& known : kNames) {
    if (known.code == code) return known.name;
  }
  return "exception";
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
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(record.ExceptionAddress), &module) &&
      GetModuleFileNameW(module, path, MAX_PATH) != 0 &&
      WideCharToMultiByte(CP_UTF8, 0,
                          std::wcsrchr(path, L'\\') ? std::wcsrchr(path, L'\\') + 1 : path, -1,
                          name, sizeof name, nullptr, nullptr) != 0) {
    std::snprintf(
        where, sizeof where, "%s+0x%llX", name,
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
