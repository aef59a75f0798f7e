#include "base/fault.h"

#include <cstdio>
#include <cstring>

#include "base/messages.h"

namespace qvl {
namespace {

// What the report needs, set while the program runs normally and only read after a fault.
const std::string* g_library = nullptr;
const char* g_start_routine = nullptr;  // set while the library loads
std::uintptr_t g_library_begin = 0, g_library_end = 0;
const char* g_entry_point = nullptr;  // the library's call that is running
const char* g_program_name = "";
std::uintptr_t g_program_begin = 0, g_program_end = 0;

std::string Reserved(std::size_t size) {
  std::string room;
  room.reserve(size);
  return room;
}
std::string g_report = Reserved(4096);  // set aside when the program starts

const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* c = path; *c; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  return name;
}

// The library's own code, or the system's code that it called (memcpy with its bad pointer),
// or anything while it loads; never the program's own code.
bool InLibrary(std::uintptr_t address) {
  if (g_start_routine || (address >= g_library_begin && address < g_library_end)) return true;
  bool in_program = address >= g_program_begin && address < g_program_end;
  return g_entry_point && !in_program;
}

}  // namespace

LibraryLoad::LibraryLoad(const std::string& path, const char* start_routine) {
  g_library = &path;
  g_start_routine = start_routine;
}

LibraryLoad::~LibraryLoad() { g_start_routine = nullptr; }

void BlameLibrary(std::uintptr_t begin, std::uintptr_t end) {
  g_library_begin = begin;
  g_library_end = end;
}

LibraryCall::LibraryCall(const char* entry_point) { g_entry_point = entry_point; }

LibraryCall::~LibraryCall() { g_entry_point = nullptr; }

void KnowProgram(const char* name, std::uintptr_t begin, std::uintptr_t end) {
  g_program_name = name;
  g_program_begin = begin;
  g_program_end = end;
}

void DescribeAddress(std::uintptr_t address, char* out, std::size_t size) {
  const char* name = nullptr;
  std::uintptr_t base = 0;
  if (g_library && address >= g_library_begin && address < g_library_end) {
    name = BaseName(g_library->c_str());
    base = g_library_begin;
  } else if (address >= g_program_begin && address < g_program_end) {
    name = g_program_name;
    base = g_program_begin;
  }
  // snprintf of integers and strings takes no lock in glibc or the Windows C runtime.
  if (name) {
    std::snprintf(out, size, "%s+0x%llX", name, static_cast<unsigned long long>(address - base));
  } else {
    std::snprintf(out, size, "0x%llX", static_cast<unsigned long long>(address));
  }
}

const std::string& FaultReport(std::string_view fault, std::uintptr_t address,
                               std::string_view where, bool* in_library) {
  g_report.clear();
  *in_library = g_library && InLibrary(address);
  if (!*in_library) {
    AppendSaid(g_report, Message::kProgramFault, {{"fault", fault}, {"where", where}});
  } else if (const char* call = g_start_routine ? g_start_routine : g_entry_point) {
    AppendSaid(
        g_report, Message::kLibraryFault,
        {{"library", *g_library}, {"entry_point", call}, {"fault", fault}, {"where", where}});
  } else {
    AppendSaid(g_report, Message::kLibraryThreadFault,
               {{"library", *g_library}, {"fault", fault}, {"where", where}});
  }
  return g_report;
}

}  // namespace qvl
