#include "base/fault.h"

#include <gtest/gtest.h>

#include <string>

namespace qvl {
namespace {

// The library is blamed only while one of its calls runs; any other fault is the program's.
TEST(FaultReport, BlamesTheLibraryOnlyDuringItsCall) {
  std::string library = "C:\\App\\QvlScanner.dll";
  std::string during;
  {
    LibraryCall call(library, "QvlProcess");
    during = FaultReport("SIGSEGV", "QvlScanner.dll+0x10");
  }
  EXPECT_NE(
      during.find("C:\\App\\QvlScanner.dll crashed in QvlProcess: SIGSEGV at QvlScanner.dll+0x10"),
      std::string::npos)
      << during;
  std::string after = FaultReport("SIGILL", "qvlcapture+0x20");
  EXPECT_EQ(after.find("qvlcapture crashed: SIGILL at qvlcapture+0x20"), 0u) << after;
}

}  // namespace
}  // namespace qvl
