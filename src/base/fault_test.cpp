#include "base/fault.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qvl {
namespace {

// Whom a fault blames: on a thread the program did not start, the library; on the program's own,
// the module at its address first, and the call that runs only for code of neither the library
// nor the program (a system function the library called).
TEST(FaultReport, BlamesTheModuleAtTheAddress) {
  std::string library = "C:\\App\\QvlScanner.dll";
  KnowProgram("qvlcapture.exe", 0x1000, 0x2000);
  const struct {
    const char* call;  // the library's call that runs, or nullptr
    bool own_thread;
    std::uintptr_t address;
    const char* report;
  } cases[] = {
      {"QvlProcess", true, 0x5010, "C:\\App\\QvlScanner.dll crashed in QvlProcess: F at "},
      {nullptr, true, 0x5010, "C:\\App\\QvlScanner.dll crashed on a thread of its own: F at "},
      {"QvlProcess", true, 0x9000, "C:\\App\\QvlScanner.dll crashed in QvlProcess: F at "},
      {"QvlProcess", true, 0x1010, "qvlcapture crashed: F at "},
      {nullptr, true, 0x9000, "qvlcapture crashed: F at "},
      {nullptr, false, 0x9000, "C:\\App\\QvlScanner.dll crashed on a thread of its own: F at "},
      {"QvlProcess", false, 0x1010, "QvlScanner.dll crashed on a thread of its own: F at "},
  };
  EXPECT_NE(FaultReport("F", 0x9000, "x", false).find("qvlcapture crashed"), std::string::npos)
      << "no library loaded yet";
  {
    LibraryLoad load(library, "DllMain");  // before the library's extent is known
    std::string report = FaultReport("F", 0x1010, "x", true);
    EXPECT_TRUE(BlamesLibrary(0x1010, true));
    EXPECT_NE(report.find("crashed in DllMain: F at x"), std::string::npos) << report;
  }
  BlameLibrary(0x5000, 0x6000);
  for (const auto& c : cases) {
    char where[64];
    DescribeAddress(c.address, where, sizeof where);
    std::optional<LibraryCall> call;
    if (c.call) call.emplace(c.call);
    std::string report = FaultReport("F", c.address, where, c.own_thread);
    EXPECT_NE(report.find(c.report), std::string::npos) << report;
    EXPECT_EQ(BlamesLibrary(c.address, c.own_thread),
              report.find("QvlScanner.dll crashed") != std::string::npos)
        << report;
  }
  char where[64];
  DescribeAddress(0x5010, where, sizeof where);
  EXPECT_STREQ(where, "QvlScanner.dll+0x10");
  DescribeAddress(0x1020, where, sizeof where);
  EXPECT_STREQ(where, "qvlcapture.exe+0x20");
}

// Looks four times a second: one call that runs 30 s is hung; a search of short calls, one a
// record, that takes longer in all is not, nor is a pause between calls.
TEST(CallWatch, OneCallOverTheLimitAlone) {
  const struct {
    const char* name;
    int calls_per_look;  // how many calls began between two looks
    const char* call;    // what runs at each look
    bool hung;
  } cases[] = {
      {"one long call", 0, "QvlMatch", true},
      {"a long search of short calls", 3, "QvlMatch", false},
      {"nothing running", 0, nullptr, false},
  };
  for (const auto& c : cases) {
    CallWatch watch;
    std::uint32_t number = 1;
    auto now = std::chrono::steady_clock::time_point();
    bool hung = false;
    for (int look = 0; look < 4 * 40 && !hung; ++look, number += c.calls_per_look) {
      hung = watch.Hung(c.call, number, now);
      now += std::chrono::milliseconds(250);
    }
    EXPECT_EQ(hung, c.hung) << c.name;
  }
}

}  // namespace
}  // namespace qvl
