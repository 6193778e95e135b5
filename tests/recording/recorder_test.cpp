// The recorder on its own: no window, frames handed in as a grab would,
// the real writer, files read back by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QStringList>
#include <cerrno>
#include <utility>

#include "framework/timer.h"
#include "recording/recorder.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"

using recording::FrameGate;
using recording::Recorder;
using recording::RecordState;
using recording::StartOutcome;

namespace {

vfw::COMPVARS fullFrames() {
  vfw::COMPVARS c{};
  c.cbSize = vfw::COMPVARS_CBSIZE;
  c.fccType = vfw::streamtypeVIDEO;
  c.fccHandler = vfw::comptypeDIB;
  return c;
}

gdi::Bitmap solid(std::uint32_t bgrx, int w = 32, int h = 24) {
  gdi::Bitmap b = gdi::Bitmap::device(w, h, gdi::PixelFormat::Rgb32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) reinterpret_cast<std::uint32_t*>(b.scanLine(y))[x] = bgrx;
  return b;
}

struct Statuses {
  explicit Statuses(Recorder& r) {
    QObject::connect(&r, &Recorder::statusChanged, [this](const QString& s) { texts << s; });
  }
  QStringList texts;
};

class RecorderTest : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return dir.file(QString::fromLatin1(name)); }
  testsupport::TempDir dir;
  Recorder rec;
};

}  // namespace

// Start, frames, pause, resume, stop: the states, the signals a window
// shows, and a file whose frames are the grabs handed in.
TEST_F(RecorderTest, RecordsTheGrabsItIsGiven) {
  Statuses status(rec);
  QSignalSpy writing(&rec, &Recorder::frameWriting);
  QSignalSpy interval(&rec, &Recorder::intervalChanged);
  EXPECT_EQ(rec.state(), RecordState::Idle);
  EXPECT_EQ(rec.frameGate(), FrameGate::NoGrab);

  rec.setOutputFile(QString::fromStdString(path("plain.avi")));
  rec.frameGrabbed(solid(0x00ff0000));
  ASSERT_EQ(rec.start(25, fullFrames(), true), StartOutcome::Started);
  EXPECT_EQ(rec.state(), RecordState::Recording);
  EXPECT_TRUE(rec.isFileOpen());
  EXPECT_EQ(rec.frameIndex(), -1);
  EXPECT_EQ(rec.writeTimer()->Interval(), 40);
  ASSERT_EQ(interval.size(), 1);
  EXPECT_EQ(interval[0][0].toInt(), 40);
  EXPECT_EQ(rec.start(25, fullFrames(), true), StartOutcome::AlreadyOpen);

  rec.writeFrame();
  rec.frameGrabbed(solid(0x0000ff00));
  rec.writeFrame();
  EXPECT_EQ(rec.frameIndex(), 1);
  ASSERT_EQ(writing.size(), 2);
  EXPECT_EQ(writing[1][0].toInt(), 1);
  EXPECT_EQ(rec.state(), RecordState::Recording);

  // A grab under way keeps the gate shut: no frame is written meanwhile.
  rec.grabStarted();
  rec.writeFrame();
  EXPECT_EQ(rec.frameIndex(), 1);
  rec.frameGrabbed(solid(0x000000ff));

  rec.pause();
  EXPECT_EQ(rec.state(), RecordState::Paused);
  EXPECT_FALSE(rec.writeTimer()->Enabled());
  rec.resume();
  EXPECT_EQ(rec.state(), RecordState::Recording);
  EXPECT_TRUE(rec.writeTimer()->Enabled());
  rec.writeFrame();

  EXPECT_TRUE(rec.stop());
  EXPECT_EQ(rec.state(), RecordState::Idle);
  EXPECT_FALSE(rec.isFileOpen());
  EXPECT_FALSE(rec.writeTimer()->Enabled());
  EXPECT_EQ(status.texts, (QStringList{"AVI is Paused", "AVI Completed"}));

  const auto probe = testsupport::probeVideo(path("plain.avi"));
  ASSERT_TRUE(probe.ok);
  EXPECT_EQ(probe.frameCount, 3);
  EXPECT_EQ(probe.keyPackets, 3);
  EXPECT_EQ(probe.rateNum, 25);
  const auto frames = testsupport::decodeFrames(path("plain.avi"), 32, 24);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0][2], 0xff);  // red
  EXPECT_EQ(frames[1][1], 0xff);  // green
  EXPECT_EQ(frames[2][0], 0xff);  // blue
}

// A tick while a grab's pixels are still on their way writes that grab
// the moment it arrives, not one frame fewer, and so does every further
// tick before it comes (a busy X server can take longer than a tick); a
// tick inside a write's message pump is written right after that write. A
// grab that fails instead writes nothing, and its ticks count as lost.
TEST_F(RecorderTest, EveryTickWritesAFrameEvenWhileAGrabOrAWriteIsUnderWay) {
  rec.setOutputFile(QString::fromStdString(path("due.avi")));
  rec.frameGrabbed(solid(0x00ff0000));
  ASSERT_EQ(rec.start(25, fullFrames(), false), StartOutcome::Started);
  const auto tick = [this] { rec.writeTimer()->OnTimer(); };
  tick();
  EXPECT_EQ(rec.frameIndex(), 0);

  rec.grabStarted();
  tick();
  EXPECT_EQ(rec.frameIndex(), 0) << "nothing is written before the grab is in";
  rec.frameGrabbed(solid(0x0000ff00));
  EXPECT_EQ(rec.frameIndex(), 1);
  rec.frameGrabbed(solid(0x0000ff00));
  EXPECT_EQ(rec.frameIndex(), 1) << "one tick, one frame";

  rec.grabStarted();
  tick();
  tick();
  EXPECT_EQ(rec.frameIndex(), 1);
  rec.frameGrabbed(solid(0x000000ff));
  EXPECT_EQ(rec.frameIndex(), 3) << "two ticks during one grab, two frames";

  // A timer tick that lands in the pump of the write it follows.
  bool inPump = false;
  const auto pumpTick = QObject::connect(&rec, &Recorder::frameWriting, [&] {
    if (std::exchange(inPump, true)) return;
    tick();
  });
  tick();
  QObject::disconnect(pumpTick);
  EXPECT_EQ(rec.frameIndex(), 5);
  EXPECT_EQ(rec.state(), RecordState::Recording);
  EXPECT_EQ(rec.lostFrames(), 0u);

  rec.grabStarted();
  tick();
  rec.grabFailed(QStringLiteral("gone"));
  tick();
  rec.frameGrabbed(solid(0x00ffffff));
  EXPECT_EQ(rec.frameIndex(), 5);
  EXPECT_EQ(rec.lostFrames(), 2u);
  EXPECT_TRUE(rec.stop());

  const auto frames = testsupport::decodeFrames(path("due.avi"), 32, 24);
  ASSERT_EQ(frames.size(), 6u);
  EXPECT_EQ(frames[0][2], 0xff);  // red
  EXPECT_EQ(frames[1][1], 0xff);  // green
  EXPECT_EQ(frames[2][0], 0xff);  // blue, twice
  EXPECT_EQ(frames[3][0], 0xff);
  EXPECT_EQ(frames[4][0], 0xff);
  EXPECT_EQ(frames[5][0], 0xff);
}

// The timer writes on its own at the asked rate; the builder's rate leaves
// the timers as they were.
TEST_F(RecorderTest, TheWriteTimerWritesAtTheRate) {
  rec.setOutputFile(QString::fromStdString(path("timed.avi")));
  rec.frameGrabbed(solid(0x00808080));
  ASSERT_EQ(rec.start(50, fullFrames(), false), StartOutcome::Started);
  EXPECT_EQ(rec.writeTimer()->Interval(), 1000) << "not retimed";
  rec.writeTimer()->setInterval(20);
  rec.writeTimer()->setEnabled(true);
  EXPECT_TRUE(testsupport::pumpUntil([this] { return rec.frameIndex() >= 4; }, 5000));
  rec.cancel();
  EXPECT_GE(testsupport::probeVideo(path("timed.avi")).frameCount, 5);
}

// Stop before the first frame changes nothing; Cancel closes the file
// all the same; start without a grab creates nothing; a file that cannot
// be created fails the start with the status the user sees.
TEST_F(RecorderTest, EarlyEndsAndFailedStarts) {
  rec.setOutputFile(QString::fromStdString(path("nothing.avi")));
  EXPECT_EQ(rec.start(5, fullFrames(), true), StartOutcome::NoFrame);
  EXPECT_FALSE(rec.isFileOpen());
  std::vector<std::uint8_t> format;
  EXPECT_FALSE(rec.frameFormat(format));

  rec.frameGrabbed(solid(0));
  EXPECT_TRUE(rec.frameFormat(format));
  EXPECT_EQ(format.size(), 40u);
  rec.setOutputFile(QString::fromStdString(path("early.avi")));
  ASSERT_EQ(rec.start(5, fullFrames(), true), StartOutcome::Started);
  EXPECT_TRUE(rec.stop()) << "closes before the first frame too";
  EXPECT_FALSE(rec.isFileOpen());
  EXPECT_FALSE(rec.stop());
  EXPECT_TRUE(testsupport::probeVideo(path("early.avi")).ok);

  Statuses status(rec);
  rec.setOutputFile(QString::fromStdString(path("missing/folder/x.avi")));
  EXPECT_EQ(rec.start(5, fullFrames(), true), StartOutcome::Failed);
  EXPECT_EQ(rec.state(), RecordState::Idle);
  EXPECT_FALSE(rec.isFileOpen());
  EXPECT_EQ(status.texts, QStringList{"Use Image Conversion Tool"});
}

// A frame of another size fails the write: the recording ends at once,
// the file keeps what came before, and the end says why and what is kept.
TEST_F(RecorderTest, AFailedWriteEndsTheRecording) {
  Statuses status(rec);
  std::vector<recording::RecordingEnd> ends;
  QObject::connect(&rec, &Recorder::endedByFailure, [&](const recording::RecordingEnd& e) { ends.push_back(e); });
  rec.setOutputFile(QString::fromStdString(path("fail.avi")));
  rec.frameGrabbed(solid(0x00ffffff));
  ASSERT_EQ(rec.start(5, fullFrames(), true), StartOutcome::Started);
  rec.writeFrame();
  rec.frameGrabbed(solid(0x00ffffff, 16, 16));
  rec.writeFrame();
  EXPECT_EQ(rec.state(), RecordState::Idle);
  EXPECT_FALSE(rec.isFileOpen());
  EXPECT_FALSE(rec.writeTimer()->Enabled());
  EXPECT_EQ(status.texts, QStringList{"Use Image Conversion Tool"});
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].cause, recording::EndCause::WriteError);
  EXPECT_EQ(ends[0].framesKept, 1);
  EXPECT_TRUE(ends[0].plays);
  EXPECT_EQ(recording::describe(ends[0]),
            QStringLiteral("Recording stopped: the file could not be written. fail.avi holds 1 frame (0.2 s) and plays."));
  EXPECT_FALSE(rec.stop());
  EXPECT_EQ(testsupport::probeVideo(path("fail.avi")).frameCount, 1);
}

// A grab that keeps failing ends the recording after a while, once; one
// that recovers in time does not.
TEST_F(RecorderTest, AGrabThatKeepsFailingEndsTheRecording) {
  std::vector<recording::RecordingEnd> ends;
  QObject::connect(&rec, &Recorder::endedByFailure, [&](const recording::RecordingEnd& e) { ends.push_back(e); });
  rec.setOutputFile(QString::fromStdString(path("grab.avi")));
  rec.frameGrabbed(solid(0x00ffffff));
  ASSERT_EQ(rec.start(5, fullFrames(), true), StartOutcome::Started);
  rec.writeFrame();
  rec.grabFailed(QStringLiteral("BadMatch"));
  testsupport::pumpFor(300);
  rec.frameGrabbed(solid(0x00ffffff));  // recovered
  rec.grabFailed(QStringLiteral("BadMatch"));
  EXPECT_TRUE(ends.empty());
  EXPECT_TRUE(testsupport::pumpUntil(
      [&] {
        rec.grabFailed(QStringLiteral("BadMatch"));
        return !ends.empty();
      },
      Recorder::kGrabFailureMs + 2000));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].cause, recording::EndCause::GrabFailing);
  EXPECT_TRUE(recording::describe(ends[0]).startsWith(
      QStringLiteral("Recording stopped: the screen could not be read (BadMatch). grab.avi holds 1 frame")));
  rec.grabFailed(QStringLiteral("BadMatch"));
  EXPECT_EQ(ends.size(), 1u) << "no second end for the same failure";
}

// What the user reads: the causes in plain words, the tooltip's figures
// within 62 characters, the reserve and why a file cannot be created.
TEST(RecordingWords, CausesTooltipReserveAndUncreatableFiles) {
  recording::RecordingEnd e;
  e.file = QStringLiteral("/videos/take one.avi");
  e.framesKept = 28;
  e.rate = 10;
  e.cause = recording::EndCause::DiskFull;
  EXPECT_EQ(recording::describe(e),
            QStringLiteral("Recording stopped: the disk is full. take one.avi holds 28 frames (2.8 s) and plays."));
  e.cause = recording::EndCause::CloseFailed;
  e.error = EIO;
  e.plays = false;
  EXPECT_TRUE(recording::describe(e).contains(QStringLiteral("index could not be written")));
  EXPECT_TRUE(recording::describe(e).endsWith(QStringLiteral("but players may not open it.")));

  recording::Health h;
  h.elapsedMs = 83'000;
  h.frames = 2490;
  h.fileBytes = 1'200'000'000;
  h.freeBytes = 38'000'000'000;
  EXPECT_EQ(recording::healthText(h), QStringLiteral("REC 01:23 - 2,490 fr - 1.2 GB - 38 GB free"));
  h.elapsedMs = 100LL * 3600 * 1000;
  h.frames = 999'999'999;
  h.fileBytes = h.freeBytes = 999'999'999'999'999;
  h.lostFrames = 123'456;
  EXPECT_LE(recording::healthText(h).size(), 62);

  EXPECT_EQ(Recorder::reserveBytes(0, 0), qint64(64) << 20);
  EXPECT_GT(Recorder::reserveBytes(100'000'000, 0), 5 * 100'000'000LL);

  testsupport::TempDir dir;
  EXPECT_TRUE(recording::whyCannotCreate(dir.path() + "/no/such/x.avi").contains("does not exist"));
  EXPECT_TRUE(recording::whyCannotCreate(dir.path()).contains("is a folder"));
  EXPECT_TRUE(recording::whyCannotCreate("/dev/null").contains("not an ordinary file"));
  EXPECT_TRUE(recording::whyCannotCreate(dir.path() + "/fine.avi").isEmpty());
}
