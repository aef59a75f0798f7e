#include "base/file.h"

#include <limits>
#include <new>

#include "base/error.h"
#include "base/messages.h"
#include "base/os.h"

namespace qvl {

void WriteErrorText(const std::string& path, std::string_view message) noexcept {
  // Cut short by a full disk it would tell half the story: rather none.
  if (!WriteWholeFile(path, {"\xEF\xBB\xBF", message, "\r\n"})) RemoveFile(path);
}

std::string FileErrorMessage(Message failed, const std::string& path, SystemError error) {
  return Say(failed, {{"path", path}, {"reason", SystemErrorText(error, path)}});
}

std::string CreateErrorMessage(const std::string& path, SystemError error) {
  std::string message = FileErrorMessage(Message::kCannotCreate, path, error);
  if (!FolderRefusesWriting(path, error)) return message;
  if (message.back() == '.') message.pop_back();  // the system's own full stop
  return Say(Message::kFolderRefusesWriting, {{"message", message}});
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  SystemError error;
  file_ = OpenFile(path_, "wb", &error);
  if (!file_) throw RunError(CreateErrorMessage(path_, error));
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
}

void OutputFile::Write(std::string_view bytes) {
  if (!file_) throw RunError(Say(Message::kWriteAfterClose, {{"path", path_}}));
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0)
    throw RunError(FileErrorMessage(Message::kCannotWrite, path_, LastSystemError()));
}

void OutputFile::Close() {
  std::FILE* file = file_;
  file_ = nullptr;
  if (file && std::fclose(file) != 0)
    throw RunError(FileErrorMessage(Message::kCannotClose, path_, LastSystemError()));
}

void EmptyIfPossible(const std::string& path) noexcept {
  try {
    OutputFile(path).Close();
  } catch (...) {  // bad_alloc too: the caller is already on its way to an error
  }
}

InputFile::InputFile(std::string path) : path_(std::move(path)) {
  if (!RegularFileLength(path_)) throw RunError(Say(Message::kMissingFile, {{"path", path_}}));
  SystemError error;
  file_ = OpenFile(path_, "rb", &error);
  if (!file_) throw RunError(FileErrorMessage(Message::kCannotOpen, path_, error));
  // Measured on the open file: what is measured is what is read, through a link too.
  std::optional<std::uint64_t> length = OpenFileLength(file_);
  if (!length) {
    std::fclose(file_);
    throw RunError(Say(Message::kNotAFile, {{"path", path_}}));
  }
  length_ = *length;
}

InputFile::~InputFile() { std::fclose(file_); }

std::size_t InputFile::Read(std::uint8_t* into, std::size_t size) {
  std::size_t got = std::fread(into, 1, size, file_);
  if (std::ferror(file_))
    throw RunError(FileErrorMessage(Message::kCannotRead, path_, LastSystemError()));
  return got;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  InputFile file(path);
  if (file.length() > std::numeric_limits<std::size_t>::max() / 2)
    throw RunError(Say(Message::kTooLargeForMemory, {{"path", path}}));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.length()));
  bytes.resize(file.Read(bytes.data(), bytes.size()));
  return bytes;
}

}  // namespace qvl
