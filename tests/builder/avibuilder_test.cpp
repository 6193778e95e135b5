// The AVI builder without its panel: files in, a file out, read back by
// ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "builder/avibuilder.h"
#include "platform/errors.h"
#include "platform/gdi/bmpfile.h"
#include "support/media.h"
#include "support/tempdir.h"

using builder::AviBuilder;
using builder::BuildJob;
using builder::BuildOutcome;

namespace {

class AviBuilderTest : public ::testing::Test {
 protected:
  // A 24-bit bitmap file of one colour.
  QString bmp(const char* name, std::uint8_t b, std::uint8_t g, std::uint8_t r, int w = 20, int h = 10) {
    gdi::Bitmap pic = gdi::Bitmap::device(w, h, gdi::PixelFormat::Rgb32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = pic.scanLine(y) + 4 * x;
        p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
      }
    const QString path = dir.path() + QLatin1Char('/') + QLatin1String(name);
    gdi::saveBmp(pic, path);
    return path;
  }
  BuildJob job(QStringList files, const char* out, int rate = 4) {
    BuildJob j;
    j.files = std::move(files);
    j.rate = rate;
    j.compressor.cbSize = vfw::COMPVARS_CBSIZE;
    j.compressor.fccType = vfw::streamtypeVIDEO;
    j.compressor.fccHandler = vfw::comptypeDIB;
    j.outputFile = dir.path() + QLatin1Char('/') + QLatin1String(out);
    return j;
  }
  testsupport::TempDir dir;
};

}  // namespace

// Every file a key frame in list order at the rate asked; the callbacks
// see each frame once.
TEST_F(AviBuilderTest, BuildsEveryFileAsAKeyFrame) {
  const BuildJob j = job({bmp("r.bmp", 0, 0, 255), bmp("g.bmp", 0, 255, 0), bmp("r.bmp", 0, 0, 255)}, "rgb.avi", 7);
  AviBuilder b;
  std::vector<int> loaded;
  b.onFrameLoaded = [&](const gdi::Bitmap& frame, int i) {
    EXPECT_EQ(frame.width(), 20);
    loaded.push_back(i);
  };
  const auto r = b.build(j);
  EXPECT_EQ(r.outcome, BuildOutcome::Completed);
  EXPECT_EQ(r.framesWritten, 3);
  EXPECT_EQ(loaded, (std::vector<int>{0, 1, 2}));
  const auto p = testsupport::probeVideo(j.outputFile.toStdString());
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.frameCount, 3);
  EXPECT_EQ(p.keyPackets, 3);
  EXPECT_EQ(p.rateNum, 7);
  const auto frames = testsupport::decodeFrames(j.outputFile.toStdString(), 20, 10, "rgb24");
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0][0], 255);
  EXPECT_EQ(frames[1][1], 255);
  EXPECT_EQ(frames[2], frames[0]);
}

// Abort after the second frame keeps two; a file of another size ends the
// build with the format error after the frames before it.
TEST_F(AviBuilderTest, AbortAndMismatchKeepTheFramesBefore) {
  const QString red = bmp("r.bmp", 0, 0, 255);
  {
    const BuildJob j = job({red, red, red, red}, "aborted.avi");
    AviBuilder b;
    b.onFrameWritten = [](int written) { return written == 2; };
    const auto r = b.build(j);
    EXPECT_EQ(r.outcome, BuildOutcome::Aborted);
    EXPECT_EQ(r.framesWritten, 2);
    EXPECT_EQ(testsupport::probeVideo(j.outputFile.toStdString()).frameCount, 2);
  }
  {
    const BuildJob j = job({red, red, bmp("big.bmp", 1, 2, 3, 40, 10), red}, "mismatch.avi");
    const auto r = AviBuilder().build(j);
    EXPECT_EQ(r.outcome, BuildOutcome::Failed);
    EXPECT_EQ(r.error, QStringLiteral("ERROR: Image Format"));
    EXPECT_EQ(testsupport::probeVideo(j.outputFile.toStdString()).frameCount, 2);
  }
}

// A file that cannot be read raises the loader's error once the frames
// before it are complete in the file; a missing folder creates nothing.
TEST_F(AviBuilderTest, UnreadableFilesAndUncreatableOutputs) {
  const QString red = bmp("r.bmp", 0, 0, 255);
  {
    const QString broken = dir.path() + QStringLiteral("/broken.bmp");
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BM not a bitmap");
    f.close();
    const BuildJob j = job({red, red, broken}, "broken.avi");
    EXPECT_THROW(AviBuilder().build(j), platform::Exception);
    EXPECT_EQ(testsupport::probeVideo(j.outputFile.toStdString()).frameCount, 2);
  }
  {
    BuildJob j = job({red}, "x.avi");
    j.outputFile = dir.path() + QStringLiteral("/no/such/folder/x.avi");
    const auto r = AviBuilder().build(j);
    EXPECT_EQ(r.outcome, BuildOutcome::Failed);
    EXPECT_TRUE(r.error.isEmpty());
    EXPECT_FALSE(QFile::exists(j.outputFile));
  }
  {
    // A name as long as the file system takes leaves no room for the
    // unfinished file's suffix; the build lands under it all the same.
    const QString longName = QString(251, QLatin1Char('n')) + QStringLiteral(".avi");
    const BuildJob j = job({red, red}, longName.toUtf8().constData());
    EXPECT_EQ(AviBuilder().build(j).outcome, BuildOutcome::Completed);
    EXPECT_EQ(testsupport::probeVideo(j.outputFile.toStdString()).frameCount, 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral("unfinished")).size(), 0);
  }
  EXPECT_EQ(AviBuilder().build(job({}, "empty.avi")).outcome, BuildOutcome::NotOpened);
}

// The frames go to an unfinished file beside the output and replace it at
// the end; a build that writes no frame (the compressor refuses the first)
// leaves a file of that name as it was, and nothing beside it.
TEST_F(AviBuilderTest, AnExistingFileIsReplacedOnlyByABuildThatWroteFrames) {
  const QString red = bmp("r.bmp", 0, 0, 255, 21, 11);
  BuildJob j = job({red, red}, "take.avi");
  {
    QFile f(j.outputFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("the previous take");
  }
  AviBuilder b;
  b.onFrameWritten = [&j](int) {
    EXPECT_TRUE(QFile::exists(builder::unfinishedName(j.outputFile)));
    return false;
  };
  j.compressor.fccHandler = vfw::mmioFOURCC('H', '2', '6', '4');  // refuses odd sides
  EXPECT_EQ(b.build(j).outcome, BuildOutcome::Failed);
  QFile f(j.outputFile);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("the previous take"));
  EXPECT_FALSE(QFile::exists(builder::unfinishedName(j.outputFile)));

  j.compressor.fccHandler = vfw::comptypeDIB;
  const auto r = b.build(j);
  EXPECT_EQ(r.outcome, BuildOutcome::Completed);
  EXPECT_EQ(r.keptIn, j.outputFile);
  EXPECT_EQ(testsupport::probeVideo(j.outputFile.toStdString()).frameCount, 2);
  EXPECT_FALSE(QFile::exists(builder::unfinishedName(j.outputFile)));
}
