#pragma once

// What a library file was built for, read from its header (PE on Windows, ELF elsewhere): enough
// to tell the user who placed the wrong library why it cannot load, and which one to use.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvl {

struct BinaryKind {
  int bits = 0;         // 32 or 64
  std::string machine;  // "x86", "x86-64", "ARM64", or the header's number

  bool operator==(const BinaryKind& other) const {
    return bits == other.bits && machine == other.machine;
  }
};

// The kind named by the first bytes of a PE or ELF file; nullopt when they are neither.
std::optional<BinaryKind> ParseBinaryKind(std::string_view header);
// The same for a file; nullopt when it cannot be read.
std::optional<BinaryKind> ReadBinaryKind(const std::string& path);
// The names of the libraries that a PE file imports, in its order; empty when it is no PE file or
// its import table cannot be read.
std::vector<std::string> ParseImportedLibraries(std::string_view image);
std::vector<std::string> ReadImportedLibraries(const std::string& path);
// The kind of this program itself.
BinaryKind ThisProgramKind();

// The RunError message when the library at `path` is of another kind than this program; nullopt
// when it is of the same kind, or its kind cannot be read.
std::optional<std::string> MismatchMessage(const std::string& path);
// What that message says for a library and a program of two different kinds.
std::string KindMismatchText(const std::string& path, const BinaryKind& library,
                             const BinaryKind& program);

}  // namespace qvl
