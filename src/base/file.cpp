#include "base/file.h"

#include <limits>
#include <new>

#include "base/error.h"
#include "base/os.h"

namespace qvl {

std::string FileErrorMessage(std::string_view what, const std::string& path) {
  return "Cannot " + std::string(what) + " " + path + ": " + SystemErrorText(path);
}

std::string CreateErrorMessage(const std::string& path) {
  bool folder_refuses = FolderRefusesWriting(path);  // before the reason is looked up
  std::string message = FileErrorMessage("create", path);
  if (!folder_refuses) return message;
  if (message.back() == '.') message.pop_back();  // the system's own full stop
  return message +
         ". qvlcapture keeps all its files beside itself, so it must live in a folder that the "
         "user can write, not under Program Files or on a read-only share.";
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  file_ = OpenFile(path_, "wb");
  if (!file_) throw RunError(CreateErrorMessage(path_));
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
}

void OutputFile::Write(std::string_view bytes) {
  if (!file_) throw RunError("Cannot write " + path_ + ": the file is already closed");
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0)
    throw RunError(FileErrorMessage("write", path_));
}

void OutputFile::Close() {
  std::FILE* file = file_;
  file_ = nullptr;
  if (file && std::fclose(file) != 0) throw RunError(FileErrorMessage("close", path_));
}

InputFile::InputFile(std::string path) : path_(std::move(path)) {
  if (!RegularFileLength(path_))
    throw RunError("Cannot read " + path_ + ": it is missing or is not a file");
  file_ = OpenFile(path_, "rb");
  if (!file_) throw RunError(FileErrorMessage("open", path_));
  // Measured on the open file: what is measured is what is read, through a link too.
  std::optional<std::uint64_t> length = OpenFileLength(file_);
  if (!length) {
    std::fclose(file_);
    throw RunError("Cannot read " + path_ + ": it is not a file");
  }
  length_ = *length;
}

InputFile::~InputFile() { std::fclose(file_); }

std::size_t InputFile::Read(std::uint8_t* into, std::size_t size) {
  std::size_t got = std::fread(into, 1, size, file_);
  if (std::ferror(file_)) throw RunError(FileErrorMessage("read", path_));
  return got;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  InputFile file(path);
  if (file.length() > std::numeric_limits<std::size_t>::max() / 2)
    throw RunError("Cannot read " + path + ": the file is too large for memory");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.length()));
  bytes.resize(file.Read(bytes.data(), bytes.size()));
  return bytes;
}

}  // namespace qvl
