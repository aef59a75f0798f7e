#include "testing/fakes.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace qvl {

std::vector<std::string> FakeWindow::Shown(const std::string& what) const {
  std::vector<std::string> texts;
  for (const auto& [kind, text] : events) {
    if (kind == what) texts.push_back(text);
  }
  return texts;
}

std::int16_t FakeScanner::GetImage(ImageBuffer& raw_image, std::int16_t& capture_flag) {
  ++polls;
  if (clock) clock->now_ms += poll_cost_ms;
  bool arrived = finger_at_poll > 0 && polls >= finger_at_poll;
  capture_flag = arrived ? 1 : 0;
  raw_image[0] = arrived ? 1 : 0;
  return Call("poll");
}

std::int16_t FakeScanner::Process(const ImageBuffer&, FeatureBuffer& feature, ImageBuffer&) {
  feature = template_to_give;
  return Call("process");
}

std::int16_t FakeScanner::Match(const std::uint8_t* probe, const std::uint8_t* stored,
                                std::int16_t level) {
  levels.push_back(level);
  Call("match");
  return probe[0] == stored[0] ? 0 : 1;
}

std::int16_t FakeScanner::MatchN(const std::uint8_t*, const std::uint8_t*, std::int16_t count,
                                 std::int16_t level) {
  levels.push_back(level);
  match_n_count = count;
  Call("matchn");
  return match_n_answer;
}

ScopedTempDir::ScopedTempDir() {
  std::random_device seed;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  do {
    path_ = (base / ("qvl-test-" + std::to_string(seed()))).string();
  } while (!std::filesystem::create_directory(path_));
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void ScopedTempDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(File(name), std::ios::binary) << bytes;
}

std::string ScopedTempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::int16_t FakeScanner::SaveBmp(const char* ansi_path, const ImageBuffer&) {
  const unsigned char picture[26] = {'B', 'M', 26};
  if (std::FILE* file = std::fopen(ansi_path, "wb")) {
    std::fwrite(picture, 1, sizeof picture, file);
    std::fclose(file);
  }
  return Call("bmp");
}

}  // namespace qvl
