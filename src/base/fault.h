#pragma once

// A fault of the processor (an access violation, an illegal instruction, a division by zero, a
// stack overflow) ends the run like any other error stop: the program's own message and exit
// status, never the system's crash dialog, which would keep the caller waiting for someone to
// dismiss it. One implementation file per platform (fault-win32.cpp, fault-posix.cpp); fault.cpp
// decides whom to blame and words the report.

#include <cstdint>
#include <string>
#include <string_view>

namespace qvl {

// Shows the report of a fault, in the scanner library or not, and says the exit status to end
// with. It runs where the fault happened (on Linux inside a signal handler), so it must neither
// allocate nor take a lock.
using ShowReport = int (*)(const std::string& report, bool in_library);
// From now on a fault is shown through `show`, and then the process ends.
void ReportFaults(ShowReport show);

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

// The module at `address` as "name+0xoffset" where the program knows it without asking the
// system (the scanner library, the program itself), else the bare address; into `out`, which
// must have room.
void DescribeAddress(std::uintptr_t address, char* out, std::size_t size);
// The program's own image, for DescribeAddress.
void KnowProgram(const char* name, std::uintptr_t begin, std::uintptr_t end);

// The report of `fault` (the system's name for it) at `address`, described as `where`, in room
// set aside at start: a fault inside the allocator must not need the allocator. `in_library`
// says whom it blames.
const std::string& FaultReport(std::string_view fault, std::uintptr_t address,
                               std::string_view where, bool* in_library);

}  // namespace qvl
