#pragma once

// The small operating-system services the run needs. One implementation file per platform
// (os-posix.cpp, os-win32.cpp); the rest of the program never includes a system header.
//
// Paths are UTF-8 throughout. Texts that come from the caller (the command line, command.txt)
// are bytes in the system's ANSI code page and stay so; AnsiToPath turns a file name given
// there into a path.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace qvl {

// Folder of the running executable, without a trailing separator.
std::string ProgramFolder();

// Folder + separator + name, with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// The arguments after the program's name as one text, in the ANSI code page.
std::string CommandLineTail();

// A file name from the caller's command (ANSI bytes) as a UTF-8 path fragment.
std::string AnsiToPath(std::string_view ansi);

// The path as zero-terminated ANSI bytes for the scanner library, which takes no wide paths.
// Where the ANSI code page cannot spell the folder, the folder's short name stands in for it.
std::string PathForLibrary(const std::string& path);

// Opens a file like fopen, with a UTF-8 path. Returns nullptr with the reason in errno or the
// system's last error, which SystemErrorText() then describes.
std::FILE* OpenFile(const std::string& path, const char* mode);
std::string SystemErrorText();

// Length of a regular file; nullopt when the path is missing or is not a regular file.
std::optional<std::uint64_t> RegularFileLength(const std::string& path);

// Abstract so tests can run the capture wait in virtual time. SystemClock() is the real one:
// monotonic, so a change of the wall clock cannot shorten or stretch a wait.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t NowMs() = 0;
  virtual void SleepMs(int ms) = 0;
};
Clock& SystemClock();

}  // namespace qvl
