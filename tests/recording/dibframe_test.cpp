// The packed frame: its sizes for every kind of bitmap, and the rows and
// colour tables GetDIBits fills in.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/gdi/dib.h"
#include "recording/aviwriter.h"

using gdi::Bitmap;
using namespace recording;
using gdi::PixelFormat;

namespace {

struct Sizes {
  std::uint32_t header = 0, image = 0;
};

Sizes sizesOf(const Bitmap& b) {
  Sizes s;
  EXPECT_TRUE(DIBFrameSizes(b, s.header, s.image));
  return s;
}

std::vector<std::uint8_t> infoHeader(int w, int h, int bpp, gdi::DWORD compression = gdi::BI_RGB) {
  gdi::BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = gdi::WORD(bpp);
  bi.biCompression = compression;
  std::vector<std::uint8_t> v(sizeof bi);
  std::memcpy(v.data(), &bi, sizeof bi);
  return v;
}

gdi::BITMAPINFOHEADER headerOf(const std::vector<std::uint8_t>& buf) {
  gdi::BITMAPINFOHEADER h{};
  std::memcpy(&h, buf.data(), sizeof h);
  return h;
}

}  // namespace

TEST(DIBFrameSizes, RowPaddingHeaderSizesAndHeights) {
  // 24 bits: 101 pixels take 303 bytes, padded to 304.
  auto s = sizesOf(Bitmap::device(101, 50, PixelFormat::Bgr24));
  EXPECT_EQ(s.header, 40u);
  EXPECT_EQ(s.image, 15200u);
  s = sizesOf(Bitmap::device(100, 2, PixelFormat::Bgr24));
  EXPECT_EQ(s.image, 600u);
  // 8 bits: 321 pixels pad to 324; the header carries 256 colours.
  s = sizesOf(Bitmap::device(321, 3, PixelFormat::Indexed8));
  EXPECT_EQ(s.header, 1064u);
  EXPECT_EQ(s.image, 972u);
  // Device frames of 16 and 32 bits: no colour table, no masks.
  EXPECT_EQ(sizesOf(Bitmap::device(7, 5, PixelFormat::Rgb565)).header, 40u);
  EXPECT_EQ(sizesOf(Bitmap::device(7, 5, PixelFormat::Rgb565)).image, 80u);
  EXPECT_EQ(sizesOf(Bitmap::device(7, 5, PixelFormat::Rgb32)).header, 40u);
  EXPECT_EQ(sizesOf(Bitmap::device(7, 5, PixelFormat::Rgb32)).image, 140u);

  // Sections: 1 and 4 bits, a 32-bit one with masks, a top-down one.
  const auto section = [](int w, int h, int bpp, PixelFormat f, gdi::DWORD comp, bool topDown) {
    return Bitmap::dibSection(infoHeader(w, topDown ? -h : h, bpp, comp), f, w, h, topDown,
                              std::vector<gdi::RGBQUAD>(bpp <= 8 ? 1u << bpp : 0u), {0xff0000, 0xff00, 0xff},
                              std::vector<std::uint8_t>(std::size_t(gdi::rowBytes(w, bpp) * h)));
  };
  EXPECT_EQ(sizesOf(section(9, 4, 1, PixelFormat::Indexed1, gdi::BI_RGB, false)).header, 48u);
  EXPECT_EQ(sizesOf(section(9, 4, 1, PixelFormat::Indexed1, gdi::BI_RGB, false)).image, 16u);
  EXPECT_EQ(sizesOf(section(9, 4, 4, PixelFormat::Indexed4, gdi::BI_RGB, false)).header, 104u);
  EXPECT_EQ(sizesOf(section(9, 4, 32, PixelFormat::Bitfields32, gdi::BI_BITFIELDS, false)).header, 52u);
  s = sizesOf(section(101, 50, 24, PixelFormat::Bgr24, gdi::BI_RGB, true));
  EXPECT_EQ(s.image, 15200u);  // |height|

  std::uint32_t hs = 7, is = 7;
  EXPECT_FALSE(DIBFrameSizes(Bitmap(), hs, is));
}

// Rows come out bottom-up (top-down for a negative height), padded with
// zeros; 16-bit 5-6-5 pixels become 5-5-5; biClrUsed is 0 afterwards.
TEST(GetDIBits, RowOrderPaddingAndPixelFormats) {
  Bitmap rgb = Bitmap::device(3, 2, PixelFormat::Rgb32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = rgb.scanLine(y) + 4 * x;
      p[0] = std::uint8_t(10 * y + x);
      p[1] = 100;
      p[2] = 200;
      p[3] = 0xEE;
    }
  std::vector<std::uint8_t> info = infoHeader(3, 2, 24);
  std::vector<std::uint8_t> bits(2 * 12, 0xAA);
  ASSERT_EQ(gdi::GetDIBits(rgb, 0, 2, bits, info, gdi::DIB_RGB_COLORS), 2);
  // Bottom row (y = 1) first; 9 bytes of pixels then 3 bytes of zero padding.
  EXPECT_EQ(bits[0], 10);
  EXPECT_EQ(bits[3], 11);
  EXPECT_EQ(bits[9], 0);
  EXPECT_EQ(bits[11], 0);
  EXPECT_EQ(bits[12], 0);
  EXPECT_EQ(bits[13], 100);
  EXPECT_EQ(bits[14], 200);
  EXPECT_EQ(headerOf(info).biSizeImage, 24u);

  // Negative height: top row first.
  info = infoHeader(3, -2, 32);
  std::vector<std::uint8_t> bits32(24);
  ASSERT_EQ(gdi::GetDIBits(rgb, 0, 2, bits32, info, gdi::DIB_RGB_COLORS), 2);
  EXPECT_EQ(bits32[0], 0);
  EXPECT_EQ(bits32[12], 10);
  // Too small a pixel buffer is refused, not overrun.
  std::vector<std::uint8_t> small(23);
  EXPECT_EQ(gdi::GetDIBits(rgb, 0, 2, small, info, gdi::DIB_RGB_COLORS), 0);

  // A 5-6-5 device frame is delivered as 5-5-5.
  Bitmap b565 = Bitmap::device(2, 1, PixelFormat::Rgb565);
  const std::uint16_t in[2] = {0xF800 | 0x07E0 | 0x001F, std::uint16_t(21 << 11 | 42 << 5 | 9)};
  std::memcpy(b565.scanLine(0), in, 4);
  info = infoHeader(2, 1, 16);
  std::vector<std::uint8_t> bits16(4);
  ASSERT_EQ(gdi::GetDIBits(b565, 0, 1, bits16, info, gdi::DIB_RGB_COLORS), 1);
  std::uint16_t out[2];
  std::memcpy(out, bits16.data(), 4);
  EXPECT_EQ(out[0], 0x7FFF);
  EXPECT_EQ(out[1], 21 << 10 | 21 << 5 | 9);

  // An 8-bit frame: indices kept, the palette as RGB entries, biClrUsed 0.
  Bitmap pal = Bitmap::device(2, 1, PixelFormat::Indexed8);
  pal.palette()[5] = {1, 2, 3, 0};
  pal.scanLine(0)[0] = 5;
  pal.scanLine(0)[1] = 255;
  info = infoHeader(2, 1, 8);
  info.resize(1064);
  gdi::BITMAPINFOHEADER asked = headerOf(info);
  asked.biClrUsed = 37;
  std::memcpy(info.data(), &asked, 40);
  std::vector<std::uint8_t> bits8(4);
  ASSERT_EQ(gdi::GetDIBits(pal, 0, 1, bits8, info, gdi::DIB_RGB_COLORS), 1);
  EXPECT_EQ(bits8[0], 5);
  EXPECT_EQ(bits8[1], 255);
  EXPECT_EQ(info[40 + 4 * 5], 1);
  EXPECT_EQ(info[40 + 4 * 5 + 2], 3);
  EXPECT_EQ(headerOf(info).biClrUsed, 0u);
  // No room for the colour table: refused.
  std::vector<std::uint8_t> shortInfo = infoHeader(2, 1, 8);
  EXPECT_EQ(gdi::GetDIBits(pal, 0, 1, bits8, shortInfo, gdi::DIB_RGB_COLORS), 0);

  // Query mode on a 32-bit device bitmap.
  info = infoHeader(0, 0, 0);
  ASSERT_NE(gdi::GetDIBits(rgb, 0, 0, {}, info, gdi::DIB_RGB_COLORS), 0);
  EXPECT_EQ(headerOf(info).biWidth, 3);
  EXPECT_EQ(headerOf(info).biBitCount, 32);
  EXPECT_EQ(headerOf(info).biCompression, gdi::BI_BITFIELDS);
}

// A section with masks keeps them: 52-byte header, masks after it.
TEST(DIBFrameFromBitmap, SectionHeaderIsKeptWithItsMasks) {
  std::vector<std::uint8_t> px(8);
  const gdi::DWORD v0 = 0x3FF, v1 = 0xFFC00;
  std::memcpy(px.data(), &v0, 4);
  std::memcpy(px.data() + 4, &v1, 4);
  auto hdr = infoHeader(1, 2, 32, gdi::BI_BITFIELDS);
  const Bitmap b = Bitmap::dibSection(hdr, PixelFormat::Bitfields32, 1, 2, false, {}, {0x3FF00000, 0xFFC00, 0x3FF}, px);
  std::uint32_t hs = 0, is = 0;
  ASSERT_TRUE(DIBFrameSizes(b, hs, is));
  ASSERT_EQ(hs, 52u);
  std::vector<std::uint8_t> header(hs), bits(is);
  ASSERT_TRUE(DIBFrameFromBitmap(b, header, bits));
  gdi::DWORD masks[3];
  std::memcpy(masks, header.data() + 40, 12);
  EXPECT_EQ(masks[0], 0x3FF00000u);
  EXPECT_EQ(masks[1], 0xFFC00u);
  EXPECT_EQ(masks[2], 0x3FFu);
  EXPECT_EQ(0, std::memcmp(bits.data(), px.data(), 8));
  EXPECT_EQ(DIBFormatSize(header), 52u);
  // Buffers smaller than the sizes are refused.
  std::vector<std::uint8_t> tiny(4);
  EXPECT_FALSE(DIBFrameFromBitmap(b, header, tiny));
}

// The format offered to the compressor dialog is the header the frames
// get, colour table or masks included, without converting any pixels.
TEST(FrameFormat, IsTheHeaderOfThePackedFrame) {
  Bitmap palette = Bitmap::device(5, 3, PixelFormat::Indexed8);
  for (int i = 0; i < 256; ++i) palette.palette()[std::size_t(i)] = {std::uint8_t(i), 7, std::uint8_t(255 - i), 0};
  for (const Bitmap& b : {Bitmap::device(7, 2, PixelFormat::Rgb32), Bitmap::device(7, 2, PixelFormat::Rgb565), palette}) {
    std::uint32_t hs = 0, is = 0;
    ASSERT_TRUE(DIBFrameSizes(b, hs, is));
    std::vector<std::uint8_t> packed(hs), bits(is), format;
    ASSERT_TRUE(DIBFrameFromBitmap(b, packed, bits));
    ASSERT_TRUE(frameFormat(b, format));
    EXPECT_EQ(format, packed) << b.bitsPerPixel();
  }
  std::vector<std::uint8_t> none;
  EXPECT_FALSE(frameFormat(Bitmap(), none));
}
