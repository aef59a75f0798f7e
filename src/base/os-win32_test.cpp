// The Windows conversions and paths in the situations that Wine cannot show end to end: a
// system whose ANSI code page is UTF-8, a volume without 8.3 names.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "base/error.h"
#include "base/file.h"
#include "base/os.h"
#include "base/win32_text.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

TEST(Narrow, EachCodePageWithTheFlagsItTakes) {
  const std::tuple<UINT, std::string, bool> cases[] = {
      {65001, "-CONTROL:\xD0\x96\xD1\x83\xD0\xBA", false},  // "Use Unicode UTF-8" systems
      {1251, "-CONTROL:\xC6\xF3\xEA", false},
      {1252, "-CONTROL:???", true}};
  for (const auto& [code_page, text, lossy] : cases) {
    bool replaced = !lossy;
    EXPECT_EQ(Narrow(L"-CONTROL:Жук", code_page, &replaced), text) << code_page;
    EXPECT_EQ(replaced, lossy) << code_page;
  }
  EXPECT_THROW(Narrow(L"x", 12345), RunError);  // never an empty text
}

TEST(Win32ErrorText, InsertsNameTheSubject) {
  std::string text = Win32ErrorText(ERROR_BAD_EXE_FORMAT, "C:\\q\\QvlScanner.dll");
  EXPECT_NE(text.find("C:\\q\\QvlScanner.dll"), std::string::npos) << text;
  EXPECT_EQ(text.find('%'), std::string::npos) << text;
}

TEST(LibraryOutputPath, WithoutShortNamesTheLibraryWritesElsewhereAndTheFileMovesIn) {
  ScopedTempDir dir;
  std::string folder = dir.File("папка Ω");
  CreateDirectoryW(Widen(folder).c_str(), nullptr);
  std::string target = JoinPath(folder, "scan.bmp");
  {
    LibraryOutputPath path(target, false);
    std::string ansi = path.ansi();
    EXPECT_TRUE(std::all_of(ansi.begin(), ansi.end(), [](char c) { return c > 0 && c < 127; }));
    std::FILE* file = std::fopen(path.ansi(), "wb");  // what the library does with it
    ASSERT_TRUE(file);
    std::fputs("BM", file);
    std::fclose(file);
    path.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), (std::vector<std::uint8_t>{'B', 'M'}));
}

}  // namespace
}  // namespace qvl
