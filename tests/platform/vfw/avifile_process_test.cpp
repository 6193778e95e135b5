// A writer process killed mid-file, and one that runs into its file size
// limit: what is left on disk must play with the frames written before.
#include <gtest/gtest.h>

#include <cstring>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <string>
#include <vector>

#include <cerrno>

#include "platform/vfw/vfw.h"
#include "support/media.h"
#include "support/riffread.h"
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
  QStringList param = QString::fromLatin1(GetParam()).split(' ', Qt::SkipEmptyParts);
  // "sound ...": a sound chunk before each frame, which survives as the
  // frames do.
  const bool sound = param.value(0) == "sound";
  if (sound) param.removeFirst();
  // "direct": frames past the page cache, as a live recording writes them.
  // "ZMBV ...": lossless delta frames, a key frame every 30, in a single
  // RIFF or (with a RIFF limit) in OpenDML parts; smaller frames, as its
  // motion search on frames that change everywhere is slow.
  const bool delta = param.value(0) == "ZMBV";
  const int w = delta ? 128 : 320, h = delta ? 96 : 240;
  QStringList args{QString::fromStdString(path), "100000", QString::number(w), QString::number(h), "15"};
  QProcess p;
  if (param.value(0) == "direct" || delta || sound) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (sound) env.insert("AVI_HELPER_SOUND", "1");
    if (delta)
      env.insert("AVI_HELPER_KEYFRAMES", "30");
    else
      env.insert("AVI_HELPER_DIRECT", "1");
    p.setProcessEnvironment(env);
  }
  if (delta)
    args << param.value(1, "0") << "ZMBV";
  else if (!param.isEmpty() && param[0] != "direct")
    args << param[0];
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
  if (sound) {
    std::string out;
    ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "s16le", "-"}, &out), 0);
    const long samples = long(out.size() / 4);
    EXPECT_GE(samples, settled * 4800);
    EXPECT_LE(samples, (returned + 1) * 4800);
    std::int16_t v = 0;
    for (long i = 0; i < samples; i += 4800) {
      std::memcpy(&v, out.data() + 4 * i, 2);
      ASSERT_EQ(v, i / 4800 + 1) << "sample " << i;
    }
  }
  if (delta) {
    // Key frames at 0, 30, 60 ... and only there, as the decoder finds
    // them; the parts completed before the kill index exactly those.
    const auto flags = testsupport::keyFlags(path);
    ASSERT_GE(long(flags.frames.size()), settled);
    EXPECT_EQ(flags.frames, testsupport::everyNth(int(flags.frames.size()), 30));
    if (param.size() > 1) {
      const auto index = avitest::indexFlags(avitest::readFile(path)).ix00;
      ASSERT_GE(index.size(), 30u);
      EXPECT_EQ(index, testsupport::everyNth(int(index.size()), 30));
    }
  }
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

// The last frame does not fit under the limit, found only at the final
// flush, and the headers were last updated on disk mid-file (an update after
// every frame here; about once a second normally, which a slow build hits
// at any frame). Whether the index still fits after the frames or not, the
// completed file plays every frame before the failed one; AVIFileComplete
// reports the index that did not fit, and the errno is the limit's.
TEST(FileSizeLimit, AFailedCloseKeepsEveryFrameBeforeTheFailure) {
  testsupport::TempDir dir;
  const int w = 64, h = 48;
  const std::string free3 = dir.file("free3.avi");
  ASSERT_EQ(testsupport::runCommand({AVI_HELPER, free3, "3", std::to_string(w), std::to_string(h), "0", "0", "ULRG",
                                     "overlap"}),
            0);
  const qint64 whole = QFileInfo(QString::fromStdString(free3)).size();
  const qint64 frames3 = whole - (8 + 3 * 16);  // without the idx1
  qputenv("AVI_HELPER_CHECKPOINT_MS", "1");
  qputenv("AVI_HELPER_COMPLETE", "1");
  struct Case {
    qint64 limit;
    bool indexFits;
  };
  for (const Case c : {Case{frames3 + 20, false}, Case{whole + 100, true}}) {
    SCOPED_TRACE(c.indexFits ? "index fits" : "index does not fit");
    const std::string path = dir.file(QStringLiteral("limit%1.avi").arg(c.limit));
    std::string out;
    const int rc = testsupport::runCommand({"prlimit", "--fsize=" + std::to_string(c.limit), AVI_HELPER, path, "4",
                                            std::to_string(w), std::to_string(h), "5", "0", "ULRG", "overlap"},
                                           &out);
    ASSERT_EQ(rc, 3) << out;
    // "failed 3 HR ERRNO": the flush of the fourth frame; then the completion.
    EXPECT_NE(out.find("failed 3 " + std::to_string(int(vfw::AVIERR_FILEWRITE)) + " " + std::to_string(EFBIG) + "\n"), std::string::npos) << out;
    const std::string completed =
        "completed " + std::to_string(c.indexFits ? 0 : int(vfw::AVIERR_FILEWRITE)) + " " + std::to_string(EFBIG);
    EXPECT_NE(out.find(completed), std::string::npos) << out;
    const auto probe = testsupport::probeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.frameCount, 3);
    EXPECT_EQ(probe.keyPackets, 3);
    expectPatternFrames(path, w, h, 3, 3);
    const auto b = avitest::readFile(path);
    const auto cs = avitest::chunks(b);
    EXPECT_EQ(avitest::u32(b, 4), b.size() - 8);  // the RIFF covers the frames, not a mid-file update
    const avitest::Chunk* avih = avitest::find(cs, "avih");
    ASSERT_TRUE(avih);
    EXPECT_EQ(avitest::u32(b, avih->pos + 8 + 16), 3u);
    EXPECT_EQ(avitest::find(cs, "idx1") != nullptr, c.indexFits);
  }
  qunsetenv("AVI_HELPER_CHECKPOINT_MS");
  qunsetenv("AVI_HELPER_COMPLETE");
}

INSTANTIATE_TEST_SUITE_P(FirstRiffAndOpenDml, KilledWriter,
                         ::testing::Values("", "4194304", "direct", "ZMBV", "ZMBV 65536", "sound", "sound 4194304"));

// Under `prlimit --fsize` a write fails with a failure code (not success, not
// SIGXFSZ); the released file plays with the frames written before it.
// Direct writes, whose padded blocks cross the limit first, stop at the
// same frame as plain ones.
TEST(FileSizeLimit, FailedWriteIsReportedAndEarlierFramesPlay) {
  int plainWritten = -1;
  for (const char* riffLimit : {"0", "262144", "direct"}) {
    SCOPED_TRACE(riffLimit);
    const bool direct = std::strcmp(riffLimit, "direct") == 0;
    if (direct) {
      qputenv("AVI_HELPER_DIRECT", "1");
      riffLimit = "0";
    }
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
    if (plainWritten < 0) plainWritten = written;
    if (direct) {
      qunsetenv("AVI_HELPER_DIRECT");
      EXPECT_EQ(written, plainWritten);
    }
    const auto probe = testsupport::probeVideo(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.frameCount, written);
    expectPatternFrames(path, w, h, written, written);
  }
}
