#pragma once
// The frames the AVI tests write: every pixel a function of its place and
// of the frame number, so a frame read back can be checked on its own.
#include <cstdint>
#include <vector>

namespace avitest {

struct Bgr {
  std::uint8_t b, g, r;
};

// Pixel (x, y) of frame i, y counted from the top of the picture.
inline Bgr patternPixel(int x, int y, int i) {
  return {std::uint8_t(x * 3 + i * 5), std::uint8_t(y * 7 + i), std::uint8_t(x + y + i * 11)};
}

// A packed 32-bit BI_RGB frame: rows bottom-up, B G R 0.
inline std::vector<std::uint8_t> patternFrame32(int w, int h, int i) {
  std::vector<std::uint8_t> bits(std::size_t(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Bgr c = patternPixel(x, y, i);
      std::uint8_t* p = bits.data() + (std::size_t(h - 1 - y) * w + x) * 4;
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = 0;
    }
  return bits;
}

// Whether a decoded bgra frame (top-down, tightly packed) is frame i.
inline bool isPatternFrame(const std::vector<std::uint8_t>& bgra, int w, int h, int i) {
  if (bgra.size() != std::size_t(w) * h * 4) return false;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Bgr c = patternPixel(x, y, i);
      const std::uint8_t* p = bgra.data() + (std::size_t(y) * w + x) * 4;
      if (p[0] != c.b || p[1] != c.g || p[2] != c.r) return false;
    }
  return true;
}

}  // namespace avitest
