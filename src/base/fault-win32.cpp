// Windows side of the fault report: an unhandled-exception filter, which sees a fault only after
// every handler on the stack (the vendor library's own included) has passed it by. It works
// alike for the 32-bit build, whose stdcall entry points MinGW cannot wrap in __try.

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "base/fault.h"

namespace qvl {
namespace {

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
  return nullptr;  // the code alone, in no language
}

// The fault to report, handed from the thread that faulted to the reporter.
DWORD g_code = 0;
std::uintptr_t g_address = 0;
bool g_on_own_thread = false;
int g_status = 1;
HANDLE g_fault = nullptr;  // set when a fault is to be reported
DWORD g_reporter_id = 0;   // the reporter thread

// The last resort: armed, it ends the process after a while unless a person is awaited.
HANDLE g_arm = nullptr, g_disarm = nullptr;
volatile LONG g_last_status = 1, g_last_seconds = 0;

// Words and shows the report, then ends the process. Runs on the reporter thread, prepared at
// start with a whole stack of its own, so a stack overflow (which leaves the faulting thread
// almost none) or a fault on a thread of the library's own is reported all the same. The thread
// that faulted may hold any lock: the last resort, armed before, ends the process if the report
// meets one.
void Report() {
  char fault[64];
  const char* known = ExceptionName(g_code);
  FixedText(fault, sizeof fault).Add(known ? known : "").Add(known ? " " : "").Hex(g_code, 8);
  char where[MAX_PATH * 3 + 32];
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH];
  char name[MAX_PATH * 3];
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(g_address), &module) &&
      GetModuleFileNameW(module, path, MAX_PATH) != 0 &&
      WideCharToMultiByte(CP_UTF8, 0,
                          std::wcsrchr(path, L'\\') ? std::wcsrchr(path, L'\\') + 1 : path, -1,
                          name, sizeof name, nullptr, nullptr) != 0) {
    FixedText(where, sizeof where)
        .Add(name)
        .Add("+")
        .Hex(g_address - reinterpret_cast<std::uintptr_t>(module));
  } else {
    DescribeAddress(g_address, where, sizeof where);
  }
  ShowAndEnd(FaultReport(fault, g_address, where, g_on_own_thread), g_status);
}

DWORD WINAPI Reporter(void*) {
  KnowOwnThread();
  WaitForSingleObject(g_fault, INFINITE);
  Report();
  return 0;
}

DWORD WINAPI LastResort(void*) {
  KnowOwnThread();
  WaitForSingleObject(g_arm, INFINITE);
  if (WaitForSingleObject(g_disarm, static_cast<DWORD>(g_last_seconds) * 1000) == WAIT_TIMEOUT)
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_last_status));
  return 0;
}

LONG WINAPI OnFault(EXCEPTION_POINTERS* pointers) {
  auto address = reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
  bool own = OnOwnThread();
  std::optional<int> status = BeginFaultReport(address, own);
  if (!status) {
    // A fault in the report itself ends the process at once; any other thread waits for the
    // report under way to end it.
    if (GetCurrentThreadId() == g_reporter_id || !g_fault)
      TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_status));
    Sleep(INFINITE);
  }
  g_code = pointers->ExceptionRecord->ExceptionCode;
  g_address = address;
  g_on_own_thread = own;
  g_status = *status;
  if (!g_fault) Report();  // no reporter could be prepared: report here, as far as it goes
  SetEvent(g_fault);
  Sleep(INFINITE);  // the reporter ends the process
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void ModuleExtent(void* module, std::uintptr_t* begin, std::uintptr_t* end) {
  MODULEINFO info = {};
  HMODULE handle = module ? static_cast<HMODULE>(module) : GetModuleHandleW(nullptr);
  K32GetModuleInformation(GetCurrentProcess(), handle, &info, sizeof info);
  *begin = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
  *end = *begin + info.SizeOfImage;
}

std::uint64_t ThisThreadId() { return static_cast<std::uint64_t>(GetCurrentThreadId()); }

// Not ExitProcess: that would run the library's code again as it unloads, and wait for the
// loader's lock, which a hung or faulting library thread may hold.
void EndProcessNow(int status) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) Sleep(INFINITE);
}

void EndProcessAfter(int status, int seconds) {
  InterlockedExchange(&g_last_status, status);
  InterlockedExchange(&g_last_seconds, seconds);
  if (g_arm) SetEvent(g_arm);
}

void AwaitPerson() {
  // The box allocates from the process heap: when a thread that will never run again holds it,
  // this waits, and the last resort ends the process.
  HeapLock(GetProcessHeap());
  HeapUnlock(GetProcessHeap());
  if (g_disarm) SetEvent(g_disarm);
}

void InstallFaultHandler() {
  std::uintptr_t begin, end;
  ModuleExtent(nullptr, &begin, &end);
  KnowProgram("qvlcapture.exe", begin, end);
  g_arm = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_disarm = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_arm && g_disarm && !CreateThread(nullptr, 0, LastResort, nullptr, 0, nullptr)) {
    CloseHandle(g_arm);
    g_arm = nullptr;
  }
  g_fault = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (g_fault && !CreateThread(nullptr, 0, Reporter, nullptr, 0, &g_reporter_id)) {
    CloseHandle(g_fault);
    g_fault = nullptr;
  }
  // No system box of any kind: not the crash dialog, and not the loader's or the file system's
  // own boxes ("entry point not found", "no disk in the drive"), which come before the program's
  // message, in the system's language, and stall an unattended terminal.
  SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
  // Stack kept back for the filter when this thread's stack overflows (the scanner library runs
  // on it): without it the filter itself would overflow, and the process die without a word.
  ULONG guarantee = 64 * 1024;
  SetThreadStackGuarantee(&guarantee);
  SetUnhandledExceptionFilter(OnFault);
}

}  // namespace qvl
