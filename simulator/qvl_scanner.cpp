// The stand-in scanner library: the six entry points of QvlScanner.dll, behaving like a scanner
// with a simulated finger on it. Configured by its own environment variables (README.md here).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#endif

#include "finger.h"
#include "scanner/qvl_api.h"

#ifdef _WIN32
#define QVL_EXPORT extern "C" __declspec(dllexport)
#else
#define QVL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using Clock = std::chrono::steady_clock;

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

// When the finger arrives: QVLSIM_ARRIVE is "<n>ms" after opening (2000ms unless set),
// "<n>polls" (the n-th poll sees it), "file:<path>" (the first poll after that file exists: a
// test lets the finger go when it is ready) or "never".
struct Arrival {
  enum Kind { kAfterMs, kAfterPolls, kWhenFile, kNever } kind = kAfterMs;
  long count = 2000;
  std::string file;
};

Arrival ReadArrival() {
  Arrival arrival;
  const char* text = std::getenv("QVLSIM_ARRIVE");
  if (!text || !*text) return arrival;
  char* unit = nullptr;
  long count = std::strtol(text, &unit, 10);
  if (std::strcmp(text, "never") == 0) arrival.kind = Arrival::kNever;
  if (std::strncmp(text, "file:", 5) == 0) arrival = {Arrival::kWhenFile, 0, text + 5};
  if (std::strcmp(unit, "polls") == 0) arrival = {Arrival::kAfterPolls, count};
  if (std::strcmp(unit, "ms") == 0) arrival = {Arrival::kAfterMs, count};
  return arrival;
}

// The device as one process sees it.
struct Device {
  bool open = false;
  Clock::time_point opened_at;
  long polls = 0;
  std::uint32_t captures = 0;
  std::uint32_t noise_seed = 0;
};
Device g_device;

// Whether the comma-separated list in variable `name` holds `operation`.
bool Listed(const char* name, const char* operation) {
  const char* list = std::getenv(name);
  if (!list) return false;
  std::string padded = "," + std::string(list) + ",";
  return padded.find("," + std::string(operation) + ",") != std::string::npos;
}

bool Fails(const char* operation) { return Listed("QVLSIM_FAIL", operation); }

bool Exists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file) std::fclose(file);
  return file != nullptr;
}

// Every call starts here. QVLSIM_LOG names a file that gets a line per call, so a test can
// tell whether the library was called at all. A slow device or a busy library: QVLSIM_DELAY_MS
// is how long a call takes, and QVLSIM_DELAY_CALLS names the calls that take it (open, poll,
// process, bmp, match, matchn); every call but match when it is not set.
void Delay(const char* operation) {
  if (const char* log = std::getenv("QVLSIM_LOG")) {
    if (std::FILE* file = std::fopen(log, "a")) {
      std::fprintf(file, "%s\n", operation);
      std::fclose(file);
    }
  }
  long ms = EnvNumber("QVLSIM_DELAY_MS", 0);
  bool delayed = std::getenv("QVLSIM_DELAY_CALLS") ? Listed("QVLSIM_DELAY_CALLS", operation)
                                                   : std::strcmp(operation, "match") != 0;
  if (ms > 0 && delayed) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  // A driver stuck on a USB reset: QVLSIM_HANG names the calls that never return (the names
  // above, or image for poll and save for bmp).
  const char* alias = std::strcmp(operation, "poll") == 0  ? "image"
                      : std::strcmp(operation, "bmp") == 0 ? "save"
                                                           : operation;
  if (Listed("QVLSIM_HANG", operation) || Listed("QVLSIM_HANG", alias)) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
}

// Old vendor code fails hard: QVLSIM_CRASH makes QvlProcess fault, as `access` (a write through
// a null pointer), `illegal` (an undefined instruction), `divide` (an integer division by 0),
// `stack` (endless recursion) or `heap` (a write through a null pointer while it holds the
// process heap's lock, on Windows; elsewhere as `access`); `thread` makes a thread of the
// library's own write through a null pointer 300 ms after the device opens, while no call of the
// library runs, and `thread_system` makes it hand memset a bad pointer, so the fault is in the
// system's code; `load` makes the library's start-up code write through a null pointer as it
// loads. Never caught early by a sanitizer: the fault itself is what the program must meet.
bool CrashIs(const char* kind) {
  const char* set = std::getenv("QVLSIM_CRASH");
  return set && std::strcmp(set, kind) == 0;
}

volatile int g_endless = 1 << 30;  // volatile: recursion no compiler may see the end of

__attribute__((no_sanitize("address", "undefined"), noinline)) int Recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return depth < g_endless ? Recurse(depth + 1) + frame[0] : 0;
}

__attribute__((no_sanitize("address", "undefined"))) void Crash() {
  volatile int* volatile nowhere = nullptr;  // volatile: no compiler may drop what follows
  volatile int divisor = 0;
  if (CrashIs("access")) *nowhere = 1;
  if (CrashIs("heap")) {
#ifdef _WIN32
    HeapLock(GetProcessHeap());
#endif
    *nowhere = 1;
  }
  if (CrashIs("illegal")) __builtin_trap();
  if (CrashIs("divide")) divisor = 1000 / divisor;
  if (CrashIs("stack")) Recurse(0);
#ifndef _WIN32
  if (CrashIs("bus")) {  // a mapped file read beyond its end
    std::FILE* empty = std::tmpfile();
    auto* mapped =
        static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fileno(empty), 0));
    divisor = mapped[0];
  }
#endif
}

__attribute__((no_sanitize("address", "undefined"))) bool CrashAsItLoads() {
  volatile int* volatile nowhere = nullptr;
  if (CrashIs("load")) *nowhere = 1;
  return true;
}

[[maybe_unused]] const bool g_started = CrashAsItLoads();

__attribute__((no_sanitize("address", "undefined"))) void CrashOnOwnThread() {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (CrashIs("thread_system")) {
    void* (*volatile set)(void*, int, std::size_t) = std::memset;  // a real call into the system
    set(reinterpret_cast<void*>(16), 0, 64);
  }
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

}  // namespace

QVL_EXPORT int32_t QVL_CALL QvlOpenDevice(int32_t, int32_t) {
  Delay("open");
  if (Fails("open")) return -1;
  g_device.open = true;
  g_device.opened_at = Clock::now();
  if (CrashIs("thread") || CrashIs("thread_system")) std::thread(CrashOnOwnThread).detach();
#ifndef _WIN32
  // A vendor's helper process, started and left running for 5 s: a program of its own
  // (QVLSIM_HELPER=1), or a copy of the caller that never execs (2), which keeps every descriptor.
  if (long helper = EnvNumber("QVLSIM_HELPER", 0); helper && fork() == 0) {
    if (helper == 2) {
      timespec five{5, 0};
      nanosleep(&five, nullptr);
    } else {
      execl("/bin/sleep", "sleep", "5", static_cast<char*>(nullptr));
    }
    _exit(127);
  }
#endif
  g_device.polls = 0;
  // Two runs of one finger differ a little, unless a test pins the noise with QVLSIM_SEED.
  g_device.noise_seed = static_cast<std::uint32_t>(EnvNumber(
      "QVLSIM_SEED", static_cast<long>(Clock::now().time_since_epoch().count() & 0xFFFFFF)));
  return 0;
}

QVL_EXPORT int32_t QVL_CALL QvlGetImage(int32_t, uint8_t* raw_image, int16_t* capture_flag) {
  Delay("poll");
  if (!g_device.open) return -1;
  ++g_device.polls;
  Arrival arrival = ReadArrival();
  long waited_ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_device.opened_at)
          .count());
  bool arrived = (arrival.kind == Arrival::kAfterPolls && g_device.polls >= arrival.count) ||
                 (arrival.kind == Arrival::kAfterMs && waited_ms >= arrival.count) ||
                 (arrival.kind == Arrival::kWhenFile && Exists(arrival.file));
  if (!arrived) {
    std::memset(raw_image, 255, QVL_IMAGE_SIZE - 1);  // empty glass
    *capture_flag = 0;
    return 0;
  }
  qvlsim::DrawFinger(static_cast<int>(EnvNumber("QVLSIM_FINGER", 1)),
                     g_device.noise_seed + g_device.captures++, raw_image);
  *capture_flag = static_cast<int16_t>(EnvNumber("QVLSIM_FLAG", 1));
  return 0;
}

QVL_EXPORT int32_t QVL_CALL QvlProcess(const uint8_t* raw_image, uint8_t* feature,
                                       uint8_t* processed_image, int32_t, int32_t) {
  Delay("process");
  if (Fails("process")) return -1;
  Crash();
  qvlsim::EnhanceImage(raw_image, processed_image);
  qvlsim::ExtractTemplate(raw_image, feature);
  return 0;
}

QVL_EXPORT int32_t QVL_CALL QvlSaveClrBMPFile(const char* ansi_path,
                                              const uint8_t* processed_image) {
  Delay("bmp");
  if (Fails("bmp")) return -1;
  if (Fails("bmp_short")) {  // gives up after the first bytes, as on a full disk
    if (std::FILE* file = std::fopen(ansi_path, "wb")) {
      std::fputs("BM", file);
      std::fclose(file);
    }
    return -1;
  }
  return qvlsim::SaveBmp(ansi_path, processed_image) ? 0 : -1;
}

// 0 when the templates match at `level` (higher is stricter), 1 when they do not.
// QVLSIM_MATCH_RESULT replaces the answer, to test how odd values are taken.
QVL_EXPORT int32_t QVL_CALL QvlMatch(const uint8_t* probe, const uint8_t* stored, int32_t level) {
  Delay("match");
  long forced = EnvNumber("QVLSIM_MATCH_RESULT", 1L << 20);
  if (forced != 1L << 20) return static_cast<int32_t>(forced);
  return qvlsim::TemplatesMatch(probe, stored, static_cast<int16_t>(level)) ? 0 : 1;
}

// The number of the most similar of `count` records that matches at `level`, or -1 when none
// does. QVLSIM_MATCH_RESULT replaces the answer here too.
QVL_EXPORT int32_t QVL_CALL QvlMatchN(const uint8_t* probe, const uint8_t* first, int32_t count,
                                      int32_t level) {
  Delay("matchn");
  long forced = EnvNumber("QVLSIM_MATCH_RESULT", 1L << 20);
  if (forced != 1L << 20) return static_cast<int32_t>(forced);
  int best = -1, best_score = -1;
  for (int i = 0; i < static_cast<int16_t>(count); ++i) {
    const uint8_t* record = first + i * QVL_RECORD_SIZE;
    int score = qvlsim::Similarity(probe, record);
    if (score > best_score && qvlsim::TemplatesMatch(probe, record, static_cast<int16_t>(level))) {
      best = i;
      best_score = score;
    }
  }
  return best;
}
