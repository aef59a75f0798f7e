#include "base/fault.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

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

ShowReport g_show = nullptr;
FaultEndings g_endings{};
std::atomic<bool> g_ending{false};            // a report is under way
std::atomic<std::uint64_t> g_own_threads[8];  // the threads the program started

// The watch over the library's calls. Identification calls the library once per record, so a
// call only publishes its name and number with plain atomic stores: no lock, no system call, no
// wake-up. The watching thread looks a few times a second and reports a call it has seen under
// the same number for kLibraryCallSeconds. 32 bits of numbering: no build needs a lock for it.
std::atomic<const char*> g_call{nullptr};
std::atomic<std::uint32_t> g_call_number{0};
constexpr auto kWatchPeriod = std::chrono::milliseconds(250);

[[noreturn]] void Hold() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

void WatchCall(const char* call) {
  // Only the run thread writes: the number needs no read-modify-write.
  if (call) g_call_number.store(g_call_number.load(std::memory_order_relaxed) + 1,
                                std::memory_order_relaxed);
  g_call.store(call, std::memory_order_release);
}

[[noreturn]] void ReportHang(const char* call) {
  if (g_ending.exchange(true)) Hold();
  EndProcessAfter(g_endings.library_hung, kReportSeconds);
  char seconds[16];
  FixedText(seconds, sizeof seconds).Decimal(kLibraryCallSeconds);
  g_report.clear();
  AppendSaid(g_report, Message::kLibraryHung,
             {{"library", g_library ? std::string_view(*g_library) : std::string_view()},
              {"entry_point", call},
              {"seconds", seconds}});
  ShowAndEnd(g_report, g_endings.library_hung);
}

void WatchCalls() {
  KnowOwnThread();
  CallWatch watch;
  for (;;) {
    std::this_thread::sleep_for(kWatchPeriod);
    std::uint32_t number = g_call_number.load(std::memory_order_relaxed);
    const char* call = g_call.load(std::memory_order_acquire);
    if (watch.Hung(call, number, std::chrono::steady_clock::now())) ReportHang(call);
  }
}

}  // namespace

bool CallWatch::Hung(const char* call, std::uint32_t number,
                     std::chrono::steady_clock::time_point now) {
  // A number only grows as a call begins: the same number with a call at both looks is the
  // same call, running all along.
  if (!call || number != seen_number_ || call != seen_call_) {
    seen_number_ = number;
    seen_call_ = call;
    seen_since_ = now;
    return false;
  }
  return now - seen_since_ >= std::chrono::seconds(kLibraryCallSeconds);
}

void ReportFaults(ShowReport show, FaultEndings endings) {
  g_show = show;
  g_endings = endings;
  KnowOwnThread();
  InstallFaultHandler();
  std::thread(WatchCalls).detach();
}

bool BlamesLibrary(std::uintptr_t address, bool on_own_thread) {
  if (!g_library) return false;
  if (!on_own_thread || g_start_routine) return true;
  if (address >= g_library_begin && address < g_library_end) return true;
  bool in_program = address >= g_program_begin && address < g_program_end;
  return g_entry_point && !in_program;
}

std::optional<int> BeginFaultReport(std::uintptr_t address, bool on_own_thread) {
  if (g_ending.exchange(true)) return std::nullopt;
  int status =
      BlamesLibrary(address, on_own_thread) ? g_endings.library_crash : g_endings.program_crash;
  EndProcessAfter(status, kReportSeconds);
  return status;
}

void ShowAndEnd(const std::string& report, int status) {
  if (g_show) g_show(report);
  EndProcessNow(status);
}

void HoldIfEnding() {
  if (g_ending) Hold();
}

void KnowOwnThread() {
  for (auto& slot : g_own_threads) {
    std::uint64_t free = 0;
    if (slot.compare_exchange_strong(free, ThisThreadId())) return;
  }
}

bool OnOwnThread() {
  std::uint64_t self = ThisThreadId();
  for (const auto& slot : g_own_threads) {
    if (slot == self) return true;
  }
  return false;
}

LibraryLoad::LibraryLoad(const std::string& path, const char* start_routine) {
  g_library = &path;
  g_start_routine = start_routine;
  WatchCall(start_routine);
}

LibraryLoad::~LibraryLoad() {
  WatchCall(nullptr);
  g_start_routine = nullptr;
  HoldIfEnding();
}

void BlameLibrary(std::uintptr_t begin, std::uintptr_t end) {
  g_library_begin = begin;
  g_library_end = end;
}

LibraryCall::LibraryCall(const char* entry_point) {
  g_entry_point = entry_point;
  WatchCall(entry_point);
}

LibraryCall::~LibraryCall() {
  WatchCall(nullptr);
  g_entry_point = nullptr;
  HoldIfEnding();  // a call that returns while its hang is reported
}

FixedText& FixedText::Add(const char* text) {
  while (*text && out_ < end_) *out_++ = *text++;
  *out_ = '\0';
  return *this;
}

FixedText& FixedText::Hex(std::uint64_t value, int digits) {
  return Add("0x").Digits(value, 16, digits);
}

FixedText& FixedText::Decimal(std::uint64_t value) { return Digits(value, 10, 1); }

FixedText& FixedText::Digits(std::uint64_t value, unsigned base, int digits) {
  char reversed[20];
  int count = 0;
  do {
    reversed[count++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value || count < digits);
  while (count > 0 && out_ < end_) *out_++ = reversed[--count];
  *out_ = '\0';
  return *this;
}

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
  if (name) {
    FixedText(out, size).Add(name).Add("+").Hex(address - base);
  } else {
    FixedText(out, size).Hex(address);
  }
}

const std::string& FaultReport(std::string_view fault, std::uintptr_t address,
                               std::string_view where, bool on_own_thread) {
  g_report.clear();
  if (!BlamesLibrary(address, on_own_thread)) {
    AppendSaid(g_report, Message::kProgramFault, {{"fault", fault}, {"where", where}});
  } else if (const char* call = !on_own_thread    ? nullptr
                                : g_start_routine ? g_start_routine
                                                  : g_entry_point) {
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
