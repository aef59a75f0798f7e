#pragma once

// Base64 (RFC 4648, with padding), for templates, databases and pictures in JSON.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvl {

std::string EncodeBase64(const std::vector<std::uint8_t>& bytes);
// Nullopt for text that is no padded base64: a length not a multiple of 4, a stray character, or
// padding anywhere but at the end.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

}  // namespace qvl
