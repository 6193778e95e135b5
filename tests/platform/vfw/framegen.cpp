#include "platform/vfw/framegen.h"

#include <cmath>
#include <cstring>

namespace codectest {

namespace {
std::uint8_t clamp8(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
// 8-bit palette: 3 bits red, 3 green, 2 blue.
std::uint8_t to332(const std::uint8_t* p) { return std::uint8_t((p[2] >> 5) << 5 | (p[1] >> 5) << 2 | (p[0] >> 6)); }
void from332(std::uint8_t i, std::uint8_t* p) {
  p[2] = std::uint8_t(((i >> 5) & 7) * 255 / 7);
  p[1] = std::uint8_t(((i >> 2) & 7) * 255 / 7);
  p[0] = std::uint8_t((i & 3) * 255 / 3);
  p[3] = 255;
}
}  // namespace

std::vector<std::uint8_t> naturalPicture(int width, int height, int seed) {
  std::vector<std::uint8_t> px(std::size_t(width) * std::size_t(height) * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &px[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
      // A sky-like gradient with a soft wave over it ...
      const double fx = double(x) / width, fy = double(y) / height;
      int r = int(60 + 150 * fy + 20 * std::sin(6.0 * fx + 0.3 * seed));
      int g = int(90 + 100 * fx + 20 * std::cos(5.0 * fy));
      int b = int(200 - 120 * fy + 15 * std::sin(9.0 * (fx + fy)));
      // ... a flat "window" with a title bar that moves with the seed ...
      const int wx = width / 4 + seed * 2, wy = height / 4;
      if (x >= wx && x < wx + width / 2 && y >= wy && y < wy + height / 2) {
        const bool title = y < wy + height / 12;
        r = title ? 40 : 235;
        g = title ? 80 : 235;
        b = title ? 160 : 230;
        // ... with dark "text" strokes inside.
        if (!title && (y / 2) % 6 == 0 && ((x + seed) / 4) % 3 != 0) r = g = b = 30;
      }
      p[0] = clamp8(b);
      p[1] = clamp8(g);
      p[2] = clamp8(r);
      p[3] = 255;
    }
  return px;
}

std::vector<std::uint8_t> dibHeader(int width, int height, int bitCount, bool topDown) {
  std::vector<std::uint8_t> h(40 + (bitCount == 8 ? 1024 : 0), 0);
  gdi::BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = width;
  bi.biHeight = topDown ? -height : height;
  bi.biPlanes = 1;
  bi.biBitCount = static_cast<gdi::WORD>(bitCount);
  bi.biCompression = gdi::BI_RGB;
  bi.biSizeImage = static_cast<gdi::DWORD>(((width * bitCount + 31) / 32) * 4 * height);
  bi.biClrUsed = bitCount == 8 ? 256 : 0;
  std::memcpy(h.data(), &bi, 40);
  if (bitCount == 8)
    for (int i = 0; i < 256; ++i) from332(std::uint8_t(i), &h[40 + 4 * std::size_t(i)]), h[43 + 4 * std::size_t(i)] = 0;
  return h;
}

std::vector<std::uint8_t> packDib(const std::vector<std::uint8_t>& bgra, int width, int height, int bitCount,
                                  bool topDown) {
  const std::size_t stride = std::size_t((width * bitCount + 31) / 32) * 4;
  std::vector<std::uint8_t> out(stride * std::size_t(height), 0xEE);  // padding bytes deliberately not zero
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = &out[stride * std::size_t(topDown ? y : height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &bgra[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
      switch (bitCount) {
        case 32: std::memcpy(row + 4 * x, p, 3), row[4 * x + 3] = 0; break;
        case 24: std::memcpy(row + 3 * x, p, 3); break;
        case 16: {
          const auto v = std::uint16_t((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3));
          row[2 * x] = std::uint8_t(v);
          row[2 * x + 1] = std::uint8_t(v >> 8);
          break;
        }
        case 8: row[x] = to332(p); break;
        default: break;
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> quantised(const std::vector<std::uint8_t>& bgra, int bitCount) {
  std::vector<std::uint8_t> q = bgra;
  for (std::size_t i = 0; i < q.size(); i += 4) {
    if (bitCount == 16)
      for (int c = 0; c < 3; ++c) {
        const int v = q[i + std::size_t(c)] >> 3;
        q[i + std::size_t(c)] = std::uint8_t(v << 3 | v >> 2);
      }
    else if (bitCount == 8)
      from332(to332(&q[i]), &q[i]);
  }
  return q;
}

std::vector<std::uint8_t> colourOnly(const std::vector<std::uint8_t>& bgra) {
  std::vector<std::uint8_t> c;
  c.reserve(bgra.size() / 4 * 3);
  for (std::size_t i = 0; i + 3 < bgra.size(); i += 4) c.insert(c.end(), &bgra[i], &bgra[i] + 3);
  return c;
}

}  // namespace codectest
