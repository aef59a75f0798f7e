#pragma once

// A fault of the processor (an access violation, an illegal instruction, a division by zero, a
// stack overflow) ends the run like any other error stop: the program's own message and exit
// status, never the system's crash dialog, which would keep the caller waiting for someone to
// dismiss it. One implementation file per platform (fault-win32.cpp, fault-posix.cpp); fault.cpp
// decides whom to blame and words the report.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvl {

// Shows the report of a fault or of a hung library call. It runs where the fault happened (on
// Linux inside a signal handler), so it should neither allocate nor take a lock; whatever it
// meets, the process ends with the ending's status within kReportSeconds.
using ShowReport = void (*)(const std::string& report);
// The exit statuses of the endings a report tells of.
struct FaultEndings {
  int library_crash;
  int program_crash;
  int library_hung;
};
inline constexpr int kReportSeconds = 5;
// A call into the scanner library (or its start-up routine) that has not returned after this
// long is taken for hung: a driver stuck on a USB reset must not hold a terminal for ever.
inline constexpr int kLibraryCallSeconds = 30;
// From now on a fault, or a library call past its deadline, is shown through `show`, and then
// the process ends with the status of its ending.
void ReportFaults(ShowReport show, FaultEndings endings);

// A report is about to wait for a person (a message box): from here on the process no longer
// ends by itself, unless the system's heap is held by a thread that will never let it go.
void AwaitPerson();
// The run calls this before it writes an answer: once a report is under way, it waits here for
// the report to end the process.
void HoldIfEnding();
// Marks the calling thread as the program's own: a fault on any other thread is the library's.
void KnowOwnThread();
bool OnOwnThread();

// While the scanner library at `path` loads, every fault is its own: only its start-up routine
// (`start_routine`) runs then. `path` is filled in before that code runs, and must outlive this.
class LibraryLoad {
 public:
  LibraryLoad(const std::string& path, const char* start_routine);
  ~LibraryLoad();
  LibraryLoad(const LibraryLoad&) = delete;
  LibraryLoad& operator=(const LibraryLoad&) = delete;
};

// The loaded scanner library occupies [begin, end): a fault at an address there is its own, on
// whichever thread it happens, a thread of the library's own included.
void BlameLibrary(std::uintptr_t begin, std::uintptr_t end);

// Where a loaded module lies in memory, [begin, end): `module` is what the platform's loader
// returned (dlopen, LoadLibrary), or nullptr for the program itself.
void ModuleExtent(void* module, std::uintptr_t* begin, std::uintptr_t* end);

// Marks a call into the scanner library. The report names it as the call that was running: a
// hint, as the fault may be on a thread of the library's own.
class LibraryCall {
 public:
  explicit LibraryCall(const char* entry_point);
  ~LibraryCall();
  LibraryCall(const LibraryCall&) = delete;
  LibraryCall& operator=(const LibraryCall&) = delete;
};

// The watcher's reading of what it sees at each look: the call that runs (or none) and its
// number, which grows as each call begins. Hung once one call has run under one number for
// kLibraryCallSeconds: identification makes many short calls that take longer than that in all.
class CallWatch {
 public:
  bool Hung(const char* call, std::uint32_t number, std::chrono::steady_clock::time_point now);

 private:
  const char* seen_call_ = nullptr;
  std::uint32_t seen_number_ = 0;
  std::chrono::steady_clock::time_point seen_since_;
};

// "text" and "0x1F" (hexadecimal, at least `digits` of them) written into `out` (room for `size`
// bytes, the last for a zero), cut short where it ends, without the C runtime: its printf may
// take a lock or allocate (MinGW's does), and the thread that faulted may hold either. Returns
// what was written so far.
class FixedText {
 public:
  FixedText(char* out, std::size_t size) : out_(out), end_(out + size - 1) { *out_ = '\0'; }
  FixedText& Add(const char* text);
  FixedText& Hex(std::uint64_t value, int digits = 1);
  FixedText& Decimal(std::uint64_t value);

 private:
  FixedText& Digits(std::uint64_t value, unsigned base, int digits);
  char* out_;
  char* end_;
};

// The module at `address` as "name+0xoffset" where the program knows it without asking the
// system (the scanner library, the program itself), else the bare address; into `out`, which
// must have room.
void DescribeAddress(std::uintptr_t address, char* out, std::size_t size);
// The program's own image, for DescribeAddress.
void KnowProgram(const char* name, std::uintptr_t begin, std::uintptr_t end);

// Whether a fault at `address` is the scanner library's: anything on a thread the program did
// not start, and on the program's own threads the library's code, the system's code it called
// (memcpy with its bad pointer), and anything while it loads.
bool BlamesLibrary(std::uintptr_t address, bool on_own_thread);
// The report of `fault` (the system's name for it) at `address`, described as `where`, in room
// set aside at start: a fault inside the allocator must not need the allocator.
const std::string& FaultReport(std::string_view fault, std::uintptr_t address,
                               std::string_view where, bool on_own_thread);

// For the platform's handlers (fault-posix.cpp, fault-win32.cpp).
// Begins the report of a fault at `address` and says its exit status: from now on the run holds
// (HoldIfEnding) and the process ends within kReportSeconds unless a person is awaited. Nullopt
// when another report is under way.
std::optional<int> BeginFaultReport(std::uintptr_t address, bool on_own_thread);
// Shows the report, then ends the process with `status`.
[[noreturn]] void ShowAndEnd(const std::string& report, int status);

// The platform's side, for fault.cpp.
// The calling thread's id, as the system counts threads.
std::uint64_t ThisThreadId();
// Installs the handler of the processor's faults.
void InstallFaultHandler();
// Ends the process with `status` now, running none of the library's code on the way out.
[[noreturn]] void EndProcessNow(int status);
// Ends the process with `status` after `seconds`, whatever happens meanwhile.
void EndProcessAfter(int status, int seconds);

}  // namespace qvl
