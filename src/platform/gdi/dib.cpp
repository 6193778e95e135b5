#include "platform/gdi/dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

namespace gdi {

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

// One channel of a packed pixel, widened to 8 bits by repeating its top bits
// (so 5-bit 31 becomes 255 and narrowing back gives 31 again).
std::uint8_t channel(DWORD v, DWORD mask) {
  if (!mask) return 0;
  const int shift = std::countr_zero(mask);
  const int width = std::popcount(mask);
  DWORD c = (v & mask) >> shift;
  if (width >= 8) return std::uint8_t(c >> (width - 8));
  DWORD out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << width) | c;
    filled += width;
  }
  return std::uint8_t(out >> (filled - 8));
}

DWORD pack(Rgb c, const std::array<DWORD, 3>& masks) {
  DWORD v = 0;
  const std::uint8_t comp[3] = {c.r, c.g, c.b};
  for (int i = 0; i < 3; ++i) {
    const DWORD m = masks[std::size_t(i)];
    if (!m) continue;
    const int shift = std::countr_zero(m);
    const int width = std::popcount(m);
    const DWORD x = width >= 8 ? DWORD(comp[i]) << (width - 8) : DWORD(comp[i]) >> (8 - width);
    v |= (x << shift) & m;
  }
  return v;
}

constexpr std::array<DWORD, 3> kMasks555{0x7c00, 0x03e0, 0x001f};
constexpr std::array<DWORD, 3> kMasks565{0xf800, 0x07e0, 0x001f};
constexpr std::array<DWORD, 3> kMasks888{0xff0000, 0x00ff00, 0x0000ff};

std::array<DWORD, 3> sourceMasks(const Bitmap& bmp) {
  switch (bmp.format()) {
    case PixelFormat::Rgb555: return kMasks555;
    case PixelFormat::Rgb565: return kMasks565;
    case PixelFormat::Bitfields16:
    case PixelFormat::Bitfields32: return bmp.masks();
    default: return kMasks888;
  }
}

bool isIndexed(PixelFormat f) {
  return f == PixelFormat::Indexed1 || f == PixelFormat::Indexed4 || f == PixelFormat::Indexed8;
}

unsigned readIndex(const std::uint8_t* row, int x, int bpp) {
  switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4: return (x & 1) ? row[x >> 1] & 0x0fu : row[x >> 1] >> 4;
    default: return row[x];
  }
}

void writeIndex(std::uint8_t* row, int x, int bpp, unsigned v) {
  switch (bpp) {
    case 1: {
      const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
      row[x >> 3] = std::uint8_t(v & 1 ? row[x >> 3] | bit : row[x >> 3] & ~bit);
      break;
    }
    case 4:
      row[x >> 1] = (x & 1) ? std::uint8_t((row[x >> 1] & 0xf0) | (v & 0x0f))
                            : std::uint8_t((row[x >> 1] & 0x0f) | (v & 0x0f) << 4);
      break;
    default: row[x] = std::uint8_t(v);
  }
}

Rgb readPixel(const Bitmap& bmp, const std::uint8_t* row, int x, const std::array<DWORD, 3>& masks) {
  const int bpp = bmp.bitsPerPixel();
  if (isIndexed(bmp.format())) {
    const unsigned i = readIndex(row, x, bpp);
    const auto& pal = bmp.palette();
    if (i >= pal.size()) return {0, 0, 0};
    return {pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue};
  }
  switch (bpp) {
    case 16: {
      const DWORD v = DWORD(row[2 * x]) | DWORD(row[2 * x + 1]) << 8;
      return {channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2])};
    }
    case 24: return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    default: {
      DWORD v;
      std::memcpy(&v, row + 4 * x, 4);
      return {channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2])};
    }
  }
}

// The colour table a request of `bpp` bits gets when the bitmap's own
// indices cannot be kept: black and white, the 16 VGA colours, or a
// general mix of 256 (a 6x6x6 cube and 40 greys).
std::vector<RGBQUAD> defaultTable(int bpp) {
  std::vector<RGBQUAD> t;
  if (bpp == 1) {
    t = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  } else if (bpp == 4) {
    static const std::uint8_t vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (const auto& c : vga) t.push_back({c[2], c[1], c[0], 0});
  } else {
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          t.push_back({std::uint8_t(b * 51), std::uint8_t(g * 51), std::uint8_t(r * 51), 0});
    for (int i = 0; i < 40; ++i) {
      const auto v = std::uint8_t(i * 255 / 39);
      t.push_back({v, v, v, 0});
    }
  }
  return t;
}

unsigned nearest(const std::vector<RGBQUAD>& table, Rgb c) {
  unsigned best = 0;
  int bestDist = 1 << 30;
  for (unsigned i = 0; i < table.size(); ++i) {
    const int dr = int(table[i].rgbRed) - c.r, dg = int(table[i].rgbGreen) - c.g, db = int(table[i].rgbBlue) - c.b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

// What a request for bits resolves to, once it has passed every check: the
// rows to produce and what the destination's pixels mean.
struct DibLayout {
  int width = 0;  // as asked; may differ from the bitmap's
  int bpp = 0;
  bool bitfields = false;
  unsigned absHeight = 0;
  bool bottomUp = true;
  std::size_t stride = 0;
  unsigned start = 0;
  unsigned lines = 0;
  std::array<DWORD, 3> srcMasks{};
  std::array<DWORD, 3> dstMasks{};
  std::vector<RGBQUAD> table;  // 8 bits and less
  bool keepIndices = false;    // the bitmap's own indices are valid in the table
};

// Checks the header against what can be produced and the buffers against
// what it asks for; nullopt for anything GetDIBits refuses.
std::optional<DibLayout> resolveFormat(const Bitmap& bmp, const BITMAPINFOHEADER& h, unsigned start, unsigned lines,
                                       std::size_t bitsSize, std::size_t infoSize, unsigned usage) {
  DibLayout d;
  d.bpp = h.biBitCount;
  const int bpp = d.bpp;
  d.bitfields = h.biCompression == BI_BITFIELDS;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight < -65535 || h.biHeight > 65535 || h.biWidth > 65535)
    return std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return std::nullopt;
  if (h.biCompression != BI_RGB && !(d.bitfields && (bpp == 16 || bpp == 32))) return std::nullopt;
  if (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) return std::nullopt;

  d.width = h.biWidth;
  d.absHeight = unsigned(h.biHeight < 0 ? -h.biHeight : h.biHeight);
  d.bottomUp = h.biHeight > 0;
  d.stride = std::size_t(rowBytes(h.biWidth, bpp));
  const std::size_t tableBytes =
      bpp <= 8 ? (usage == DIB_PAL_COLORS ? 2u : 4u) << bpp : (d.bitfields ? 12u : 0u);
  if (infoSize < h.biSize + tableBytes) return std::nullopt;
  if (start >= d.absHeight) return std::nullopt;
  d.start = start;
  d.lines = std::min(lines, d.absHeight - start);
  if (d.lines == 0) return std::nullopt;
  if (bitsSize != 0 && bitsSize / d.stride < d.lines) return std::nullopt;

  // What the destination's pixels mean.
  const PixelFormat src = bmp.format();
  const int srcBpp = bmp.bitsPerPixel();
  d.srcMasks = sourceMasks(bmp);
  d.dstMasks = kMasks888;
  if (bpp == 16) d.dstMasks = kMasks555;
  if (d.bitfields) {
    const bool sameDepthMasked = srcBpp == bpp && !isIndexed(src) && src != PixelFormat::Bgr24;
    d.dstMasks = sameDepthMasked ? d.srcMasks : (bpp == 16 ? kMasks565 : kMasks888);
  }
  if (bpp <= 8) {
    if (isIndexed(src) && srcBpp <= bpp) {
      // Indices stay; the bitmap's palette, padded with black, is the table.
      d.keepIndices = true;
      d.table = bmp.palette();
      d.table.resize(std::size_t(1) << bpp, RGBQUAD{0, 0, 0, 0});
    } else {
      d.table = defaultTable(bpp);
    }
  }
  return d;
}

// The colour table or masks that follow the header.
void writeTable(const DibLayout& d, std::uint8_t* after, unsigned usage) {
  if (d.bpp <= 8) {
    if (usage == DIB_PAL_COLORS) {
      for (unsigned i = 0; i < (1u << d.bpp); ++i) {
        after[2 * i] = std::uint8_t(i);
        after[2 * i + 1] = std::uint8_t(i >> 8);
      }
    } else {
      std::memcpy(after, d.table.data(), d.table.size() * sizeof(RGBQUAD));
    }
  } else if (d.bitfields) {
    std::memcpy(after, d.dstMasks.data(), 12);
  }
}

// Fills `bits` with the layout's rows of the bitmap; rows outside the
// bitmap and pixels right of it are zero.
void convertRows(const Bitmap& bmp, const DibLayout& d, std::span<std::uint8_t> bits) {
  const PixelFormat src = bmp.format();
  const int srcBpp = bmp.bitsPerPixel();
  const int bpp = d.bpp;
  const std::array<DWORD, 3>& srcMasks = d.srcMasks;
  const std::array<DWORD, 3>& dstMasks = d.dstMasks;
  const std::size_t stride = d.stride;
  const int width = std::min(d.width, bmp.width());
  const bool sameLayout =
      (srcBpp == bpp) &&
      ((bpp <= 8 && d.keepIndices) || (bpp == 24 && src == PixelFormat::Bgr24) ||
       (bpp == 32 && (src == PixelFormat::Rgb32 || src == PixelFormat::Bitfields32) && srcMasks == dstMasks) ||
       (bpp == 16 && (src == PixelFormat::Rgb555 || src == PixelFormat::Rgb565 || src == PixelFormat::Bitfields16) &&
        srcMasks == dstMasks));
  const std::size_t copyBytes = std::min<std::size_t>(stride, std::size_t(rowBytes(width, bpp)));
  for (unsigned r = 0; r < d.lines; ++r) {
    const unsigned scan = d.start + r;
    const long y = d.bottomUp ? long(d.absHeight) - 1 - long(scan) : long(scan);
    std::uint8_t* out = bits.data() + std::size_t(r) * stride;
    if (y < 0 || y >= bmp.height()) {
      std::memset(out, 0, stride);
      continue;
    }
    const std::uint8_t* in = bmp.scanLine(int(y));
    if (sameLayout) {
      // The common case (a 32-bit screen grab): one copy per row.
      std::memcpy(out, in, copyBytes);
      if (copyBytes < stride) std::memset(out + copyBytes, 0, stride - copyBytes);
      continue;
    }
    std::memset(out, 0, stride);
    if (src == PixelFormat::Rgb565 && bpp == 16 && dstMasks == kMasks555) {
      // A depth-16 display frame delivered as 5-5-5: drop green's lowest bit.
      for (int x = 0; x < width; ++x) {
        const unsigned v = unsigned(in[2 * x]) | unsigned(in[2 * x + 1]) << 8;
        const unsigned o = ((v >> 1) & 0x7fe0u) | (v & 0x1fu);
        out[2 * x] = std::uint8_t(o);
        out[2 * x + 1] = std::uint8_t(o >> 8);
      }
      continue;
    }
    if (src == PixelFormat::Rgb32 && bpp == 24) {
      for (int x = 0; x < width; ++x) std::memcpy(out + 3 * x, in + 4 * x, 3);
      continue;
    }
    for (int x = 0; x < width; ++x) {
      if (bpp <= 8) {
        const unsigned v =
            d.keepIndices ? readIndex(in, x, srcBpp) : nearest(d.table, readPixel(bmp, in, x, srcMasks));
        writeIndex(out, x, bpp, v);
        continue;
      }
      const Rgb c = readPixel(bmp, in, x, srcMasks);
      if (bpp == 24) {
        out[3 * x] = c.b;
        out[3 * x + 1] = c.g;
        out[3 * x + 2] = c.r;
      } else if (bpp == 16) {
        const DWORD v = pack(c, dstMasks);
        out[2 * x] = std::uint8_t(v);
        out[2 * x + 1] = std::uint8_t(v >> 8);
      } else {
        const DWORD v = pack(c, dstMasks);
        std::memcpy(out + 4 * x, &v, 4);
      }
    }
  }
}

}  // namespace

int GetDIBits(const Bitmap& bmp, unsigned start, unsigned lines, std::span<std::uint8_t> bits,
              std::span<std::uint8_t> info, unsigned usage) {
  if (bmp.empty() || info.size() < sizeof(BITMAPINFOHEADER)) return 0;
  BITMAPINFOHEADER h;
  std::memcpy(&h, info.data(), sizeof h);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > info.size()) return 0;

  if (bits.empty() && h.biBitCount == 0) {
    h.biWidth = bmp.width();
    h.biHeight = bmp.height();
    h.biPlanes = 1;
    h.biBitCount = WORD(bmp.bitsPerPixel());
    const bool masked = bmp.format() == PixelFormat::Bitfields16 || bmp.format() == PixelFormat::Bitfields32 ||
                        (!bmp.isDibSection() && (h.biBitCount == 16 || h.biBitCount == 32));
    h.biCompression = masked ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = DWORD(bmp.stride() * bmp.height());
    h.biClrUsed = 0;
    std::memcpy(info.data(), &h, sizeof h);
    return bmp.height();
  }

  const std::optional<DibLayout> layout = resolveFormat(bmp, h, start, lines, bits.size(), info.size(), usage);
  if (!layout) return 0;
  writeTable(*layout, info.data() + h.biSize, usage);
  if (!bits.empty()) convertRows(bmp, *layout, bits);

  h.biClrUsed = 0;
  h.biSizeImage = DWORD(layout->stride * layout->absHeight);
  std::memcpy(info.data(), &h, sizeof h);
  return int(layout->lines);
}

}  // namespace gdi
