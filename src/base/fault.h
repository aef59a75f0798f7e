#pragma once

// A fault of the processor (an access violation, an illegal instruction, a division by zero)
// ends the run like any other error stop: the program's own message, exit status 1, and never
// the system's crash dialog, which would keep the caller waiting for someone to dismiss it. One
// implementation file per platform (fault-win32.cpp, fault-posix.cpp); fault.cpp words the
// report.

#include <string>
#include <string_view>

namespace qvl {

using ShowReport = void (*)(const std::string& message);
// From now on a fault is shown through `show`, and then the process ends with status 1.
void ReportFaults(ShowReport show);

// Marks a call into the scanner library at `library` (its path), so that a fault during the call
// names the library and `entry_point`, the vendor's code being the likely culprit. Both must
// outlive the call.
class LibraryCall {
 public:
  LibraryCall(const std::string& library, const char* entry_point);
  ~LibraryCall();
  LibraryCall(const LibraryCall&) = delete;
  LibraryCall& operator=(const LibraryCall&) = delete;
};

// The report of `fault` (the system's name for it) at `where` (module+offset, or an address), in
// room set aside at start: a fault inside the allocator must not need the allocator.
const std::string& FaultReport(std::string_view fault, std::string_view where);

}  // namespace qvl
