#include "platform/gdi/blend.h"

#include <algorithm>
#include <cstring>

namespace gdi {

namespace {

// v / 255, rounded, for v up to 255 * 255.
inline std::uint32_t div255(std::uint32_t v) {
  v += 128;
  return (v + (v >> 8)) >> 8;
}

// One channel: the source's (premultiplied) over what lies beneath.
inline std::uint32_t over(std::uint32_t src, std::uint32_t dst, std::uint32_t inverseAlpha) {
  return std::min<std::uint32_t>(255, src + div255(dst * inverseAlpha));
}

// A 16-bit channel of `bits` bits widened to 8 and back, so that an opaque
// source gives exactly the pixel the display would show for its colour.
inline std::uint32_t widen(std::uint32_t v, int bits) { return (v << (8 - bits)) | (v >> (2 * bits - 8)); }

}  // namespace

bool AlphaBlendPremultiplied(Bitmap& dest, int x, int y, int w, int h, std::span<const std::uint32_t> argb) {
  if (dest.empty() || w <= 0 || h <= 0 || argb.size() < std::size_t(w) * std::size_t(h)) return false;
  const PixelFormat f = dest.format();
  if (dest.isDibSection() || (f != PixelFormat::Rgb32 && f != PixelFormat::Rgb565 && f != PixelFormat::Rgb555))
    return false;
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(dest.width(), x + w), y1 = std::min(dest.height(), y + h);
  const int greenBits = f == PixelFormat::Rgb565 ? 6 : 5;
  for (int dy = y0; dy < y1; ++dy) {
    const std::uint32_t* src = argb.data() + std::size_t(dy - y) * std::size_t(w);
    std::uint8_t* row = dest.scanLine(dy);
    for (int dx = x0; dx < x1; ++dx) {
      const std::uint32_t s = src[dx - x];
      const std::uint32_t a = s >> 24;
      if (a == 0 && (s & 0xffffff) == 0) continue;  // clear: the screen shows through
      const std::uint32_t inv = 255 - a;
      const std::uint32_t sr = (s >> 16) & 0xff, sg = (s >> 8) & 0xff, sb = s & 0xff;
      if (f == PixelFormat::Rgb32) {
        std::uint8_t* p = row + std::size_t(dx) * 4;
        p[0] = std::uint8_t(over(sb, p[0], inv));
        p[1] = std::uint8_t(over(sg, p[1], inv));
        p[2] = std::uint8_t(over(sr, p[2], inv));
        continue;
      }
      std::uint16_t px = 0;
      std::memcpy(&px, row + std::size_t(dx) * 2, 2);
      const std::uint32_t gMask = (1u << greenBits) - 1;
      const std::uint32_t db = widen(px & 0x1f, 5), dg = widen((px >> 5) & gMask, greenBits),
                          dr = widen((px >> (5 + greenBits)) & 0x1f, 5);
      const std::uint32_t r = over(sr, dr, inv), g = over(sg, dg, inv), b = over(sb, db, inv);
      px = std::uint16_t(((r >> 3) << (5 + greenBits)) | ((g >> (8 - greenBits)) << 5) | (b >> 3));
      std::memcpy(row + std::size_t(dx) * 2, &px, 2);
    }
  }
  return true;
}

}  // namespace gdi
