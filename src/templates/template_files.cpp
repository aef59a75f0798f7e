#include "templates/template_files.h"

#include <cstring>
#include <limits>
#include <new>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"

namespace qvl {

void LoadTemplateFile(const std::string& path, FeatureBuffer& target, StatusWindow& window) {
  InputFile file(path);
  if (file.length() > target.size()) {
    throw RunError(Say(Message::kTemplateTooLong, {{"path", path},
                                                   {"length", std::to_string(file.length())},
                                                   {"size", std::to_string(target.size())}}));
  }
  FeatureBuffer bytes;
  std::size_t got = file.Read(bytes.data(), static_cast<std::size_t>(file.length()));
  for (std::size_t i = 0; i < got; ++i) {
    window.PumpEvents();
    target[i] = bytes[i];
  }
}

DatabaseBuffer::DatabaseBuffer(std::size_t file_length) : file_length_(file_length) {
  if (file_length == std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  // Not zero-filled: the read fills it, and filling a large database twice costs real time.
  // nothrow and a check, because some allocators (a sanitizer's, say) return null for a size
  // they will never grant.
  bytes_.reset(new (std::nothrow) std::uint8_t[file_length + 1]);
  if (!bytes_) throw std::bad_alloc();
  bytes_[file_length] = 0;
}

DatabaseBuffer ReadDatabaseFile(const std::string& path) {
  InputFile file(path);
  auto too_large = [&] {
    return RunError(Say(Message::kDatabaseTooLarge,
                        {{"path", path}, {"length", std::to_string(file.length())}}));
  };
  if (file.length() >= std::numeric_limits<std::size_t>::max()) throw too_large();
  try {
    DatabaseBuffer buffer(static_cast<std::size_t>(file.length()));
    std::size_t got = file.Read(buffer.data(), buffer.file_length());
    // A file that shrank since its length was taken leaves zeros, never stale memory.
    std::memset(buffer.data() + got, 0, buffer.file_length() - got);
    return buffer;
  } catch (const std::bad_alloc&) {
    throw too_large();
  }
}

}  // namespace qvl
