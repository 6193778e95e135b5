// A writer process killed mid-file, and one that runs into its file size
// limit: what is left on disk must play with the frames written before.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <string>
#include <vector>

#include "support/media.h"
#include "support/tempdir.h"
#include "platform/vfw/pattern.h"

namespace {

struct Line {
  std::string kind;
  int frame = -1;
  qint64 arrivedMs = 0;
};

std::vector<Line> parseLines(const QByteArray& text, qint64 arrivedMs) {
  std::vector<Line> out;
  for (const QByteArray& l : text.split('\n')) {
    const QList<QByteArray> parts = l.trimmed().split(' ');
    if (parts.size() >= 2) out.push_back({parts[0].toStdString(), parts[1].toInt(), arrivedMs});
  }
  return out;
}

// Every decoded frame must be the pattern frame of its position.
void expectPatternFrames(const std::string& path, int w, int h, long atLeast, long atMost) {
  const auto frames = testsupport::decodeFrames(path, w, h);
  EXPECT_GE(long(frames.size()), atLeast);
  EXPECT_LE(long(frames.size()), atMost);
  for (std::size_t i = 0; i < frames.size(); ++i)
    ASSERT_TRUE(avitest::isPatternFrame(frames[i], w, h, int(i))) << "frame " << i;
}

class KilledWriter : public ::testing::TestWithParam<const char*> {};

}  // namespace

// SIGKILL after about 2.5 s: every frame whose write had returned more than
// a second before the kill decodes, and nothing else but whole frames.
TEST_P(KilledWriter, FramesWrittenBeforeTheLastUpdateSurvive) {
  testsupport::TempDir dir;
  const std::string path = dir.file("killed.avi");
  const int w = 320, h = 240;
  QStringList args{QString::fromStdString(path), "100000", QString::number(w), QString::number(h), "15"};
  if (*GetParam()) args << GetParam();
  QProcess p;
  p.start(AVI_HELPER, args);
  ASSERT_TRUE(p.waitForStarted());
  QElapsedTimer clock;
  clock.start();
  std::vector<Line> lines;
  QByteArray pending;
  while (clock.elapsed() < 2500) {
    p.waitForReadyRead(20);
    pending += p.readAllStandardOutput();
    const int cut = pending.lastIndexOf('\n');
    if (cut >= 0) {
      for (auto& l : parseLines(pending.left(cut), clock.elapsed())) lines.push_back(l);
      pending = pending.mid(cut + 1);
    }
  }
  const qint64 killedAt = clock.elapsed();
  p.kill();
  p.waitForFinished();
  ASSERT_EQ(p.exitStatus(), QProcess::CrashExit);
  long settled = 0;
  for (const auto& l : lines)
    if (l.kind == "wrote" && l.arrivedMs < killedAt - 1000) settled = l.frame + 1;
  ASSERT_GT(settled, 10) << "the writer was too slow to test anything";
  const long returned = lines.empty() ? 0 : lines.back().frame + 1;

  const auto probe = testsupport::probeVideo(path);
  ASSERT_TRUE(probe.ok);
  EXPECT_GE(probe.frameCount, settled);
  // The chunk being written at the kill may be whole on disk already.
  expectPatternFrames(path, w, h, settled, returned + 1);
}

// Overlapped writes under the same limit: the failure reaches the caller
// (a write reports the frame before it, the flush the last one) and the
// file plays every frame before the one that did not fit.
TEST(FileSizeLimit, OverlappedWriteFailureIsReportedAndEarlierFramesPlay) {
  testsupport::TempDir dir;
  const int w = 64, h = 48;
  // About 2 kB a frame: 1000 frames stop at a write, 4 at the flush.
  for (const char* frames : {"1000", "4"}) {
    SCOPED_TRACE(frames);
    const std::string path = dir.file(QStringLiteral("ov%1.avi").arg(frames));
    std::string out;
    const int rc = testsupport::runCommand({"prlimit", "--fsize=" + std::string(frames[1] ? "40000" : "13000"),
                                            AVI_HELPER, path, frames, std::to_string(w), std::to_string(h), "0", "0",
                                            "ULRG", "overlap"},
                                           &out);
    ASSERT_EQ(rc, 3) << out;
    const auto lines = parseLines(QByteArray::fromStdString(out), 0);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().kind, "failed");
    const int kept = lines.back().frame;
    ASSERT_GT(kept, 0);
    const auto probe = testsupport::probeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.frameCount, kept);
    expectPatternFrames(path, w, h, kept, kept);
  }
}

INSTANTIATE_TEST_SUITE_P(FirstRiffAndOpenDml, KilledWriter, ::testing::Values("", "4194304"));

// Under `prlimit --fsize` a write fails with a failure code (not success, not
// SIGXFSZ); the released file plays with the frames written before it.
TEST(FileSizeLimit, FailedWriteIsReportedAndEarlierFramesPlay) {
  for (const char* riffLimit : {"0", "262144"}) {
    SCOPED_TRACE(riffLimit);
    testsupport::TempDir dir;
    const std::string path = dir.file("limited.avi");
    const int w = 64, h = 48;
    std::string out;
    const int rc = testsupport::runCommand(
        {"prlimit", "--fsize=2000000", AVI_HELPER, path, "1000", std::to_string(w), std::to_string(h), "0", riffLimit},
        &out);
    ASSERT_EQ(rc, 3) << out;
    const auto lines = parseLines(QByteArray::fromStdString(out), 0);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().kind, "failed");
    const int written = lines.back().frame;
    ASSERT_GT(written, 100);
    const auto probe = testsupport::probeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.frameCount, written);
    expectPatternFrames(path, w, h, written, written);
  }
}
