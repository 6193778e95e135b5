// Writing BMP files: the preview's device bitmaps at 32, 16 (5-6-5 and
// 5-5-5) and 8 bits, read back by ImageMagick, ffmpeg and Qt with the same
// pixels; failures leave no half file and name the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <future>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <cstring>

#include "platform/gdi/bmpfile.h"
#include "support/media.h"
#include "support/tempdir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int W = 13, H = 7;  // odd width: 16 and 8-bit rows need padding

int expand5(unsigned v) { return int(v << 3 | v >> 2); }
int expand6(unsigned v) { return int(v << 2 | v >> 4); }

// Fills a device bitmap with a pattern and returns the RGB a reader must see.
Bytes fill(gdi::Bitmap& b) {
  Bytes rgb;
  for (int y = 0; y < H; ++y) {
    std::uint8_t* row = b.scanLine(y);
    for (int x = 0; x < W; ++x) {
      const unsigned r = unsigned(x * 19 + y * 3) % 256, g = unsigned(255 - x * 11 - y * 17) % 256,
                     bl = unsigned(x * y * 7 + 40) % 256;
      switch (b.format()) {
        case gdi::PixelFormat::Rgb32:
          row[4 * x] = std::uint8_t(bl);
          row[4 * x + 1] = std::uint8_t(g);
          row[4 * x + 2] = std::uint8_t(r);
          row[4 * x + 3] = 0xFF;  // whatever the X byte holds, it is not alpha
          rgb.insert(rgb.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(bl)});
          break;
        case gdi::PixelFormat::Rgb565: {
          const unsigned v = (r >> 3) << 11 | (g >> 2) << 5 | bl >> 3;
          row[2 * x] = std::uint8_t(v);
          row[2 * x + 1] = std::uint8_t(v >> 8);
          rgb.insert(rgb.end(), {std::uint8_t(expand5(r >> 3)), std::uint8_t(expand6(g >> 2)),
                                 std::uint8_t(expand5(bl >> 3))});
          break;
        }
        case gdi::PixelFormat::Rgb555: {
          const unsigned v = (r >> 3) << 10 | (g >> 3) << 5 | bl >> 3;
          row[2 * x] = std::uint8_t(v);
          row[2 * x + 1] = std::uint8_t(v >> 8);
          rgb.insert(rgb.end(), {std::uint8_t(expand5(r >> 3)), std::uint8_t(expand5(g >> 3)),
                                 std::uint8_t(expand5(bl >> 3))});
          break;
        }
        default: {  // 8 bits: a palette of 256 distinct colours
          const int i = (x * 7 + y * 31) % 256;
          row[x] = std::uint8_t(i);
          const gdi::RGBQUAD q = b.palette()[std::size_t(i)];
          rgb.insert(rgb.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
        }
      }
    }
  }
  return rgb;
}

gdi::Bitmap make(gdi::PixelFormat f) {
  gdi::Bitmap b = gdi::Bitmap::device(W, H, f);
  if (f == gdi::PixelFormat::Indexed8)
    for (int i = 0; i < 256; ++i)
      b.palette()[std::size_t(i)] = gdi::RGBQUAD{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 5), 0};
  return b;
}

::testing::AssertionResult near(const Bytes& a, const Bytes& b, int tolerance) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::abs(int(a[i]) - int(b[i])) > tolerance)
      return ::testing::AssertionFailure() << "byte " << i << ": " << int(a[i]) << " vs " << int(b[i]);
  return ::testing::AssertionSuccess();
}

Bytes imageMagickRgb(const std::string& path) {
  std::string out;
  if (testsupport::runCommand({"convert", path, "-depth", "8", "rgb:-"}, &out) != 0) return {};
  return Bytes(out.begin(), out.end());
}

Bytes qtRgb(const std::string& path) {
  const QImage img = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB888);
  Bytes out;
  for (int y = 0; y < img.height(); ++y) out.insert(out.end(), img.constScanLine(y), img.constScanLine(y) + 3 * W);
  return out;
}

std::string identify(const std::string& path) {
  std::string out;
  testsupport::runCommand({"identify", "-format", "%w %h %z", path}, &out);
  return out;
}

struct Depth {
  const char* name;
  gdi::PixelFormat format;
  unsigned bpp, compression;
};

class BmpWrite : public ::testing::TestWithParam<Depth> {};

TEST_P(BmpWrite, ReadBackWithTheSamePixels) {
  const Depth& d = GetParam();
  testsupport::TempDir dir;
  const std::string path = dir.file("snap.bmp");
  gdi::Bitmap b = make(d.format);
  const Bytes expect = fill(b);
  gdi::saveBmp(b, QString::fromStdString(path));

  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray head = f.read(54);
  ASSERT_EQ(head.size(), 54);
  EXPECT_EQ(std::uint8_t(head[28]), d.bpp);
  EXPECT_EQ(std::uint8_t(head[30]), d.compression);

  EXPECT_EQ(identify(path).substr(0, 5), "13 7 ");
  EXPECT_TRUE(near(imageMagickRgb(path), expect, 0)) << "ImageMagick";
  const auto frames = testsupport::decodeFrames(path, W, H, "rgb24");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(near(frames[0], expect, 1)) << "ffmpeg";
  // Qt widens 5 and 6-bit channels by shifting alone (31 -> 248).
  EXPECT_TRUE(near(qtRgb(path), expect, d.bpp == 16 ? 7 : 0)) << "Qt";

  // Our own loader gives back the very same rows.
  const gdi::Bitmap back = gdi::loadBmp(QString::fromStdString(path));
  ASSERT_EQ(back.bitsPerPixel(), int(d.bpp));
  for (int y = 0; y < H; ++y) {
    Bytes a(b.scanLine(y), b.scanLine(y) + b.stride()), c(back.scanLine(y), back.scanLine(y) + back.stride());
    if (d.format == gdi::PixelFormat::Rgb32)
      for (int x = 0; x < W; ++x) a[std::size_t(4 * x + 3)] = 0;
    EXPECT_EQ(a, c) << "row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpWrite,
                         ::testing::Values(Depth{"Rgb32", gdi::PixelFormat::Rgb32, 32, gdi::BI_RGB},
                                           Depth{"Rgb565", gdi::PixelFormat::Rgb565, 16, gdi::BI_BITFIELDS},
                                           Depth{"Rgb555", gdi::PixelFormat::Rgb555, 16, gdi::BI_RGB},
                                           Depth{"Indexed8", gdi::PixelFormat::Indexed8, 8, gdi::BI_RGB}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(BmpWriteFailures, NoHalfFileAndTheFullName) {
  testsupport::TempDir dir;
  gdi::Bitmap b = make(gdi::PixelFormat::Rgb32);
  fill(b);

  const QString noFolder = dir.path() + "/no/such/folder/x.bmp";
  try {
    gdi::saveBmp(b, noFolder);
    ADD_FAILURE();
  } catch (const platform::EFCreateError& e) {
    EXPECT_EQ(e.message(), "Cannot create file " + noFolder);
  }

  // An existing file is replaced without a trace of the old contents...
  const QString target = dir.path() + "/x.bmp";
  {
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'z'));
  }
  gdi::saveBmp(b, target);
  EXPECT_EQ(QFileInfo(target).size(), 54 + 4 * W * H);

  // A bitmap without pixels writes nothing.
  EXPECT_THROW(gdi::saveBmp(gdi::Bitmap(), target), platform::EFCreateError);
  EXPECT_EQ(QFileInfo(target).size(), 54 + 4 * W * H);

  // A name that is taken by a folder cannot be written, and nothing is left.
  ASSERT_TRUE(QDir().mkdir(dir.path() + "/taken.bmp"));
  EXPECT_THROW(gdi::saveBmp(b, dir.path() + "/taken.bmp"), platform::EFCreateError);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

  // ...but when the new one cannot be written, the old one stays whole and
  // nothing else is left in the folder.
  const QString ro = dir.path() + "/ro";
  ASSERT_TRUE(QDir().mkdir(ro));
  QFile::copy(target, ro + "/keep.bmp");
  QFile::setPermissions(ro, QFile::ReadOwner | QFile::ExeOwner);
  if (QFileInfo(ro).isWritable()) GTEST_SKIP() << "running as root: permissions are not enforced";
  EXPECT_THROW(gdi::saveBmp(make(gdi::PixelFormat::Rgb565), ro + "/keep.bmp"), platform::EFCreateError);
  EXPECT_EQ(QFileInfo(ro + "/keep.bmp").size(), 54 + 4 * W * H);
  EXPECT_EQ(QDir(ro).entryList(QDir::Files | QDir::Hidden).size(), 1);
  QFile::setPermissions(ro, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

}

// Saving onto a named pipe or a device neither blocks nor replaces the node
// with a plain file.
TEST(BmpWriteFailures, PipesAndDevicesAreLeftAlone) {
  testsupport::TempDir dir;
  gdi::Bitmap b = make(gdi::PixelFormat::Rgb32);
  fill(b);
  const QString fifo = dir.path() + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const struct {
    QString path;
    QString message;
  } cases[] = {
      {fifo, "Cannot create file " + fifo + ": it is a named pipe, not a file a bitmap can be saved in"},
      {QStringLiteral("/dev/null"),
       QStringLiteral("Cannot create file /dev/null: it is a device, not a file a bitmap can be saved in")},
  };
  for (const auto& c : cases) {
    auto result = std::async(std::launch::async, [&b, path = c.path]() -> QString {
      try {
        gdi::saveBmp(b, path);
        return QStringLiteral("saved");
      } catch (const platform::EFCreateError& e) {
        return e.message();
      }
    });
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      QFile reader(fifo);
      (void)reader.open(QIODevice::ReadOnly);
      FAIL() << "saving to " << c.path.toStdString() << " blocked";
    }
    EXPECT_EQ(result.get(), c.message);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(c.path).constData(), &st), 0);
    EXPECT_FALSE(S_ISREG(st.st_mode)) << c.path.toStdString() << " was replaced by a plain file";
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1) << "nothing left behind";
}

}  // namespace
