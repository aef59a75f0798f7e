#include "scanner/binary_kind.h"

#include <algorithm>
#include <cstdint>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"

namespace qvl {
namespace {

unsigned Little16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8;
}

std::string MachineName(unsigned machine) {
  switch (machine) {
    case 0x014C:
    case 3:
      return "x86";
    case 0x8664:
    case 62:
      return "x86-64";
    case 0xAA64:
    case 183:
      return "ARM64";
    case 0x01C4:
    case 40:
      return "ARM";
  }
  return Say(Message::kUnknownMachine, {{"code", std::to_string(machine)}});
}

}  // namespace

std::optional<BinaryKind> ParseBinaryKind(std::string_view header) {
  constexpr std::string_view kElfMagic = "\177ELF";
  if (header.size() >= 20 && header.substr(0, 4) == kElfMagic && header[5] == 1) {
    int bits = header[4] == 1 ? 32 : header[4] == 2 ? 64 : 0;
    if (bits == 0) return std::nullopt;
    return BinaryKind{bits, MachineName(Little16(header, 18))};
  }
  if (header.size() < 0x40 || header.substr(0, 2) != "MZ") return std::nullopt;
  std::size_t pe = Little16(header, 0x3C) | std::size_t{Little16(header, 0x3E)} << 16;
  // The optional header's magic says 32 or 64 bits, whatever the machine.
  if (pe > header.size() - 26 || header.substr(pe, 4) != std::string_view("PE\0\0", 4))
    return std::nullopt;
  unsigned magic = Little16(header, pe + 24);
  int bits = magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
  if (bits == 0) return std::nullopt;
  return BinaryKind{bits, MachineName(Little16(header, pe + 4))};
}

std::vector<std::string> ParseImportedLibraries(std::string_view image) {
  auto at = [&](std::size_t offset, std::size_t size) {  // 0 past the end: reads stop there
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;)
      value = value << 8 |
              (offset + i < image.size() ? static_cast<std::uint8_t>(image[offset + i]) : 0);
    return value;
  };
  std::vector<std::string> names;
  if (!ParseBinaryKind(image) || image.substr(0, 2) != "MZ") return names;
  std::size_t pe = at(0x3C, 4), optional = pe + 24, sections = optional + at(pe + 20, 2);
  std::size_t imports = optional + (at(optional, 2) == 0x20B ? 112 : 96) + 8;
  auto file_offset = [&](std::uint32_t rva) -> std::size_t {  // through the section holding it
    for (std::size_t s = sections; s < sections + 40 * at(pe + 6, 2); s += 40) {
      std::uint32_t start = at(s + 12, 4), size = std::max(at(s + 8, 4), at(s + 16, 4));
      if (rva >= start && rva - start < size) return rva - start + at(s + 20, 4);
    }
    return image.size();
  };
  for (std::size_t entry = file_offset(at(imports, 4)); at(entry + 12, 4) != 0; entry += 20) {
    std::size_t name = file_offset(at(entry + 12, 4));
    if (name >= image.size() || names.size() == 1000) break;
    names.emplace_back(image.substr(name, image.find('\0', name) - name));
  }
  return names;
}

std::vector<std::string> ReadImportedLibraries(const std::string& path) {
  try {
    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return ParseImportedLibraries({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  } catch (const RunError&) {
    return {};
  }
}

std::optional<BinaryKind> ReadBinaryKind(const std::string& path) {
  try {
    InputFile file(path);
    std::string header(4096, '\0');
    header.resize(file.Read(reinterpret_cast<std::uint8_t*>(header.data()), header.size()));
    return ParseBinaryKind(header);
  } catch (const RunError&) {
    return std::nullopt;
  }
}

BinaryKind ThisProgramKind() {
#if defined(__x86_64__) || defined(_M_X64)
  return {64, "x86-64"};
#elif defined(__i386__) || defined(_M_IX86)
  return {32, "x86"};
#elif defined(__aarch64__)
  return {64, "ARM64"};
#else
  return {static_cast<int>(sizeof(void*) * 8), Say(Message::kThisMachine)};
#endif
}

std::optional<std::string> MismatchMessage(const std::string& path) {
  std::optional<BinaryKind> library = ReadBinaryKind(path);
  BinaryKind program = ThisProgramKind();
  if (!library || *library == program) return std::nullopt;
  return KindMismatchText(path, *library, program);
}

std::string KindMismatchText(const std::string& path, const BinaryKind& library,
                             const BinaryKind& program) {
  std::string library_bits = std::to_string(library.bits);
  std::string program_bits = std::to_string(program.bits);
  return Say(library.bits == program.bits ? Message::kMachineMismatch : Message::kBitnessMismatch,
             {{"path", path},
              {"library_bits", library_bits},
              {"library_machine", library.machine},
              {"program_bits", program_bits},
              {"program_machine", program.machine},
              {"package", library.bits == 32 ? "win32" : "win64"}});
}

}  // namespace qvl
