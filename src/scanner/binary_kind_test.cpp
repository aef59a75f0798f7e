#include "scanner/binary_kind.h"

#include <gtest/gtest.h>

namespace qvl {
namespace {

// The first bytes of a PE file: the MZ stub pointing at a PE header at 0x40, its machine and the
// optional header's magic (0x10B: PE32, 0x20B: PE32+).
std::string Pe(unsigned machine, unsigned magic) {
  std::string header(0x80, '\0');
  header.replace(0, 2, "MZ");
  header[0x3C] = 0x40;
  header.replace(0x40, 4, std::string("PE\0\0", 4));
  header[0x44] = static_cast<char>(machine), header[0x45] = static_cast<char>(machine >> 8);
  header[0x58] = static_cast<char>(magic), header[0x59] = static_cast<char>(magic >> 8);
  return header;
}

// The first bytes of an ELF file of `bits` for `machine`, little-endian.
std::string Elf(int bits, unsigned machine) {
  std::string header(0x40, '\0');
  header.replace(0, 4, "\177ELF");
  header[4] = static_cast<char>(bits / 32), header[5] = 1;
  header[18] = static_cast<char>(machine), header[19] = static_cast<char>(machine >> 8);
  return header;
}

TEST(BinaryKind, HeadersAndTheAdviceForEach) {
  const std::pair<std::string, std::optional<BinaryKind>> cases[] = {
      {Elf(64, 183), BinaryKind{64, "ARM64"}},
      {Elf(32, 3), BinaryKind{32, "x86"}},
      {Elf(64, 62), BinaryKind{64, "x86-64"}},
      {Elf(32, 40), BinaryKind{32, "ARM"}},
      {Pe(0x14C, 0x10B), BinaryKind{32, "x86"}},
      {Pe(0x8664, 0x20B), BinaryKind{64, "x86-64"}},
      {Pe(0xAA64, 0x20B), BinaryKind{64, "ARM64"}},
      {Pe(0x14C, 0x107), std::nullopt},
      {"MZ not a library", std::nullopt}};
  for (const auto& [header, kind] : cases) EXPECT_EQ(ParseBinaryKind(header), kind);
  BinaryKind x86{32, "x86"}, x64{64, "x86-64"};
  EXPECT_NE(KindMismatchText("Q.dll", x86, x64).find("the win32 package"), std::string::npos);
  EXPECT_NE(KindMismatchText("Q.dll", x64, x86).find("the win64 package"), std::string::npos);
}

}  // namespace
}  // namespace qvl
