#pragma once

// The stand-in scanner's model of a finger: a synthetic print drawn from the finger's number,
// its template (the ridge orientation of 16 x 16 blocks), and how two templates compare.

#include <cstdint>
#include <string>

namespace qvlsim {

inline constexpr int kImageWidth = 280;
inline constexpr int kImageHeight = 280;  // 78,400 pixels, one byte each, 0 black, 255 white
inline constexpr int kTemplateBlocks = 256;
inline constexpr std::uint8_t kNoRidges = 255;  // template byte of a block outside the finger

// Draws finger `finger`. `capture` seeds what differs between two captures of one finger: a
// shift of a few pixels, the pressure, and noise. The same pair always gives the same image.
void DrawFinger(int finger, std::uint32_t capture, std::uint8_t* image);

// Spreads the image's grey levels over the whole range, as a scanner's processing would.
void EnhanceImage(const std::uint8_t* raw, std::uint8_t* processed);

// Writes the 256-byte template of an image: for each block of a 16 x 16 grid, the ridge
// orientation in degrees (0 to 179), or kNoRidges. `feature[256]` is left alone.
void ExtractTemplate(const std::uint8_t* image, std::uint8_t* feature);

// The share, in percent, of the blocks with ridges in both templates whose orientations agree
// within 10 degrees; 0 when fewer than 48 such blocks exist.
int Similarity(const std::uint8_t* a, const std::uint8_t* b);

// Higher levels are stricter: two templates match when their similarity reaches
// 65 + 5 x level percent (level 3, the usual one, asks for 80; 7 and above ask for
// identical orientation everywhere).
bool TemplatesMatch(const std::uint8_t* a, const std::uint8_t* b, int level);

// Writes the image as a 24-bit BMP file; false when the file cannot be written.
bool SaveBmp(const std::string& path, const std::uint8_t* image);

}  // namespace qvlsim
