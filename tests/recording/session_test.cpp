// The recording session on its own: no window, a clock and a grabber the
// tests hold, the real writer, files read back by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <deque>
#include <algorithm>
#include <stdexcept>

#include "recording/session.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"

using recording::RecordState;
using recording::Session;
using recording::StartOutcome;

namespace {

constexpr std::int64_t kMs = 1'000'000;

class FakeClock final : public recording::Clock {
 public:
  std::int64_t nowNs() const override { return now; }
  void advanceMs(double ms) { now += std::int64_t(ms * double(kMs)); }
  std::int64_t now = 5'000 * kMs;
};

gdi::Bitmap solid(std::uint32_t bgrx, int w = 32, int h = 24) {
  gdi::Bitmap b = gdi::Bitmap::device(w, h, gdi::PixelFormat::Rgb32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) reinterpret_cast<std::uint32_t*>(b.scanLine(y))[x] = bgrx;
  return b;
}

// Hands out `picture` at once, or when `held` is false again; fails with
// `failure` while that is set.
class FakeGrabber final : public recording::Grabber {
 public:
  void start(const wnd::RECT& r) override {
    ++asked;
    last = r;
    if (!failure.empty()) throw std::runtime_error(failure);
  }
  bool arrived() override { return !held; }
  gdi::Bitmap finish() override { return picture; }
  void awaitNewPicture() override { ++awaited; }

  gdi::Bitmap picture = solid(0x00ff0000);
  std::string failure;
  bool held = false;
  int asked = 0;
  int awaited = 0;
  wnd::RECT last;
};

// A sound device the test plays into by hand, on the fake clock.
struct FakeSound {
  recording::SoundInput::Samples samples;
  std::function<void()> gone;
  bool available = true;
};

class FakeSoundInput final : public recording::SoundInput {
 public:
  explicit FakeSoundInput(FakeSound& sound) : sound_(sound) {}
  bool start(Samples samples, std::function<void()> gone) override {
    if (!sound_.available) return false;
    sound_.samples = std::move(samples);
    sound_.gone = std::move(gone);
    return true;
  }
  void stop() override { sound_.samples = nullptr; }

 private:
  FakeSound& sound_;
};

// The file's sound track as ffmpeg decodes it.
std::vector<std::int16_t> decodedSound(const std::string& path) {
  std::string out;
  EXPECT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "s16le", "-"}, &out), 0);
  std::vector<std::int16_t> s(out.size() / 2);
  std::memcpy(s.data(), out.data(), s.size() * 2);
  return s;
}

int countOf(const std::vector<std::int16_t>& s, std::int16_t v) { return int(std::count(s.begin(), s.end(), v)) / 2; }

vfw::COMPVARS fullFrames() {
  vfw::COMPVARS c{};
  c.cbSize = vfw::COMPVARS_CBSIZE;
  c.fccType = vfw::streamtypeVIDEO;
  c.fccHandler = vfw::comptypeDIB;
  return c;
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : grabber(new FakeGrabber), session(std::unique_ptr<recording::Grabber>(grabber), clock) {
    QObject::connect(&session, &Session::statusChanged, [this](const QString& s) { statuses << s; });
    QObject::connect(&session, &Session::ended, [this](const recording::RecordingEnd& e) { ends.push_back(e); });
  }
  std::string path(const char* name) const { return dir.file(QString::fromLatin1(name)); }
  // The rectangle fixed and previewed once, then Start, and frame 0 once
  // the screen has settled.
  StartOutcome start(const char* file, int rate) {
    session.fixTarget({0, 0, 32, 24});
    session.beat();
    recording::RecordingSettings s;
    s.file = QString::fromStdString(path(file));
    s.rate = rate;
    s.compressor = fullFrames();
    const StartOutcome started = session.start(s);
    clock.advanceMs(Session::kSettleMs);
    session.beat();
    return started;
  }
  int frames() const { return session.frameIndex() + 1; }
  // Start with sound from `sound`, frame 0 not yet due.
  StartOutcome startWithSound(const char* file, FakeSound& sound, bool compressed = false) {
    session.setSoundInputs([&sound](recording::SoundDevice) { return std::make_unique<FakeSoundInput>(sound); });
    session.fixTarget({0, 0, 32, 24});
    session.beat();
    recording::RecordingSettings s;
    s.file = QString::fromStdString(path(file));
    s.rate = 10;
    s.compressor = fullFrames();
    s.microphone = true;
    s.soundCompressed = compressed;
    return session.start(s);
  }
  // `ms` of sound of `value` in 10 ms blocks as the device hears them (none
  // with `value` 0), a heartbeat every 50 ms.
  void play(FakeSound& sound, int ms, std::int16_t value) {
    const std::vector<std::int16_t> block(960, value);
    for (int i = 1; i <= ms / 10; ++i) {
      clock.advanceMs(10);
      if (value && sound.samples) sound.samples(block, clock.now);
      if (i % 5 == 0) session.beat();
    }
  }

  testsupport::TempDir dir;
  FakeClock clock;
  FakeGrabber* grabber;  // the session's
  Session session;
  QStringList statuses;
  std::vector<recording::RecordingEnd> ends;
};

}  // namespace

// Frame k falls due k/R seconds after the start, paused time left out.
TEST(FrameSchedule, FramesFallDueOnRecordedTime) {
  recording::FrameSchedule s;
  s.start(1000, 60);
  EXPECT_EQ(s.dueBy(999), 0) << "nothing before the start";
  EXPECT_EQ(s.dueBy(1000), 1) << "frame 0 at the start";
  EXPECT_EQ(s.dueAt(1), 1000 + 16'666'667);
  EXPECT_EQ(s.dueBy(1000 + 16'666'666), 1);
  EXPECT_EQ(s.dueBy(1000 + 16'666'667), 2);
  EXPECT_EQ(s.dueBy(1000 + 1'000'000'000), 61);
  s.pause(1000 + 1'000'000'000);
  EXPECT_EQ(s.dueBy(1000 + 5'000'000'000), 61) << "nothing falls due while paused";
  s.resume(1000 + 5'000'000'000);
  EXPECT_EQ(s.dueAt(61), 1000 + 4'000'000'000 + 1'016'666'667) << "61/60 s of recorded time after the start";
  EXPECT_EQ(s.dueBy(1000 + 6'000'000'000), 121);
  EXPECT_EQ(s.recordedNs(1000 + 6'000'000'000), 2'000'000'000);
}

// Whatever the heartbeat does, early or late, the file holds one frame per
// 1/R of recorded time: the length is the time recorded, pauses cut out.
TEST_F(SessionTest, TheFileLastsAsLongAsTheRecordingAtEveryRate) {
  for (const int rate : {1, 7, 30, 60, 144, 1000}) {
    SCOPED_TRACE(rate);
    ends.clear();
    const std::string name = "rate" + std::to_string(rate) + ".avi";
    ASSERT_EQ(start(name.c_str(), rate), StartOutcome::Started);
    const std::int64_t period = 1'000'000'000 / rate;
    // Heartbeats a third early, then twice as late as a frame, then on
    // time: 3 s of recording, a 2 s pause in the middle.
    const std::int64_t steps[] = {period * 2 / 3, period * 21 / 10, period, period / 2};
    const std::int64_t total = 3'000'000'000;
    std::int64_t recorded = 0;
    for (int i = 0; recorded < total; ++i) {
      const std::int64_t step = std::min(steps[i % 4], total - recorded);
      clock.now += step;
      recorded += step;
      session.beat();
      if (i == 5) {
        session.pause();
        clock.advanceMs(2000);
        session.beat();
        session.resume();
      }
    }
    EXPECT_EQ(frames(), 3 * rate + 1) << "3 s of frames and frame 0";
    EXPECT_EQ(session.lostFrames(), 0u);
    ASSERT_TRUE(session.stop());
    const auto probe = testsupport::probeVideo(dir.file(QString::fromStdString(name)));
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.frameCount, 3 * rate + 1);
    EXPECT_EQ(probe.rateNum, rate);
  }
}

// A grab that arrives late gives its picture to every frame that fell due
// meanwhile; one that fails loses the frames due, counted; a screen that
// stays unreadable for two seconds ends the recording, once.
TEST_F(SessionTest, LateGrabsFillTheirFramesAndFailedOnesAreCounted) {
  ASSERT_EQ(start("late.avi", 10), StartOutcome::Started);
  EXPECT_EQ(frames(), 1) << "frame 0 at Start";

  grabber->held = true;
  grabber->picture = solid(0x0000ff00);
  clock.advanceMs(100);
  session.beat();
  clock.advanceMs(250);
  session.beat();  // ignored: one copy at a time
  EXPECT_EQ(frames(), 1);
  grabber->held = false;
  session.poll();
  EXPECT_EQ(frames(), 4) << "frames 1 to 3 fell due while the copy was on its way";

  grabber->failure = "BadMatch";
  clock.advanceMs(200);
  session.beat();
  EXPECT_EQ(frames(), 4);
  EXPECT_EQ(session.lostFrames(), 2u);
  EXPECT_EQ(recording::lostText(session.lostFrames()), QStringLiteral(" (2 frames lost)"));
  clock.advanceMs(1000);
  session.beat();
  EXPECT_TRUE(ends.empty()) << "not yet two seconds";
  grabber->failure.clear();
  clock.advanceMs(100);
  session.beat();
  EXPECT_EQ(frames(), 5) << "recovered";

  grabber->failure = "BadMatch";
  for (int i = 0; i < 25 && ends.empty(); ++i) {
    clock.advanceMs(100);
    session.beat();
  }
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].cause, recording::EndCause::GrabFailing);
  EXPECT_TRUE(recording::describe(ends[0]).startsWith(
      QStringLiteral("Recording stopped: the screen could not be read (BadMatch). late.avi holds 5 frames")));
  EXPECT_EQ(session.state(), RecordState::Idle);
  session.beat();
  EXPECT_EQ(ends.size(), 1u) << "no second end for the same failure";

  const auto decoded = testsupport::decodeFrames(path("late.avi"), 32, 24);
  ASSERT_EQ(decoded.size(), 5u);
  EXPECT_EQ(decoded[0][2], 0xff);  // red
  for (int i = 1; i < 5; ++i) EXPECT_EQ(decoded[i][1], 0xff) << i;  // green
}

// The states and texts a window shows on the way through a recording, and
// the rectangle the grabs ask for.
TEST_F(SessionTest, WalksThroughARecording) {
  QSignalSpy states(&session, &Session::stateChanged);
  QSignalSpy previews(&session, &Session::grabbed);
  session.nameFile(QString::fromStdString(path("walk.avi")));
  EXPECT_EQ(session.state(), RecordState::ChoosingTarget);
  session.fixTarget({10, 20, 42, 44});
  EXPECT_EQ(session.state(), RecordState::Ready);
  EXPECT_TRUE(session.previewing());
  session.beat();
  EXPECT_EQ(grabber->last.left, 10);
  EXPECT_EQ(grabber->last.bottom, 44);
  EXPECT_EQ(previews.size(), 1);
  session.setArea({12, 20, 44, 44});
  session.beat();
  EXPECT_EQ(grabber->last.left, 12) << "the rectangle the capture frame told";

  recording::RecordingSettings s;
  s.rate = 5;
  s.compressor = fullFrames();
  ASSERT_EQ(session.start(s), StartOutcome::Started);
  EXPECT_EQ(session.outputFile(), QString::fromStdString(path("walk.avi")));
  EXPECT_EQ(session.start(s), StartOutcome::AlreadyOpen);
  EXPECT_EQ(session.previewInterval(), 200);
  clock.advanceMs(Session::kSettleMs);
  session.beat();
  session.pause();
  EXPECT_EQ(session.state(), RecordState::Paused);
  clock.advanceMs(5000);
  session.beat();
  EXPECT_EQ(frames(), 1) << "nothing written while paused";
  session.resume();
  clock.advanceMs(200);
  session.beat();
  EXPECT_EQ(frames(), 2);
  // The tooltip's time is the time recorded, the pause left out.
  QSignalSpy health(&session, &Session::health);
  ASSERT_TRUE(testsupport::pumpUntil([&] { return !health.isEmpty(); }, 3000));
  EXPECT_EQ(health.last()[0].value<recording::Health>().elapsedMs, 200);
  EXPECT_TRUE(session.stop());
  EXPECT_EQ(session.state(), RecordState::Idle);
  EXPECT_EQ(session.previewInterval(), 700);
  EXPECT_TRUE(session.previewing()) << "the preview goes on after Stop";
  EXPECT_FALSE(session.stop());
  EXPECT_EQ(statuses, (QStringList{"AVI is Paused", "AVI Completed"}));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].cause, recording::EndCause::Stopped);
  EXPECT_FALSE(ends[0].failed());
  EXPECT_EQ(ends[0].framesKept, 2);
  QList<RecordState> seen;
  for (const auto& a : states) seen << a[0].value<RecordState>();
  EXPECT_EQ(seen, (QList<RecordState>{RecordState::ChoosingTarget, RecordState::Ready, RecordState::Recording,
                                      RecordState::Paused, RecordState::Recording, RecordState::Stopping,
                                      RecordState::Idle}));
  session.cancel();
  EXPECT_FALSE(session.previewing());
}

// A recording of a set length: frames past the limit never reach the file,
// even when one late grab covers them, and paused time counts for none.
TEST_F(SessionTest, AFrameLimitStopsTheRecordingAtItsLastFrame) {
  session.fixTarget({0, 0, 32, 24});
  session.beat();
  recording::RecordingSettings s;
  s.file = QString::fromStdString(path("limited.avi"));
  s.rate = 10;
  s.compressor = fullFrames();
  s.frameLimit = 15;
  ASSERT_EQ(session.start(s), StartOutcome::Started);
  clock.advanceMs(Session::kSettleMs);
  session.beat();
  clock.advanceMs(500);
  session.beat();
  EXPECT_EQ(frames(), 6);
  session.pause();
  clock.advanceMs(5000);
  session.beat();
  session.resume();
  EXPECT_EQ(session.state(), RecordState::Recording) << "the pause counted for no frames";
  clock.advanceMs(2000);  // a grab that comes late: 20 more frames due
  session.beat();
  EXPECT_EQ(session.state(), RecordState::Idle);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].cause, recording::EndCause::Stopped);
  EXPECT_EQ(ends[0].framesKept, 15);
  EXPECT_EQ(testsupport::probeVideo(path("limited.avi")).frameCount, 15);
}

// The first frame is a copy asked for once the screen has settled after
// Start: not one on its way at Start, which may show the dialog that
// started the recording.
TEST_F(SessionTest, TheFirstFrameIsTakenAfterStart) {
  session.fixTarget({0, 0, 32, 24});
  session.beat();
  grabber->held = true;
  session.beat();  // a preview copy on its way
  clock.advanceMs(300);
  session.beat();
  const int asked = grabber->asked;
  recording::RecordingSettings s;
  s.file = QString::fromStdString(path("first.avi"));
  s.rate = 10;
  s.compressor = fullFrames();
  ASSERT_EQ(session.start(s), StartOutcome::Started);
  clock.advanceMs(Session::kSettleMs);
  grabber->held = false;
  session.poll();
  EXPECT_EQ(session.frameIndex(), -1) << "the copy asked for before Start is not recorded";
  EXPECT_EQ(session.lostFrames(), 0u);
  EXPECT_EQ(grabber->awaited, 0);
  session.beat();
  EXPECT_EQ(grabber->asked, asked + 1);
  EXPECT_EQ(grabber->awaited, 1) << "frame 0 waits for a picture from after Start";
  EXPECT_EQ(frames(), 1);
  clock.advanceMs(100);
  session.beat();
  EXPECT_EQ(grabber->awaited, 1) << "the frames after it do not";
  EXPECT_EQ(frames(), 2);
  ASSERT_TRUE(session.stop());
  EXPECT_EQ(testsupport::probeVideo(path("first.avi")).frameCount, 2);
}

// Start without a grab creates nothing; Stop before the first frame
// completes the file; a file that cannot be created fails with the status
// the user sees; a frame of another size ends the recording, the file
// keeping what came before.
TEST_F(SessionTest, FailedStartsAndAFailedWrite) {
  recording::RecordingSettings s;
  s.file = QString::fromStdString(path("nothing.avi"));
  s.rate = 5;
  s.compressor = fullFrames();
  EXPECT_EQ(session.start(s), StartOutcome::NoFrame);
  EXPECT_FALSE(session.isFileOpen());
  std::vector<std::uint8_t> format;
  EXPECT_FALSE(session.frameFormat(format));

  s.file = QString::fromStdString(path("missing/folder/x.avi"));
  session.fixTarget({0, 0, 32, 24});
  session.beat();
  EXPECT_TRUE(session.frameFormat(format));
  EXPECT_EQ(session.start(s), StartOutcome::Failed);
  EXPECT_EQ(session.state(), RecordState::Ready) << "Start may be pressed again";
  EXPECT_EQ(statuses, QStringList{"Use Image Conversion Tool"});

  statuses.clear();
  ASSERT_EQ(start("fail.avi", 5), StartOutcome::Started);
  grabber->picture = solid(0x00ffffff, 16, 16);
  clock.advanceMs(200);
  session.beat();
  EXPECT_EQ(session.state(), RecordState::Idle);
  EXPECT_FALSE(session.isFileOpen());
  EXPECT_EQ(statuses, QStringList{"Use Image Conversion Tool"});
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].cause, recording::EndCause::WriteError);
  EXPECT_EQ(ends[0].framesKept, 1);
  EXPECT_EQ(recording::describe(ends[0]),
            QStringLiteral("Recording stopped: the file could not be written. fail.avi holds 1 frame (0.2 s) and plays."));
  EXPECT_EQ(testsupport::probeVideo(path("fail.avi")).frameCount, 1);
}

// The sound on the recording's clock: its first sample is frame 0's
// moment, a pause cuts the same span from it as from the frames, and the
// track lasts exactly as long as the video.
TEST_F(SessionTest, SoundStartsWithTheFirstFrameAndPausesWithTheFrames) {
  FakeSound sound;
  ASSERT_EQ(startWithSound("sound.avi", sound), StartOutcome::Started);
  play(sound, Session::kSettleMs, 1000);  // before frame 0
  play(sound, 1000, 2000);
  session.pause();
  play(sound, 1000, 3000);
  session.resume();
  grabber->picture = solid(0x00ffffff);
  play(sound, 1000, 4000);
  EXPECT_EQ(frames(), 21);
  // The level the tray shows: 4000 of full scale is -18 dB.
  std::vector<recording::Health> health;
  QObject::connect(&session, &Session::health, [&](const recording::Health& h) { health.push_back(h); });
  ASSERT_TRUE(testsupport::pumpUntil([&] { return !health.empty(); }, 3000));
  EXPECT_TRUE(recording::healthText(health.back()).endsWith(QStringLiteral(" - sound -18 dB")))
      << recording::healthText(health.back()).toStdString();
  ASSERT_TRUE(session.stop());
  EXPECT_FALSE(sound.samples) << "the device is let go";

  const std::string file = path("sound.avi");
  EXPECT_EQ(testsupport::probeVideo(file).frameCount, 21);
  const auto s = decodedSound(file);
  ASSERT_EQ(s.size(), 2u * 21 * 4800) << "as long as 21 frames at 10 a second";
  EXPECT_EQ(s[0], 2000);
  EXPECT_EQ(countOf(s, 1000), 0) << "nothing from before frame 0";
  EXPECT_EQ(countOf(s, 3000), 0) << "nothing from the pause";
  EXPECT_EQ(countOf(s, 2000), 48000);
  EXPECT_EQ(s[2 * 48000], 4000) << "the sound after the pause at 1 s";
  EXPECT_EQ(countOf(s, 4000), 48000);
  // The first white frame, after the pause, is frame 11 (at 1.1 s): the
  // sound after the pause began one frame before it, at 1.0 s.
  const auto pictures = testsupport::decodeFrames(file, 32, 24);
  ASSERT_EQ(pictures.size(), 21u);
  int firstWhite = -1;
  for (int i = 0; i < 21 && firstWhite < 0; ++i)
    if (pictures[std::size_t(i)][0] == 0xff && pictures[std::size_t(i)][1] == 0xff) firstWhite = i;
  EXPECT_EQ(firstWhite, 11);
}

// A device that goes away mid-recording, or that cannot be had at Start:
// the recording goes on, with silence, and the status line says so once.
TEST_F(SessionTest, ADeviceGoneOrMissingLeavesSilenceAndSaysSoOnce) {
  FakeSound sound;
  ASSERT_EQ(startWithSound("gone.avi", sound), StartOutcome::Started);
  play(sound, Session::kSettleMs, 5);
  play(sound, 500, 5000);
  sound.gone();
  sound.gone();
  QCoreApplication::processEvents();
  play(sound, 500, 0);
  std::vector<recording::Health> health;
  QObject::connect(&session, &Session::health, [&](const recording::Health& h) { health.push_back(h); });
  ASSERT_TRUE(testsupport::pumpUntil([&] { return !health.empty(); }, 3000));
  EXPECT_EQ(health.back().soundDevicesGone, 1);
  EXPECT_TRUE(recording::healthText(health.back()).endsWith(QStringLiteral(" (1 gone)")));
  ASSERT_TRUE(session.stop());
  const QString told = QStringLiteral("No sound from the microphone: the recording goes on with silence");
  EXPECT_EQ(statuses.count(told), 1);
  auto s = decodedSound(path("gone.avi"));
  ASSERT_EQ(s.size(), 2u * 11 * 4800);
  EXPECT_EQ(countOf(s, 5000), 24000);
  EXPECT_EQ(countOf(s, 0), 11 * 4800 - 24000);

  statuses.clear();
  FakeSound missing;
  missing.available = false;
  ASSERT_EQ(startWithSound("missing.avi", missing), StartOutcome::Started);
  play(missing, Session::kSettleMs + 1000, 0);
  ASSERT_TRUE(session.stop());
  EXPECT_EQ(statuses.count(told), 1);
  s = decodedSound(path("missing.avi"));
  ASSERT_EQ(s.size(), 2u * 11 * 4800);
  EXPECT_EQ(countOf(s, 0), 11 * 4800);
}

// Compressed, the track is MP3 and as long as the video, to within the
// encoder's last frame (24 ms).
TEST_F(SessionTest, CompressedSoundIsMp3AsLongAsTheVideo) {
  FakeSound sound;
  ASSERT_EQ(startWithSound("mp3.avi", sound, true), StartOutcome::Started);
  play(sound, Session::kSettleMs, 1000);
  play(sound, 2000, 2000);
  ASSERT_TRUE(session.stop());
  const std::string file = path("mp3.avi");
  std::string codec;
  ASSERT_EQ(testsupport::runCommand({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                     "stream=codec_name", "-of", "csv=p=0", file},
                                    &codec),
            0);
  EXPECT_EQ(codec, "mp3\n");
  EXPECT_EQ(testsupport::probeVideo(file).frameCount, 21);
  EXPECT_NEAR(double(decodedSound(file).size()) / 2, 21 * 4800, 1152);
}

// The real timers, on the real clock: frames come on their own.
TEST(SessionTimers, FramesComeOnTheirOwn) {
  testsupport::TempDir dir;
  auto* grabber = new FakeGrabber;
  Session session{std::unique_ptr<recording::Grabber>(grabber)};
  session.fixTarget({0, 0, 32, 24});
  ASSERT_TRUE(testsupport::pumpUntil([&] { return session.grabCount() > 0; }, 2000));
  recording::RecordingSettings s;
  s.file = QString::fromStdString(dir.file(QStringLiteral("timed.avi")));
  s.rate = 50;
  s.compressor = fullFrames();
  ASSERT_EQ(session.start(s), StartOutcome::Started);
  EXPECT_TRUE(testsupport::pumpUntil([&] { return session.frameIndex() >= 9; }, 5000));
  session.cancel();
  EXPECT_GE(testsupport::probeVideo(dir.file(QStringLiteral("timed.avi"))).frameCount, 10);
}

// What the user reads: the causes in plain words, the tooltip's figures
// within 62 characters, the reserve, why a file cannot be created, and the
// frame rates a recording takes.
TEST(RecordingWords, CausesTooltipReserveUncreatableFilesAndRates) {
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
  EXPECT_EQ(recording::lostText(1), QStringLiteral(" (1 frame lost)"));
  EXPECT_EQ(recording::lostText(0), QString());

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

  EXPECT_EQ(Session::reserveBytes(0, 0), qint64(64) << 20);
  EXPECT_GT(Session::reserveBytes(100'000'000, 0), 5 * 100'000'000LL);

  testsupport::TempDir dir;
  EXPECT_TRUE(recording::whyCannotCreate(dir.path() + "/no/such/x.avi").contains("does not exist"));
  EXPECT_TRUE(recording::whyCannotCreate(dir.path()).contains("is a folder"));
  EXPECT_TRUE(recording::whyCannotCreate("/dev/null").contains("not an ordinary file"));
  EXPECT_TRUE(recording::whyCannotCreate(dir.path() + "/fine.avi").isEmpty());

  int rate = 0;
  QString problem;
  for (auto [text, expected] :
       std::vector<std::pair<QString, int>>{{"1", 1}, {"30", 30}, {"1000", 1000}, {" 7", 7}, {"$10", 16}}) {
    EXPECT_TRUE(recording::parseFrameRate(text, rate, problem)) << text.toStdString();
    EXPECT_EQ(rate, expected);
  }
  for (const char* bad : {"abc", "", "2.5", "0", "-3", "1001", "99999999999"}) {
    problem.clear();
    EXPECT_FALSE(recording::parseFrameRate(QString::fromLatin1(bad), rate, problem, QStringLiteral("Make Avi")))
        << bad;
    EXPECT_TRUE(problem.contains(QLatin1String("1 to 1000"))) << problem.toStdString();
    EXPECT_TRUE(problem.endsWith(QLatin1String("press Make Avi again."))) << problem.toStdString();
  }
}
