// The writer operations end to end: the real compressor dialog answered the
// way a person would, the real library, files read back by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <functional>

#include "framework/errors.h"
#include "platform/gdi/bmpfile.h"
#include "platform/vfw/avitesting.h"
#include "platform/vfw/compressordialog.h"
#include "recording/aviwriter.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"
#include "support/riffread.h"

using gdi::Bitmap;
using gdi::PixelFormat;
using namespace vfw;

namespace {

// Picks "Full Frames (Uncompressed)" in the compressor dialog and presses OK.
void acceptDialog(QWidget* w) {
  if (auto* d = qobject_cast<vfw::CompressorDialog*>(w)) {
    EXPECT_TRUE(d->selectHandler(comptypeDIB));
    if (auto* ok = d->findChild<QAbstractButton*>("OkButton")) ok->click();
  } else {
    testsupport::ModalWatcher::acceptDefault(w);
  }
}

Bitmap picture(int w, int h, PixelFormat f, int seed) {
  Bitmap b = Bitmap::device(w, h, f);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = b.scanLine(y);
    for (std::size_t i = 0; i < std::size_t(b.stride()); ++i) row[i] = std::uint8_t(i * 7 + std::size_t(y) * 13 + std::size_t(seed) * 31);
    if (f == PixelFormat::Rgb32)
      for (int x = 0; x < w; ++x) row[4 * x + 3] = 0;
  }
  if (f == PixelFormat::Indexed8)
    for (int i = 0; i < 256; ++i) b.palette()[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i * 3), std::uint8_t(255 - i), 0};
  return b;
}

// The bitmap's pixels as ffmpeg's bgra (top-down, packed).
std::vector<std::uint8_t> expectedBgra(const Bitmap& b) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < b.height(); ++y) {
    const std::uint8_t* row = b.scanLine(y);
    for (int x = 0; x < b.width(); ++x) {
      std::uint8_t c[3];
      switch (b.format()) {
        case PixelFormat::Indexed8: {
          const auto& e = b.palette()[row[x]];
          c[0] = e.rgbBlue, c[1] = e.rgbGreen, c[2] = e.rgbRed;
          break;
        }
        default: c[0] = row[4 * x], c[1] = row[4 * x + 1], c[2] = row[4 * x + 2];
      }
      out.insert(out.end(), {c[0], c[1], c[2]});
    }
  }
  return out;
}

bool sameColours(const std::vector<std::uint8_t>& bgra, const std::vector<std::uint8_t>& bgr) {
  if (bgra.size() / 4 != bgr.size() / 3) return false;
  for (std::size_t i = 0; i < bgr.size() / 3; ++i)
    if (std::memcmp(&bgra[4 * i], &bgr[3 * i], 3) != 0) return false;
  return true;
}

// The 5-6-5 picture's pixels as the 5-5-5 words the file must hold.
std::vector<std::uint8_t> expected555(const Bitmap& b) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) {
      std::uint16_t v;
      std::memcpy(&v, b.scanLine(y) + 2 * x, 2);
      const std::uint16_t o = std::uint16_t((v >> 11) << 10 | ((v >> 6) & 31) << 5 | (v & 31));
      out.push_back(std::uint8_t(o));
      out.push_back(std::uint8_t(o >> 8));
    }
  return out;
}

const auto rate4 = [](AVISTREAMINFO& si) { si.dwRate = 4; };

enum class Outcome { Opened, FrameDataFailed, DialogCancelled, LibraryFailure };

// Opens the way Start does: the first frame's format, the compressor dialog
// with `title`, then the file. The choice is kept in `chosen`.
Outcome openWith(recording::AviWriter& w, const Bitmap& first, const char* title, const QString& path,
                 const std::function<void(AVISTREAMINFO&)>& rateStep, COMPVARS* chosen = nullptr) {
  std::vector<std::uint8_t> format;
  if (!recording::frameFormat(first, format)) return Outcome::FrameDataFailed;
  COMPVARS choice{};
  if (!recording::chooseCompressor(format, QString::fromLatin1(title), choice)) return Outcome::DialogCancelled;
  if (chosen) *chosen = choice;
  switch (w.open(first, choice, path, rateStep)) {
    case recording::OpenOutcome::Opened:
      return Outcome::Opened;
    case recording::OpenOutcome::FrameDataFailed:
      return Outcome::FrameDataFailed;
    case recording::OpenOutcome::LibraryFailure:
      break;
  }
  return Outcome::LibraryFailure;
}

class AviWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { initCount = AVIFileInitCount(); }
  void expectClosed(const recording::AviWriter& w) {
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(w.headerSize(), 0u);
    EXPECT_EQ(w.imageSize(), 0u);
    EXPECT_EQ(AVIFileInitCount(), initCount);
  }
  testsupport::TempDir dir;
  int initCount = 0;
};

}  // namespace

// Opened, frames written at 32, 16 and 8 bits, released: every frame a key
// frame at its index, the stream header as the open step sets it, the
// pixels as they were (16-bit frames as 5-5-5, 8-bit through their palette).
TEST_F(AviWriterTest, RecordsEveryDepthAndClosesCompletely) {
  for (PixelFormat f : {PixelFormat::Rgb32, PixelFormat::Rgb565, PixelFormat::Indexed8}) {
    SCOPED_TRACE(int(f));
    const int w = 45, h = 17, n = 3;
    const std::string path = dir.file(QString("depth%1.avi").arg(int(f)));
    std::vector<Bitmap> frames;
    for (int i = 0; i < n; ++i) frames.push_back(picture(w, h, f, i));

    recording::AviWriter st;
    COMPVARS chosen{};
    {
      testsupport::ModalWatcher watcher(acceptDialog);
      ASSERT_EQ(openWith(st, frames[0], "Choose Compression", QString::fromStdString(path), rate4, &chosen),
                Outcome::Opened);
      EXPECT_EQ(watcher.seen().size(), 1u);
      if (!watcher.seen().empty()) {
        EXPECT_EQ(watcher.seen()[0].title, "Choose Compression");
      }
    }
    ASSERT_TRUE(st.isOpen());
    EXPECT_EQ(chosen.cbSize, 64);
    for (int i = 0; i < n; ++i) EXPECT_EQ(st.write(frames[std::size_t(i)], i), 0) << i;
    EXPECT_TRUE(st.close());
    EXPECT_EQ(st.lastErrno(), 0);
    expectClosed(st);
    EXPECT_TRUE(st.close());  // a second release does nothing
    EXPECT_NE(st.write(frames[0], n), 0);  // nor does a write after it
    EXPECT_EQ(AVIFileInitCount(), initCount);

    const auto p = testsupport::probeVideo(path);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.frameCount, n);
    EXPECT_EQ(p.keyPackets, n);
    EXPECT_EQ(p.rateNum, 4);
    EXPECT_EQ(p.rateDen, 1);
    const auto b = avitest::readFile(path);
    const auto cs = avitest::chunks(b);
    const auto* strh = avitest::find(cs, "strh");
    ASSERT_TRUE(strh);
    const std::uint64_t s = strh->pos + 8;
    EXPECT_EQ(avitest::u32(b, s), streamtypeVIDEO);
    EXPECT_EQ(avitest::u32(b, s + 4), chosen.fccHandler);
    EXPECT_EQ(avitest::u32(b, s + 40), DWORD(chosen.lQ));
    const int bpp = f == PixelFormat::Rgb32 ? 32 : f == PixelFormat::Rgb565 ? 16 : 8;
    EXPECT_EQ(avitest::u32(b, s + 36), DWORD(gdi::rowBytes(w, bpp) * h));  // biSizeImage
    EXPECT_EQ(avitest::u16(b, s + 52), w);
    EXPECT_EQ(avitest::u16(b, s + 54), h);

    ASSERT_EQ(chosen.fccHandler, comptypeDIB);
    if (f == PixelFormat::Rgb565) {
      std::string out;
      ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb555le", "-"},
                                        &out),
                0);
      std::string want;
      for (const auto& fr : frames) {
        const auto e = expected555(fr);
        want.append(e.begin(), e.end());
      }
      EXPECT_TRUE(out == want);
    } else {
      const auto decoded = testsupport::decodeFrames(path, w, h);
      ASSERT_EQ(decoded.size(), std::size_t(n));
      for (int i = 0; i < n; ++i)
        EXPECT_TRUE(sameColours(decoded[std::size_t(i)], expectedBgra(frames[std::size_t(i)]))) << "frame " << i;
      // The picture's spare byte was 0; the file's frames are opaque.
      if (f == PixelFormat::Rgb32) {
        for (const auto& fr : decoded)
          for (std::size_t a = 3; a < fr.size(); a += 4) ASSERT_EQ(fr[a], 0xFF) << "byte " << a;
      }
    }
  }
}

// A file whose sync to the disk fails (as on a disk returning EIO): the
// next write fails, the close says the file was not completed, and the
// errno stays with the writer after it.
TEST_F(AviWriterTest, AFailedSyncFailsTheNextWriteAndTheClose) {
  vfw::testing::setCheckpointInterval(20);
  vfw::testing::setSyncFailure(EIO);
  const std::string path = dir.file("eio.avi");
  const Bitmap frame = picture(32, 16, PixelFormat::Rgb32, 1);
  recording::AviWriter st;
  {
    testsupport::ModalWatcher watcher(acceptDialog);
    ASSERT_EQ(openWith(st, frame, "Choose Compression", QString::fromStdString(path), rate4, nullptr), Outcome::Opened);
  }
  vfw::testing::setSyncFailure(0);
  vfw::testing::setCheckpointInterval(0);
  int written = 0;
  for (; written < 200 && st.write(frame, written) == 0; ++written) QThread::msleep(5);
  EXPECT_LT(written, 200);
  EXPECT_EQ(st.result(), AVIERR_FILEWRITE);
  EXPECT_EQ(st.lastErrno(), EIO);  // known as soon as the write failed
  EXPECT_FALSE(st.close());
  EXPECT_EQ(st.lastErrno(), EIO);
  EXPECT_TRUE(st.close());
  EXPECT_EQ(st.lastErrno(), EIO);
  // What was written before is still a whole file.
  const auto p = testsupport::probeVideo(path);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.frameCount, written);
}

// A frame of another size or depth is refused before it touches the
// buffers; the recording goes on with frames that fit.
TEST_F(AviWriterTest, MismatchedFrameIsRefused) {
  const std::string path = dir.file("mismatch.avi");
  recording::AviWriter st;
  const Bitmap first = picture(40, 30, PixelFormat::Rgb32, 0);
  {
    testsupport::ModalWatcher watcher(acceptDialog);
    ASSERT_EQ(openWith(st, first, "t", QString::fromStdString(path), rate4), Outcome::Opened);
  }
  ASSERT_EQ(st.write(first, 0), 0);
  const std::size_t bitsBefore = st.imageSize();
  for (const Bitmap& other : {picture(41, 30, PixelFormat::Rgb32, 1), picture(40, 31, PixelFormat::Rgb32, 1),
                              picture(40, 30, PixelFormat::Rgb565, 1), picture(400, 300, PixelFormat::Rgb32, 1),
                              Bitmap()}) {
    EXPECT_EQ(st.write(other, 1), AVIERR_BADFORMAT);
    EXPECT_EQ(st.result(), AVIERR_BADFORMAT);
    EXPECT_EQ(st.imageSize(), bitsBefore);
  }
  EXPECT_EQ(st.write(picture(40, 30, PixelFormat::Rgb32, 2), 1), 0);
  st.close();
  expectClosed(st);
  EXPECT_EQ(testsupport::probeVideo(path).frameCount, 2);
}

// Bitmap files load as bottom-up sections whose rows already are the packed
// frame: they go to the stream from where they lie, not through the frame
// buffer (which keeps the first frame), and the file holds them exactly.
TEST_F(AviWriterTest, LoadedBitmapFilesAreWrittenFromTheirOwnRows) {
  auto bgrOf = [](const Bitmap& b) {
    std::vector<std::uint8_t> out;
    const int step = b.bitsPerPixel() / 8;
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x) out.insert(out.end(), b.scanLine(y) + step * x, b.scanLine(y) + step * x + 3);
    return out;
  };
  for (PixelFormat f : {PixelFormat::Bgr24, PixelFormat::Rgb32}) {
    std::vector<Bitmap> files;
    for (int seed : {1, 2}) {
      const QString name = dir.path() + QStringLiteral("/in%1_%2.bmp").arg(int(f)).arg(seed);
      gdi::saveBmp(picture(41, 30, f, seed), name);
      files.push_back(gdi::loadBmp(name));
    }
    ASSERT_TRUE(files[0].isDibSection());
    const std::string path = dir.file(QStringLiteral("files%1.avi").arg(int(f)));
    recording::AviWriter st;
    {
      testsupport::ModalWatcher watcher(acceptDialog);
      ASSERT_EQ(openWith(st, files[0], "t", QString::fromStdString(path), rate4), Outcome::Opened);
    }
    ASSERT_EQ(st.write(files[1], 0), 0);
    ASSERT_EQ(st.write(files[0], 1), 0);
    st.close();
    const auto decoded = testsupport::decodeFrames(path, 41, 30, "bgr24");
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[0], bgrOf(files[1]));
    EXPECT_EQ(decoded[1], bgrOf(files[0]));
  }
}

// The ways an open ends early: no file where none was created, a valid
// empty file where one was, everything given back in each case.
TEST_F(AviWriterTest, EarlyEndsLeaveNoFileOrAValidEmptyOne) {
  const Bitmap first = picture(20, 10, PixelFormat::Rgb32, 0);
  {  // the compressor dialog cancelled
    const std::string path = dir.file("cancelled.avi");
    recording::AviWriter st;
    testsupport::ModalWatcher watcher([](QWidget* w) {
      if (auto* cancel = w->findChild<QAbstractButton*>("CancelButton")) cancel->click();
    });
    EXPECT_EQ(openWith(st, first, "t", QString::fromStdString(path), rate4), Outcome::DialogCancelled);
    EXPECT_EQ(watcher.seen().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
    expectClosed(st);
  }
  {  // the first frame cannot be converted
    const std::string path = dir.file("noframe.avi");
    recording::AviWriter st;
    testsupport::ModalWatcher watcher;
    EXPECT_EQ(openWith(st, Bitmap(), "t", QString::fromStdString(path), rate4), Outcome::FrameDataFailed);
    EXPECT_TRUE(watcher.seen().empty()) << "no compressor dialog; the box is the caller's";
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
    expectClosed(st);
  }
  {  // the file cannot be created
    const std::string path = dir.file("missing/dir/x.avi");
    recording::AviWriter st;
    testsupport::ModalWatcher watcher(acceptDialog);
    EXPECT_EQ(openWith(st, first, "t", QString::fromStdString(path), rate4), Outcome::LibraryFailure);
    EXPECT_EQ(st.result(), AVIERR_FILEOPEN);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
    expectClosed(st);
  }
  {  // the stream is refused (rate 0) after the file exists
    const std::string path = dir.file("norate.avi");
    recording::AviWriter st;
    testsupport::ModalWatcher watcher(acceptDialog);
    EXPECT_EQ(openWith(st, first, "t", QString::fromStdString(path), [](AVISTREAMINFO& si) { si.dwRate = 0; }),
              Outcome::LibraryFailure);
    EXPECT_EQ(st.result(), AVIERR_BADFORMAT);
    expectClosed(st);
    std::string out;
    EXPECT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-show_format", path}, &out), 0);
    EXPECT_NE(out.find("format_name=avi"), std::string::npos);
  }
  {  // the rate step throws: what was opened is released, the error goes on
    const std::string path = dir.file("badrate.avi");
    recording::AviWriter st;
    testsupport::ModalWatcher watcher(acceptDialog);
    EXPECT_THROW(openWith(st, first, "t", QString::fromStdString(path),
                                 [](AVISTREAMINFO&) { throw platform::EConvertError("'x' is not a valid integer value"); }),
                 platform::EConvertError);
    expectClosed(st);
    std::string out;
    EXPECT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-show_format", path}, &out), 0);
  }
}
