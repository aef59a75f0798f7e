// The Windows conversions and file errors in the situations that Wine cannot show end to end.

#include <gtest/gtest.h>
#include <io.h>

#include <optional>
#include <thread>

#include "base/error.h"
#include "base/fault.h"
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

// The tests run under the Russian code page, 1251.
TEST(Utf8ToAnsi, SpellsWhatTheCodePageCanOnly) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"-MFILE:\xD0\xB1\xD0\xB0\xD0\xB7\xD0\xB0.bin", "-MFILE:\xE1\xE0\xE7\xE0.bin"},
      {"-CONTROL:\xCE\xA9", std::nullopt},  // Greek omega: not in 1251
      {"-CONTROL:\xFF", std::nullopt}};     // no UTF-8 at all
  for (const auto& [utf8, ansi] : cases) EXPECT_EQ(Utf8ToAnsi(utf8), ansi) << utf8;
}

// Windows denies access to a directory of the name too; the folder is not what is wrong then,
// and the user must not be sent to move the program.
TEST(CreateErrorMessage, BlamesTheFolderOnlyWhenItRefuses) {
  ScopedTempDir dir;
  CreateDirectoryW(Widen(dir.File("result.txt")).c_str(), nullptr);
  try {
    OutputFile file(dir.File("result.txt"));
    ADD_FAILURE();
  } catch (const RunError& error) {
    std::string message = error.what();
    EXPECT_EQ(message.find("must live in a folder"), std::string::npos) << message;
  }
}

// What Wine never shows end to end: a file handle that a helper process of the library would
// inherit (and keep result.txt open with), and the system's own boxes before the program's.
TEST(Win32Process, OutputsAreNotInheritedAndTheSystemShowsNoBox) {
  ScopedTempDir dir;
  SystemError error;
  std::FILE* file = OpenFile(dir.File("result.txt"), "wb", &error);
  ASSERT_TRUE(file);
  DWORD flags = HANDLE_FLAG_INHERIT;
  GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &flags);
  std::fclose(file);
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  ReportFaults([](const std::string&) {}, {6, 1, 8});
  EXPECT_EQ(GetErrorMode() & (SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX),
            UINT{SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX});
}

// The scanner lock as another account's (or an elevated process's) mutex meets it: created with
// full access refused, it is opened for waiting; only a lock that cannot be had is an error.
// The administrator of a terminal server scopes the lock to each session with Local\.
TEST(ScannerLockName, TheComputersUnlessNamedOtherwise) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"", L"Global\\qvlcapture-scanner"},
      {L"desk-2", L"Global\\desk-2"},
      {L"Local\\qvlcapture-scanner", L"Local\\qvlcapture-scanner"},
      {L"local\\x", L"local\\x"},
      {L"Global\\y", L"Global\\y"},
      {L"Local\\", L"Global\\Local\\"}};  // no name after the scope
  for (const auto& [custom, name] : cases) EXPECT_EQ(ScannerLockName(custom), name);
}

TEST(Win32Process, ScannerLockOfAnotherAccount) {
  static HANDLE held_elsewhere = nullptr;
  auto refused = [](const wchar_t*) -> HANDLE {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  };
  auto free_mutex = [](const wchar_t*) { return CreateMutexW(nullptr, FALSE, nullptr); };
  auto held = [](const wchar_t*) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), held_elsewhere, GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
  };
  // Owned by a thread that lives on, as another process's capture would own it.
  HANDLE owned = CreateEventW(nullptr, TRUE, FALSE, nullptr),
         done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] {
    held_elsewhere = CreateMutexW(nullptr, TRUE, nullptr);
    SetEvent(owned);
    WaitForSingleObject(done, INFINITE);
    Sleep(200);  // then ends without letting go, as a killed capture does
  });
  WaitForSingleObject(owned, INFINITE);
  EXPECT_TRUE(TakeNamedMutex(L"Global\\x", {refused, free_mutex}, 0));
  EXPECT_FALSE(TakeNamedMutex(L"Global\\x", {refused, held}, 0));
  EXPECT_THROW(TakeNamedMutex(L"Global\\x", {refused, refused}, 0), RunError);
  auto vanished = [](const wchar_t*) -> HANDLE {  // its last holder ended in between
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  };
  static int creations = 0;
  auto refused_once = [](const wchar_t*) -> HANDLE {
    if (creations++ == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return CreateMutexW(nullptr, FALSE, nullptr);
  };
  EXPECT_TRUE(TakeNamedMutex(L"Global\\x", {refused_once, vanished}, 0));
  EXPECT_TRUE(TakeNamedMutex(L"Global\\x", {free_mutex, refused}, 0));
  // A holder still ending as the start comes: taken within the grace, abandoned.
  SetEvent(done);
  EXPECT_TRUE(TakeNamedMutex(L"Global\\x", {refused, held}, 60'000));
  owner.join();
}

}  // namespace
}  // namespace qvl
