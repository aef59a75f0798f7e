#include "finger.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qvlsim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlockSize = 16;
constexpr int kGridOrigin = (kImageWidth - 16 * kBlockSize) / 2;

// A small, well-mixed generator (splitmix64), so a finger's number gives the same print on
// every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform(double low, double high) {
    return low + (high - low) * static_cast<double>(Next() >> 11) / 9007199254740992.0;
  }

 private:
  std::uint64_t state_;
};

// What makes one finger differ from another.
struct FingerShape {
  double core_x, core_y;      // centre of the whorl
  double period;              // ridge distance in pixels
  double stretch;             // the whorl's ellipse
  double turn;                // rotation of the whole pattern
  double warp_amp[3], warp_freq_x[3], warp_freq_y[3], warp_phase[3];
  double arch_bend;           // how the outer ridges bow
};

FingerShape ShapeOf(int finger) {
  Random random(0x51564C00ull + static_cast<std::uint64_t>(finger) * 7919);
  FingerShape shape;
  shape.core_x = random.Uniform(-40, 40);
  shape.core_y = random.Uniform(-45, 30);
  shape.period = random.Uniform(8.0, 10.5);
  shape.stretch = random.Uniform(0.7, 1.3);
  shape.turn = random.Uniform(-1.5, 1.5);
  for (int i = 0; i < 3; ++i) {
    shape.warp_amp[i] = random.Uniform(2.0, 5.0);
    shape.warp_freq_x[i] = random.Uniform(-0.04, 0.04);
    shape.warp_freq_y[i] = random.Uniform(-0.04, 0.04);
    shape.warp_phase[i] = random.Uniform(0, 2 * kPi);
  }
  shape.arch_bend = random.Uniform(0.004, 0.012);
  return shape;
}

// The ridge phase at a point (pixel coordinates relative to the image centre): rings around the
// core blending into bowed arches further out, bent by a few slow waves.
double RidgePhase(const FingerShape& f, double x, double y) {
  double c = std::cos(f.turn), s = std::sin(f.turn);
  double u = c * x - s * y - f.core_x, v = s * x + c * y - f.core_y;
  double ring = std::sqrt(u * u * f.stretch + v * v / f.stretch);
  double arch = -v + f.arch_bend * u * u + 45;
  double blend = std::fmin(1.0, std::fmax(0.0, (ring - 45) / 40));
  double distance = (1 - blend) * ring + blend * arch;
  double warp = 0;
  for (int i = 0; i < 3; ++i)
    warp += f.warp_amp[i] * std::sin(f.warp_freq_x[i] * x + f.warp_freq_y[i] * y + f.warp_phase[i]);
  return 2 * kPi * distance / f.period + warp;
}

}  // namespace

void DrawFinger(int finger, std::uint32_t capture, std::uint8_t* image) {
  FingerShape shape = ShapeOf(finger);
  Random noise(0xC0FFEEull ^ (static_cast<std::uint64_t>(capture) << 20) ^
               static_cast<std::uint64_t>(finger));
  double shift_x = noise.Uniform(-3, 3), shift_y = noise.Uniform(-3, 3);
  double pressure = noise.Uniform(0.8, 1.0);
  for (int row = 0; row < kImageHeight; ++row) {
    for (int col = 0; col < kImageWidth; ++col) {
      double x = col - kImageWidth / 2.0 - shift_x, y = row - kImageHeight / 2.0 - shift_y;
      // The fingertip is an upright oval; outside it the scanner sees its white glass.
      double edge = (x * x) / (115.0 * 115.0) + (y * y) / (135.0 * 135.0);
      double value = 255;
      if (edge < 1) {
        double ridge = std::cos(RidgePhase(shape, x, y));
        value = 140 - 105 * pressure * ridge + noise.Uniform(-18, 18);
        if (edge > 0.85) value += (edge - 0.85) / 0.15 * (255 - value);  // faint at the rim
      }
      image[row * kImageWidth + col] =
          static_cast<std::uint8_t>(std::fmin(255.0, std::fmax(0.0, value)));
    }
  }
}

void EnhanceImage(const std::uint8_t* raw, std::uint8_t* processed) {
  int low = 255, high = 0;
  for (int i = 0; i < kImageWidth * kImageHeight; ++i) {
    if (raw[i] < low) low = raw[i];
    if (raw[i] > high) high = raw[i];
  }
  int range = high > low ? high - low : 1;
  for (int i = 0; i < kImageWidth * kImageHeight; ++i)
    processed[i] = static_cast<std::uint8_t>((raw[i] - low) * 255 / range);
}

void ExtractTemplate(const std::uint8_t* image, std::uint8_t* feature) {
  for (int block = 0; block < kTemplateBlocks; ++block) {
    int top = kGridOrigin + (block / 16) * kBlockSize, left = kGridOrigin + (block % 16) * kBlockSize;
    // The structure tensor of the block's gradients gives the dominant ridge direction.
    double gxx = 0, gyy = 0, gxy = 0;
    int ridge_pixels = 0;
    for (int row = top; row < top + kBlockSize; ++row) {
      for (int col = left; col < left + kBlockSize; ++col) {
        const std::uint8_t* p = image + row * kImageWidth + col;
        double gx = (col + 1 < kImageWidth ? p[1] : p[0]) - (col > 0 ? p[-1] : p[0]);
        double gy = (row + 1 < kImageHeight ? p[kImageWidth] : p[0]) - (row > 0 ? p[-kImageWidth] : p[0]);
        gxx += gx * gx;
        gyy += gy * gy;
        gxy += gx * gy;
        if (*p < 200) ++ridge_pixels;
      }
    }
    double strength = std::sqrt((gxx - gyy) * (gxx - gyy) + 4 * gxy * gxy);
    if (ridge_pixels < kBlockSize * kBlockSize / 4 || strength < 0.3 * (gxx + gyy)) {
      feature[block] = kNoRidges;
      continue;
    }
    // The gradient's direction is across the ridges; the ridges run at right angles to it.
    double degrees = (0.5 * std::atan2(2 * gxy, gxx - gyy) + kPi / 2) * 180 / kPi;
    feature[block] = static_cast<std::uint8_t>(static_cast<int>(std::lround(degrees)) % 180);
  }
}

int Similarity(const std::uint8_t* a, const std::uint8_t* b) {
  int both = 0, agree = 0;
  for (int i = 0; i < kTemplateBlocks; ++i) {
    if (a[i] >= 180 || b[i] >= 180) continue;
    ++both;
    int difference = a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];
    if (difference > 90) difference = 180 - difference;
    if (difference <= 10) ++agree;
  }
  return both < 48 ? 0 : agree * 100 / both;
}

bool TemplatesMatch(const std::uint8_t* a, const std::uint8_t* b, int level) {
  return Similarity(a, b) >= 65 + 5 * level;
}

bool SaveBmp(const std::string& path, const std::uint8_t* image) {
  constexpr int kRowBytes = kImageWidth * 3;  // already a multiple of 4
  constexpr std::uint32_t kPixelBytes = kRowBytes * kImageHeight;
  std::uint8_t header[54] = {'B', 'M'};
  auto put32 = [&](int at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  put32(2, 54 + kPixelBytes);  // file size
  put32(10, 54);               // pixels start
  put32(14, 40);               // BITMAPINFOHEADER
  put32(18, kImageWidth);
  put32(22, kImageHeight);
  header[26] = 1;   // planes
  header[28] = 24;  // bits per pixel
  put32(34, kPixelBytes);
  put32(38, 3780);  // 96 DPI
  put32(42, 3780);
  std::vector<std::uint8_t> pixels(kPixelBytes);
  for (int row = 0; row < kImageHeight; ++row) {  // BMP rows go bottom-up
    const std::uint8_t* source = image + (kImageHeight - 1 - row) * kImageWidth;
    for (int col = 0; col < kImageWidth; ++col) {
      // A faint sepia tint, as a colour scanner's preview shows skin on glass.
      std::uint8_t grey = source[col];
      pixels[row * kRowBytes + col * 3 + 0] = static_cast<std::uint8_t>(grey * 15 / 16);
      pixels[row * kRowBytes + col * 3 + 1] = static_cast<std::uint8_t>(grey * 31 / 32);
      pixels[row * kRowBytes + col * 3 + 2] = grey;
    }
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                 std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace qvlsim
