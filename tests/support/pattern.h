#pragma once
// The test pattern shown by the tests' windows (X11 and Wayland): the
// colour of pixel (x, y) as 0xRRGGBB, distinct in each row and column, so
// an offset of one pixel shows.
#include <cstdint>

namespace testpattern {

inline std::uint32_t colour(int x, int y) {
  const std::uint32_t r = (x * 7 + y * 3) & 0xff, g = (x * 13 + 40) & 0xff, b = (y * 11 + 90) & 0xff;
  return (r << 16) | (g << 8) | b;
}

}  // namespace testpattern
