// A picture with premultiplied alpha laid over device bitmaps: the blend
// itself, and the clipping at each edge.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi/blend.h"

namespace {

std::uint32_t pixel32(const gdi::Bitmap& b, int x, int y) {
  std::uint32_t p = 0;
  std::memcpy(&p, b.scanLine(y) + x * 4, 4);
  return p & 0xffffff;
}

gdi::Bitmap filled32(int w, int h, std::uint32_t bgrx) {
  gdi::Bitmap b = gdi::Bitmap::device(w, h, gdi::PixelFormat::Rgb32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) std::memcpy(b.scanLine(y) + x * 4, &bgrx, 4);
  return b;
}

TEST(AlphaBlend, PremultipliedOverTheBitmap) {
  gdi::Bitmap b = filled32(4, 1, 0x204080);
  // Opaque, clear, half-transparent white (premultiplied: 0x80 of each),
  // and clear but adding light (a premultiplied colour without alpha).
  const std::vector<std::uint32_t> src{0xff112233, 0x00000000, 0x80808080, 0x00101010};
  ASSERT_TRUE(gdi::AlphaBlendPremultiplied(b, 0, 0, 4, 1, src));
  EXPECT_EQ(pixel32(b, 0, 0), 0x112233u);
  EXPECT_EQ(pixel32(b, 1, 0), 0x204080u);
  // 0x80 + c * 127 / 255, rounded.
  EXPECT_EQ(pixel32(b, 2, 0), 0x90a0c0u);
  EXPECT_EQ(pixel32(b, 3, 0), 0x305090u);
}

TEST(AlphaBlend, ClippedAtEveryEdge) {
  const std::vector<std::uint32_t> red(9, 0xffff0000);  // 3 x 3
  for (const auto& [x, y] : {std::pair{-2, -2}, std::pair{4, -1}, std::pair{-1, 4}, std::pair{4, 4}}) {
    gdi::Bitmap b = filled32(5, 5, 0);
    ASSERT_TRUE(gdi::AlphaBlendPremultiplied(b, x, y, 3, 3, red));
    for (int py = 0; py < 5; ++py)
      for (int px = 0; px < 5; ++px) {
        const bool covered = px >= x && px < x + 3 && py >= y && py < y + 3;
        EXPECT_EQ(pixel32(b, px, py), covered ? 0xff0000u : 0u) << px << "," << py << " from " << x << "," << y;
      }
  }
  // Wholly outside: nothing drawn, nothing touched.
  gdi::Bitmap b = filled32(5, 5, 0x123456);
  EXPECT_TRUE(gdi::AlphaBlendPremultiplied(b, 5, 0, 3, 3, red));
  EXPECT_TRUE(gdi::AlphaBlendPremultiplied(b, -3, -3, 3, 3, red));
  EXPECT_EQ(pixel32(b, 4, 0), 0x123456u);
  EXPECT_EQ(pixel32(b, 0, 0), 0x123456u);
}

TEST(AlphaBlend, SixteenBitDisplays) {
  for (const auto f : {gdi::PixelFormat::Rgb565, gdi::PixelFormat::Rgb555}) {
    gdi::Bitmap b = gdi::Bitmap::device(2, 1, f);
    const std::uint16_t white = f == gdi::PixelFormat::Rgb565 ? 0xffff : 0x7fff;
    std::memcpy(b.scanLine(0) + 2, &white, 2);
    // Opaque green on black; half-transparent black over white.
    const std::vector<std::uint32_t> src{0xff00ff00, 0x80000000};
    ASSERT_TRUE(gdi::AlphaBlendPremultiplied(b, 0, 0, 2, 1, src));
    std::uint16_t p[2];
    std::memcpy(p, b.scanLine(0), 4);
    EXPECT_EQ(p[0], f == gdi::PixelFormat::Rgb565 ? 0x07e0 : 0x03e0);
    // 255 * 127 / 255 = 127: each channel's top bits 0111 1...
    EXPECT_EQ(p[1], f == gdi::PixelFormat::Rgb565 ? ((15 << 11) | (31 << 5) | 15) : ((15 << 10) | (15 << 5) | 15));
  }
}

TEST(AlphaBlend, RefusesWhatItCannotDraw) {
  gdi::Bitmap indexed = gdi::Bitmap::device(2, 2, gdi::PixelFormat::Indexed8);
  const std::vector<std::uint32_t> src(4, 0xffffffff);
  EXPECT_FALSE(gdi::AlphaBlendPremultiplied(indexed, 0, 0, 2, 2, src));
  gdi::Bitmap b = filled32(2, 2, 0);
  EXPECT_FALSE(gdi::AlphaBlendPremultiplied(b, 0, 0, 3, 2, src)) << "fewer pixels than the size says";
  EXPECT_EQ(pixel32(b, 0, 0), 0u);
  gdi::Bitmap none;
  EXPECT_FALSE(gdi::AlphaBlendPremultiplied(none, 0, 0, 2, 2, src));
}

}  // namespace
