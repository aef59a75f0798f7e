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

// A path at which the scanner library, which takes no wide paths, can write a file: zero-terminated
// ANSI bytes. Where the ANSI code page cannot spell the folder, its short (8.3) name stands in;
// where the volume has no short names either, the library writes a fresh ASCII-named file in the
// temporary folder and Commit moves it into place.
class LibraryOutputPath {
 public:
  // `short_names` false takes the volume to have no 8.3 names, where the system would give some.
  explicit LibraryOutputPath(const std::string& path, bool short_names = true);
  ~LibraryOutputPath();  // removes a staged file that was never moved
  LibraryOutputPath(const LibraryOutputPath&) = delete;
  LibraryOutputPath& operator=(const LibraryOutputPath&) = delete;

  const char* ansi() const { return ansi_.c_str(); }
  // Moves what the library wrote into place; nothing to do when it wrote nothing. A failed move
  // is a RunError.
  void Commit();

 private:
  std::string target_;
  std::string ansi_;
  std::string staged_;  // the stand-in file (UTF-8), empty when the library writes in place
};

// Removes a file; a missing file is no failure. False with the reason in SystemErrorText().
bool RemoveFile(const std::string& path);

// Holds the program's folder for this process until it ends, so two runs never share its files;
// the system drops it with the process, however that ends. False when another process holds it.
bool LockFolder(const std::string& folder);

// Opens a file like fopen, with a UTF-8 path. Returns nullptr with the reason in errno or the
// system's last error, which SystemErrorText() then describes; `subject` (a path) fills the
// places where the system's message names the file.
std::FILE* OpenFile(const std::string& path, const char* mode);
std::string SystemErrorText(std::string_view subject = {});

// Length of a regular file, through a symbolic link to it too; nullopt when the path is missing
// or is not a regular file.
std::optional<std::uint64_t> RegularFileLength(const std::string& path);
// The same for a file already open, so what is measured is what is read.
std::optional<std::uint64_t> OpenFileLength(std::FILE* file);

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
