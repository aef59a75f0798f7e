#pragma once

// File helpers over the OS seam. Every failure is a RunError that names the path and the
// system's reason.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "base/os.h"

namespace qvl {

// A file opened for writing, created when missing and emptied when present.
class OutputFile {
 public:
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all bytes at once and flushes them, so the file never holds part of a write that
  // was reported as done.
  void Write(std::string_view bytes);
  // Closes the file; a failure to flush is an error. Writing after Close is an error too.
  void Close();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// Empties the file at `path` if it can: a run that stops leaves no old answer there. A folder that
// refuses it has its own error to report, which this never hides.
void EmptyIfPossible(const std::string& path) noexcept;

// A regular file opened for reading, its length taken from the open file.
class InputFile {
 public:
  explicit InputFile(std::string path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::uint64_t length() const { return length_; }
  // Reads up to `size` bytes with one call and returns how many it got: fewer only when the
  // file has shrunk since its length was taken.
  std::size_t Read(std::uint8_t* into, std::size_t size);

 private:
  std::string path_;
  std::uint64_t length_ = 0;
  std::FILE* file_ = nullptr;
};

// The whole of a regular file, as bytes.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

// Writes `message` as the whole of the file at `path`, UTF-8 with a byte-order mark, for a
// caller or an administrator to read after the run. One that cannot be written whole is removed;
// the failure is otherwise ignored: it must never hide the ending it tells of. Safe in a crash report, as WriteWholeFile.
void WriteErrorText(const std::string& path, std::string_view message) noexcept;

// The RunError message `failed` (kCannotRead, ...) for a path, with the system's reason.
std::string FileErrorMessage(Message failed, const std::string& path, SystemError error);
// The same for a file that could not be created. When its folder refuses writing, the user is
// told that the working folder is what is wrong.
std::string CreateErrorMessage(const std::string& path, SystemError error);

}  // namespace qvl
