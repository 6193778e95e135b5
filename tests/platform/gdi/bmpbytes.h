#pragma once
// Builds BMP files byte for byte, for the variants ImageMagick does not
// write (RLE4, top-down, V4 headers, 16-bit BI_RGB) and for broken files.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace bmptest {

struct Spec {
  std::uint32_t headerSize = 40;
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t planes = 1;
  std::uint16_t bpp = 24;
  std::uint32_t compression = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t v4masks[3] = {0, 0, 0};    // written inside headers of 52 bytes and more
  std::vector<std::uint8_t> tables;        // masks after a 40-byte header, colour table
  std::vector<std::uint8_t> pixels;        // as stored in the file
  std::optional<std::uint32_t> offBits;    // default: right after the tables
};

inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}
inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = std::uint8_t(v);
  b[at + 1] = std::uint8_t(v >> 8);
}

inline std::vector<std::uint8_t> make(const Spec& s) {
  std::vector<std::uint8_t> b{'B', 'M'};
  b.resize(14 + s.headerSize);
  const std::uint32_t off = s.offBits.value_or(std::uint32_t(14 + s.headerSize + s.tables.size()));
  put32(b, 10, off);
  put32(b, 14, s.headerSize);
  if (s.headerSize == 12) {
    put16(b, 18, std::uint16_t(s.width));
    put16(b, 20, std::uint16_t(s.height));
    put16(b, 22, s.planes);
    put16(b, 24, s.bpp);
  } else {
    put32(b, 18, std::uint32_t(s.width));
    put32(b, 22, std::uint32_t(s.height));
    put16(b, 26, s.planes);
    put16(b, 28, s.bpp);
    put32(b, 30, s.compression);
    put32(b, 46, s.clrUsed);
    if (s.headerSize >= 52)
      for (int i = 0; i < 3; ++i) put32(b, 54 + 4 * std::size_t(i), s.v4masks[i]);
  }
  b.insert(b.end(), s.tables.begin(), s.tables.end());
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  put32(b, 2, std::uint32_t(b.size()));
  return b;
}

// A colour table of RGBQUADs (B, G, R, 0) from R, G, B triples.
inline std::vector<std::uint8_t> quads(const std::vector<std::uint32_t>& rgb) {
  std::vector<std::uint8_t> t;
  for (std::uint32_t c : rgb) {
    t.push_back(std::uint8_t(c));
    t.push_back(std::uint8_t(c >> 8));
    t.push_back(std::uint8_t(c >> 16));
    t.push_back(0);
  }
  return t;
}

}  // namespace bmptest
