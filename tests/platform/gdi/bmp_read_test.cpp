// Loading BMP files: every variant a user's files may be in, each decoded to
// the pixels that an independent reader (ImageMagick or ffmpeg) sees, and
// damaged files refused with the program's messages.
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

#include <chrono>
#include <future>

#include <QFile>
#include <QImage>
#include <cstring>

#include "platform/gdi/bmpbytes.h"
#include "platform/gdi/bmpfile.h"
#include "platform/gdi/qimage.h"
#include "support/media.h"
#include "support/tempdir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The picture as tightly packed RGB, top row first.
Bytes rgbOf(const gdi::Bitmap& bmp) {
  const QImage img = gdi::toQImage(bmp).convertToFormat(QImage::Format_RGB888);
  Bytes out;
  for (int y = 0; y < img.height(); ++y) {
    const auto* s = img.constScanLine(y);
    out.insert(out.end(), s, s + 3 * img.width());
  }
  return out;
}

void writeFile(const std::string& path, const Bytes& b) {
  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(b.data()), qint64(b.size()));
}

Bytes readFile(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray a = f.readAll();
  return Bytes(a.begin(), a.end());
}

// What ffmpeg decodes from the file, as RGB.
Bytes ffmpegRgb(const std::string& path, int w, int h) {
  auto frames = testsupport::decodeFrames(path, w, h, "rgb24");
  return frames.empty() ? Bytes{} : frames[0];
}

::testing::AssertionResult near(const Bytes& a, const Bytes& b, int tolerance) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::abs(int(a[i]) - int(b[i])) > tolerance)
      return ::testing::AssertionFailure() << "byte " << i << ": " << int(a[i]) << " vs " << int(b[i]);
  return ::testing::AssertionSuccess();
}

constexpr int W = 7, H = 5;  // an odd width, so every depth has row padding

// Three source pictures: 35 distinct colours, 16 colours, black and white.
Bytes source(int colours) {
  Bytes d;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int i = x + W * y;
      if (colours == 2) {
        const std::uint8_t v = (x * y + x) % 3 == 0 ? 255 : 0;
        d.insert(d.end(), {v, v, v});
      } else if (colours == 16) {
        const int k = (x + 2 * y) % 16;
        d.insert(d.end(), {std::uint8_t(k * 16), std::uint8_t(255 - k * 15), std::uint8_t(k * 37 % 256)});
      } else {
        d.insert(d.end(), {std::uint8_t(i * 7), std::uint8_t(255 - i * 5), std::uint8_t(i * 31 % 256)});
      }
    }
  return d;
}

struct Variant {
  const char* name;
  int colours;
  std::vector<std::string> args;
  std::string format;  // ImageMagick's output coder
  unsigned headerSize, bpp, compression;
  int tolerance;  // 16-bit files lose the low bits
};

class ImageMagickVariants : public ::testing::TestWithParam<Variant> {};

TEST_P(ImageMagickVariants, DecodeToTheSourcePixels) {
  const Variant& v = GetParam();
  testsupport::TempDir dir;
  const std::string raw = dir.file("in.rgb"), bmp = dir.file("out.bmp");
  writeFile(raw, source(v.colours));
  std::vector<std::string> argv{"convert", "-size", "7x5", "-depth", "8", "rgb:" + raw};
  argv.insert(argv.end(), v.args.begin(), v.args.end());
  argv.push_back(v.format + ":" + bmp);
  ASSERT_EQ(testsupport::runCommand(argv), 0);

  // Make sure ImageMagick wrote the variant this case is about.
  const Bytes file = readFile(bmp);
  ASSERT_GE(file.size(), 34u);
  std::uint32_t hs;
  std::memcpy(&hs, &file[14], 4);
  ASSERT_EQ(hs, v.headerSize);
  if (hs == 12) {
    EXPECT_EQ(file[24], v.bpp);
  } else {
    EXPECT_EQ(file[28], v.bpp);
    EXPECT_EQ(file[30], v.compression);
  }

  const gdi::Bitmap b = gdi::loadBmp(QString::fromStdString(bmp));
  ASSERT_EQ(b.width(), W);
  ASSERT_EQ(b.height(), H);
  EXPECT_EQ(b.bitsPerPixel(), int(v.bpp));
  EXPECT_TRUE(near(rgbOf(b), source(v.colours), v.tolerance));
  EXPECT_TRUE(near(rgbOf(b), ffmpegRgb(bmp, W, H), 2));
  // A part of the picture, as a small image control shows it, is the same
  // pixels as that part of the whole (clipped at the edges).
  for (const QRect part : {QRect(1, 1, 3, 2), QRect(5, 3, 10, 10), QRect(-2, -1, 4, 3), QRect(0, 0, W, H)}) {
    const QRect inside = part.intersected(QRect(0, 0, W, H));
    EXPECT_EQ(gdi::toQImage(b, part).convertToFormat(QImage::Format_RGB32),
              gdi::toQImage(b).copy(inside).convertToFormat(QImage::Format_RGB32))
        << part.x() << "," << part.y() << " " << part.width() << "x" << part.height();
  }
  // Drawn at once, every layout shows the same pixels as its copy.
  EXPECT_EQ(gdi::viewOf(b).convertToFormat(QImage::Format_RGB32), gdi::toQImage(b).convertToFormat(QImage::Format_RGB32));

  // The kept header is a plain 40-byte one that sizes the frame from the rows.
  ASSERT_TRUE(b.isDibSection());
  gdi::BITMAPINFOHEADER h;
  ASSERT_EQ(b.dibHeader().size(), sizeof h);
  std::memcpy(&h, b.dibHeader().data(), sizeof h);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, W);
  EXPECT_EQ(h.biHeight, H);
  EXPECT_EQ(h.biBitCount, v.bpp);
  EXPECT_EQ(h.biSizeImage, 0u);
  EXPECT_NE(h.biCompression, gdi::BI_RLE8);
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, ImageMagickVariants,
    ::testing::Values(Variant{"Rgb24", 35, {"-type", "TrueColor"}, "BMP3", 40, 24, 0, 0},
                      Variant{"V5Rgb24", 35, {"-type", "TrueColor"}, "BMP", 124, 24, 0, 0},
                      Variant{"V5Bitfields32", 35, {"-type", "TrueColorAlpha"}, "BMP", 124, 32, 3, 0},
                      Variant{"V5Bitfields565", 35, {"-define", "bmp:subtype=RGB565"}, "BMP", 124, 16, 3, 8},
                      Variant{"V5Bitfields555", 35, {"-define", "bmp:subtype=RGB555"}, "BMP", 124, 16, 3, 8},
                      Variant{"Palette8", 35, {"-type", "Palette", "-compress", "None"}, "BMP3", 40, 8, 0, 0},
                      Variant{"Rle8", 35, {"-type", "Palette", "-compress", "RLE"}, "BMP3", 40, 8, 1, 0},
                      Variant{"Palette4", 16, {"-type", "Palette"}, "BMP3", 40, 4, 0, 0},
                      Variant{"Os2Palette4", 16, {"-type", "Palette"}, "BMP2", 12, 4, 0, 0},
                      Variant{"Mono1", 2, {"-type", "Bilevel"}, "BMP3", 40, 1, 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// Variants ImageMagick does not write, built byte for byte; ffmpeg reads
// the same bytes as the independent check of the expected pixels.
struct HandMade {
  bmptest::Spec spec;
  Bytes expectRgb;  // top row first
};

void expectDecodes(const HandMade& m, int tolerance = 0) {
  testsupport::TempDir dir;
  const std::string path = dir.file("x.bmp");
  writeFile(path, bmptest::make(m.spec));
  const gdi::Bitmap b = gdi::loadBmp(QString::fromStdString(path));
  const int h = m.spec.height < 0 ? -m.spec.height : m.spec.height;
  ASSERT_EQ(b.width(), m.spec.width);
  ASSERT_EQ(b.height(), h);
  EXPECT_TRUE(near(rgbOf(b), m.expectRgb, tolerance));
  EXPECT_TRUE(near(ffmpegRgb(path, m.spec.width, h), m.expectRgb, tolerance));
}

TEST(BmpHandMade, Rle4WithAbsoluteBlocksDeltasAndEndOfLine) {
  const std::vector<std::uint32_t> pal{0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF,
                                       0xFF00FF, 0x808080, 0x400000, 0x004000, 0x000040, 0x404000,
                                       0x004040, 0x400040, 0xC0C0C0, 0xFFFFFF};
  bmptest::Spec s;
  s.width = 5;
  s.height = 3;
  s.bpp = 4;
  s.compression = gdi::BI_RLE4;
  s.tables = bmptest::quads(pal);
  s.pixels = {5, 0x12, 0, 0,                   // bottom row: 1 2 1 2 1
              0, 5, 0x34, 0x56, 0x70, 0, 0, 0,  // middle row: absolute 3 4 5 6 7, padded
              0, 2, 2, 0, 3, 0xFF, 0, 0,        // top row: skip 2, then 15 15 15
              0, 1};
  Bytes rgb;
  for (int idx : {0, 0, 15, 15, 15, 3, 4, 5, 6, 7, 1, 2, 1, 2, 1})
    rgb.insert(rgb.end(), {std::uint8_t(pal[idx] >> 16), std::uint8_t(pal[idx] >> 8), std::uint8_t(pal[idx])});
  expectDecodes({s, rgb});
}

TEST(BmpHandMade, Rle8EndingWithoutEndMarkerAfterTheLastRow) {
  bmptest::Spec s;
  s.width = 3;
  s.height = 2;
  s.bpp = 8;
  s.compression = gdi::BI_RLE8;
  s.clrUsed = 3;
  s.tables = bmptest::quads({0x102030, 0xA0B0C0, 0xFFFFFF});
  s.pixels = {3, 1, 0, 0, 1, 2, 2, 0, 0, 0};
  const Bytes rgb{0xFF, 0xFF, 0xFF, 0x10, 0x20, 0x30, 0x10, 0x20, 0x30,  // top
                  0xA0, 0xB0, 0xC0, 0xA0, 0xB0, 0xC0, 0xA0, 0xB0, 0xC0};
  expectDecodes({s, rgb});
}

TEST(BmpHandMade, TopDown24AndBottomUp32AndOs2Rgb24) {
  // Top-down: the first stored row is the top one; rows padded to 8 bytes.
  bmptest::Spec td;
  td.width = 2;
  td.height = -2;
  td.pixels = {0x03, 0x02, 0x01, 0x06, 0x05, 0x04, 0, 0, 0x0C, 0x0B, 0x0A, 0x0F, 0x0E, 0x0D, 0, 0};
  expectDecodes({td, {1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 14, 15}});

  bmptest::Spec bu;
  bu.width = 2;
  bu.height = 2;
  bu.bpp = 32;
  bu.pixels = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 100, 110, 120, 0};
  expectDecodes({bu, {90, 80, 70, 120, 110, 100, 30, 20, 10, 60, 50, 40}});

  bmptest::Spec os2;
  os2.headerSize = 12;
  os2.width = 1;
  os2.height = 2;
  os2.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  expectDecodes({os2, {6, 5, 4, 3, 2, 1}});
}

TEST(BmpHandMade, SixteenBitRgb555AndBitfieldsAfterA40ByteHeader) {
  // 5-5-5: white, pure red, pure green, pure blue; 2 x 2.
  bmptest::Spec s555;
  s555.width = 2;
  s555.height = 2;
  s555.bpp = 16;
  s555.pixels = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F};  // bottom: red green, top: blue white
  const Bytes expect{0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0};
  expectDecodes({s555, expect});

  bmptest::Spec s565 = s555;
  s565.compression = gdi::BI_BITFIELDS;
  s565.tables = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  s565.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF};
  expectDecodes({s565, expect});
}

TEST(BmpHandMade, V4HeaderWithMasksInside) {
  bmptest::Spec s;
  s.headerSize = 108;
  s.width = 1;
  s.height = 1;
  s.bpp = 32;
  s.compression = gdi::BI_BITFIELDS;
  s.v4masks[0] = 0x000000FF;  // R G B X in memory, not the usual B G R X
  s.v4masks[1] = 0x0000FF00;
  s.v4masks[2] = 0x00FF0000;
  s.pixels = {0x11, 0x22, 0x33, 0};
  expectDecodes({s, {0x11, 0x22, 0x33}});
}

// Damaged files: each one refused with "Bitmap image is not valid", for
// the reason the case is about, and never read outside the buffer.
bmptest::Spec valid24() {
  bmptest::Spec s;
  s.width = 2;
  s.height = 2;
  s.pixels.assign(16, 0x55);
  return s;
}

void expectInvalid(const Bytes& file, const std::string& reasonPart) {
  try {
    gdi::decodeBmp(file);
    ADD_FAILURE() << "accepted; expected: " << reasonPart;
  } catch (const gdi::InvalidBitmap& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Bitmap image is not valid"));
    EXPECT_NE(e.reason().find(reasonPart), std::string::npos) << e.reason();
  }
}

TEST(BmpBroken, HeadersAndSizes) {
  const Bytes good = bmptest::make(valid24());
  ASSERT_NO_THROW(gdi::decodeBmp(good));

  expectInvalid(Bytes(good.begin(), good.begin() + 17), "shorter");
  Bytes notBm = good;
  notBm[0] = 'X';
  expectInvalid(notBm, "signature");
  expectInvalid(Bytes(good.begin(), good.end() - 1), "past the end");  // truncated pixel data

  auto with = [](auto change) {
    bmptest::Spec s = valid24();
    change(s);
    return bmptest::make(s);
  };
  expectInvalid(with([](auto& s) { s.offBits = 1000; }), "past the end");
  expectInvalid(with([](auto& s) { s.offBits = 20; }), "overlaps the headers");
  expectInvalid(with([](auto& s) { s.headerSize = 41; }), "header size");
  Bytes hugeHeader = good;
  bmptest::put32(hugeHeader, 14, 0x7FFFFFF0);
  expectInvalid(hugeHeader, "header size");
  expectInvalid(with([](auto& s) { s.width = 0; }), "width");
  expectInvalid(with([](auto& s) { s.width = -2; }), "width");
  expectInvalid(with([](auto& s) { s.height = 0; }), "height");
  expectInvalid(with([](auto& s) { s.height = INT32_MIN; }), "too large");
  expectInvalid(with([](auto& s) { s.width = s.height = 1 << 30; }), "too large");
  expectInvalid(with([](auto& s) { s.width = 40000; }), "too large");
  expectInvalid(with([](auto& s) { s.width = 20000, s.height = 20000; }), "too large");
  expectInvalid(with([](auto& s) { s.planes = 2; }), "planes");
  expectInvalid(with([](auto& s) { s.bpp = 7; }), "bit depth");
  expectInvalid(with([](auto& s) { s.compression = 4; }), "compression");  // JPEG
  expectInvalid(with([](auto& s) { s.compression = gdi::BI_RLE8; }), "RLE8 needs");
  expectInvalid(with([](auto& s) { s.height = -2, s.bpp = 8, s.compression = gdi::BI_RLE8; }), "top-down");
  expectInvalid(with([](auto& s) { s.headerSize = 12, s.bpp = 16; }), "bit depth");
}

TEST(BmpBroken, PalettesAndMasks) {
  auto pal8 = [](std::uint32_t clrUsed, std::size_t tableBytes) {
    bmptest::Spec s;
    s.width = 4;
    s.height = 1;
    s.bpp = 8;
    s.clrUsed = clrUsed;
    s.tables.assign(tableBytes, 0);
    s.pixels.assign(4, 0);
    return s;
  };
  ASSERT_NO_THROW(gdi::decodeBmp(bmptest::make(pal8(2, 8))));
  expectInvalid(bmptest::make(pal8(1000, 4000)), "colour table longer");
  bmptest::Spec cut = pal8(0, 16);  // says 256 entries, the file ends first
  cut.offBits = 14 + 40 + 16;
  expectInvalid(bmptest::make(cut), "colour table past the end");
  bmptest::Spec over = pal8(200, 800);
  over.offBits = 14 + 40 + 100;  // pixels start inside the colour table
  expectInvalid(bmptest::make(over), "overlaps the colour table");

  auto fields = [](std::vector<std::uint8_t> masks) {
    bmptest::Spec s;
    s.width = 2;
    s.height = 1;
    s.bpp = 16;
    s.compression = gdi::BI_BITFIELDS;
    s.tables = std::move(masks);
    s.pixels.assign(4, 0);
    return bmptest::make(s);
  };
  expectInvalid(fields(Bytes(12, 0)), "masks invalid");                                     // zero masks
  expectInvalid(fields({0xFF, 0, 0, 0, 0x0F, 0, 0, 0, 0xF0, 0xF0, 0, 0}), "masks invalid");  // overlap
  expectInvalid(fields({0x05, 0, 0, 0, 0xF0, 0, 0, 0, 0, 0x0F, 0, 0}), "masks invalid");     // not contiguous
  expectInvalid(fields({0, 0xF8, 0, 0}), "masks past the end");
}

TEST(BmpBroken, RleRunsOutsideTheImage) {
  auto rle8 = [](Bytes data, std::int32_t height = 2, std::int32_t width = 4) {
    bmptest::Spec s;
    s.width = width;
    s.height = height;
    s.bpp = 8;
    s.compression = gdi::BI_RLE8;
    s.clrUsed = 2;
    s.tables.assign(8, 0);
    s.pixels = std::move(data);
    return bmptest::make(s);
  };
  ASSERT_NO_THROW(gdi::decodeBmp(rle8({4, 1, 0, 0, 4, 1, 0, 1})));
  expectInvalid(rle8({5, 1, 0, 1}), "past the end of the row");
  // ImageMagick encodes a row's padding as pixels: a run may fill the padded
  // row (3 pixels stored in 4 bytes), but not go beyond it.
  ASSERT_NO_THROW(gdi::decodeBmp(rle8({4, 1, 0, 0, 0, 4, 1, 1, 1, 1, 0, 1}, 2, 3)));
  expectInvalid(rle8({5, 1, 0, 1}, 2, 3), "past the end of the row");
  expectInvalid(rle8({2, 1, 3, 1, 0, 1}), "past the end of the row");
  expectInvalid(rle8({0, 5, 1, 1, 1, 1, 1, 0, 0, 1}), "block past the end of the row");
  expectInvalid(rle8({0, 2, 0, 2, 1, 1, 0, 1}), "delta past the image");
  expectInvalid(rle8({0, 2, 5, 0, 0, 1}), "delta past the image");
  expectInvalid(rle8({0, 0, 0, 0, 1, 1, 0, 1}), "past the image");   // a third row of two
  expectInvalid(rle8({4, 1, 0, 0, 2, 1}), "ends before");           // no more data
  expectInvalid(rle8({0, 6, 1, 1, 1}), "cut short");                // absolute block cut off
  expectInvalid(rle8({0, 2, 1}), "cut short");                      // delta cut off
  expectInvalid(rle8({}), "no RLE data");
  // A tiny file may not declare a huge picture to make us allocate it.
  expectInvalid(rle8({0, 1}, 20000, 20000), "too large");
}

// The headers alone tell what loadBmp's bitmap would be, and refuse what
// it refuses, without the pixels being read; an 8-bit file's colour table
// lies past a V5 header, at the end of what is read.
TEST(BmpFiles, ProbingReadsTheHeadersAsLoadingDoes) {
  testsupport::TempDir dir;
  bmptest::Spec s;
  s.headerSize = 124;
  s.width = 5;
  s.height = -3;
  s.bpp = 8;
  std::vector<std::uint32_t> pal(256);
  for (std::size_t i = 0; i < pal.size(); ++i) pal[i] = std::uint32_t(i * 0x010203);
  s.tables = bmptest::quads(pal);
  s.pixels.assign(8 * 3, 7);
  const std::string path = dir.file("v5.bmp");
  writeFile(path, bmptest::make(s));
  const QString name = QString::fromStdString(path);
  const gdi::Bitmap b = gdi::loadBmp(name);
  const gdi::BmpInfo info = gdi::probeBmp(name);
  EXPECT_EQ(info.width, 5);
  EXPECT_EQ(info.height, 3);
  EXPECT_EQ(info.bitsPerPixel, 8);
  EXPECT_EQ(info.header, b.dibHeader());
  ASSERT_EQ(info.palette.size(), 256u);
  EXPECT_EQ(info.palette[255].rgbRed, b.palette()[255].rgbRed);
  EXPECT_EQ(info.palette[255].rgbBlue, std::uint8_t(255 * 3));

  s.pixels.resize(8 * 3 - 1);  // a row cut short
  writeFile(path, bmptest::make(s));
  for (const auto& read : {std::function<void()>([&] { gdi::loadBmp(name); }),
                           std::function<void()>([&] { gdi::probeBmp(name); })}) {
    try {
      read();
      ADD_FAILURE();
    } catch (const gdi::InvalidBitmap& e) {
      EXPECT_EQ(e.reason(), "pixel data past the end of the file");
    }
  }
  EXPECT_THROW(gdi::probeBmp(dir.path() + "/missing.bmp"), platform::EFOpenError);
}

TEST(BmpFiles, OpenFailuresNameTheFile) {
  testsupport::TempDir dir;
  const QString missing = dir.path() + "/missing.bmp";
  try {
    gdi::loadBmp(missing);
    ADD_FAILURE();
  } catch (const platform::EFOpenError& e) {
    EXPECT_EQ(e.message(), "Cannot open file " + missing);
  }
  EXPECT_THROW(gdi::loadBmp(dir.path()), platform::EFOpenError);  // a folder

  const std::string text = dir.file("notes.bmp");
  writeFile(text, Bytes{'h', 'e', 'l', 'l', 'o'});
  try {
    gdi::loadBmp(QString::fromStdString(text));
    ADD_FAILURE();
  } catch (const platform::EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Bitmap image is not valid"));
  }
}

// A name that is a named pipe or a device is refused at once: no wait for a
// writer that never comes, no endless read. Each load runs on a thread of
// its own with a deadline, so a regression fails instead of hanging.
TEST(BmpFiles, PipesAndDevicesAreRefusedWithoutBlocking) {
  testsupport::TempDir dir;
  const QString fifo = dir.path() + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const struct {
    QString path;
    QString message;
  } cases[] = {
      {fifo, "Cannot open file " + fifo + ": it is a named pipe, not a bitmap file"},
      {QStringLiteral("/dev/zero"), QStringLiteral("Cannot open file /dev/zero: it is a device, not a bitmap file")},
      {dir.path(), "Cannot open file " + dir.path() + ": it is a folder, not a bitmap file"},
  };
  for (const auto& c : cases) {
    auto result = std::async(std::launch::async, [path = c.path]() -> QString {
      try {
        gdi::loadBmp(path);
        return QStringLiteral("loaded");
      } catch (const platform::EFOpenError& e) {
        return e.message();
      }
    });
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // Unblock the reader so the test can end, then fail.
      QFile writer(fifo);
      (void)writer.open(QIODevice::WriteOnly);
      writer.close();
      FAIL() << "loading " << c.path.toStdString() << " blocked";
    }
    EXPECT_EQ(result.get(), c.message);
  }
}

}  // namespace
