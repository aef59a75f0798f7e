#include "base/fault.h"

#include "base/messages.h"

namespace qvl {
namespace {

const std::string* g_library = nullptr;
const char* g_entry_point = nullptr;

std::string Reserved(std::size_t size) {
  std::string room;
  room.reserve(size);
  return room;
}
std::string g_report = Reserved(4096);  // set aside when the program starts

}  // namespace

LibraryCall::LibraryCall(const std::string& library, const char* entry_point) {
  g_library = &library;
  g_entry_point = entry_point;
}

LibraryCall::~LibraryCall() { g_entry_point = nullptr; }

const std::string& FaultReport(std::string_view fault, std::string_view where) {
  g_report.clear();
  if (g_entry_point) {
    AppendSaid(g_report, Message::kLibraryFault,
               {{"library", *g_library},
                {"entry_point", g_entry_point},
                {"fault", fault},
                {"where", where}});
  } else {
    AppendSaid(g_report, Message::kProgramFault, {{"fault", fault}, {"where", where}});
  }
  return g_report;
}

}  // namespace qvl
