// Sound from a real sound server (scripts/sound-server.sh: PipeWire with
// WirePlumber and pipewire-pulse, a null output): a tone played into the
// output is in the file where it was played, as long as it was, at its
// pitch, and the track lasts as long as the video.
#include <gtest/gtest.h>

#include <QProcess>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "recording/session.h"
#include "support/media.h"
#include "support/modal.h"
#include "support/tempdir.h"

namespace {

class SolidGrabber final : public recording::Grabber {
 public:
  void start(const wnd::RECT&) override {}
  bool arrived() override { return true; }
  gdi::Bitmap finish() override {
    gdi::Bitmap b = gdi::Bitmap::device(32, 24, gdi::PixelFormat::Rgb32);
    std::memset(b.scanLine(0), 0x40, std::size_t(b.stride()) * 24);
    return b;
  }
};

// `ms` of a sine of `hz` at half the full scale, 48 kHz stereo.
void writeTone(const std::string& path, int hz, int ms) {
  const std::uint32_t frames = 48 * std::uint32_t(ms), bytes = frames * 4;
  std::ofstream f(path, std::ios::binary);
  const auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  f.write("RIFF", 4);
  u32(36 + bytes);
  f.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(48000);
  u32(192000);
  u16(4);
  u16(16);
  f.write("data", 4);
  u32(bytes);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const auto v = std::int16_t(16000 * std::sin(2 * M_PI * hz * double(i) / 48000));
    u16(std::uint16_t(v));
    u16(std::uint16_t(v));
  }
}

std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A playback stream into the default output, fed silence on a thread of
// its own, with low latency; beep() plays a tone in it and tells when it is
// heard (the server's latency added to the moment it is written). The
// picture of the same event shows from that moment.
class Player {
 public:
  Player() {
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 48000, 2};
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = 960 * 4;  // 20 ms
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = 480 * 4;
    attr.fragsize = std::uint32_t(-1);
    int err = 0;
    stream_ = pa_simple_new(nullptr, "Kestrel test", PA_STREAM_PLAYBACK, nullptr, "tone", &spec, nullptr, &attr, &err);
    if (stream_) thread_ = std::thread([this] { run(); });
  }
  ~Player() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
  }
  bool ok() const { return stream_ != nullptr; }
  // A 1 kHz tone of `ms`; returns once it is written, the time it is heard.
  std::int64_t beep(int ms) {
    heardAt_ = -1;
    toneBlocks_ = ms / 10;
    while (heardAt_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return heardAt_;
  }
  std::int64_t heardAt() const { return heardAt_; }

 private:
  void run() {
    std::vector<std::int16_t> block(960);
    std::int64_t n = 0;
    while (!stop_) {
      const int tone = toneBlocks_;
      if (tone > 0) {
        if (tone == toneBlocks_ && heardAt_ < 0) {
          int err = 0;
          const pa_usec_t latency = pa_simple_get_latency(stream_, &err);
          heardAt_ = steadyNs() + std::int64_t(latency) * 1000;
        }
        for (std::size_t i = 0; i < 480; ++i, ++n)
          block[2 * i] = block[2 * i + 1] = std::int16_t(16000 * std::sin(2 * M_PI * 1000 * double(n) / 48000));
        --toneBlocks_;
      } else {
        std::fill(block.begin(), block.end(), 0);
      }
      int err = 0;
      if (pa_simple_write(stream_, block.data(), block.size() * 2, &err) < 0) break;
    }
  }

  pa_simple* stream_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> toneBlocks_{0};
  std::atomic<std::int64_t> heardAt_{-1};
};

// White from `from` for `ms`, grey otherwise, at the moment of the grab.
class EventGrabber final : public recording::Grabber {
 public:
  void start(const wnd::RECT&) override { at_ = steadyNs(); }
  bool arrived() override { return true; }
  gdi::Bitmap finish() override {
    gdi::Bitmap b = gdi::Bitmap::device(32, 24, gdi::PixelFormat::Rgb32);
    const std::int64_t from = from_;
    const bool white = from > 0 && at_ >= from && at_ < from + std::int64_t(ms_) * 1'000'000;
    std::memset(b.scanLine(0), white ? 0xff : 0x40, std::size_t(b.stride()) * 24);
    return b;
  }
  void show(std::int64_t from, int ms) {
    ms_ = ms;
    from_ = from;
  }

 private:
  std::int64_t at_ = 0;
  std::atomic<std::int64_t> from_{0};
  int ms_ = 0;
};

}  // namespace

TEST(SoundServer, ATonePlayedIntoTheOutputIsRecordedWhereItWasPlayed) {
  std::string why;
  ASSERT_TRUE(recording::soundServerAvailable(&why)) << "no sound server: " << why;
  testsupport::TempDir dir;
  const std::string wav = dir.file("tone.wav"), avi = dir.file("tone.avi");
  writeTone(wav, 1000, 500);

  recording::Session session{std::make_unique<SolidGrabber>()};
  session.fixTarget({0, 0, 32, 24});
  ASSERT_TRUE(testsupport::pumpUntil([&] { return session.grabCount() > 0; }, 2000));
  recording::RecordingSettings s;
  s.file = QString::fromStdString(avi);
  s.rate = 25;
  s.compressor.cbSize = vfw::COMPVARS_CBSIZE;
  s.compressor.fccType = vfw::streamtypeVIDEO;
  s.compressor.fccHandler = vfw::comptypeDIB;
  s.desktopSound = true;
  const std::int64_t started = steadyNs();
  ASSERT_EQ(session.start(s), recording::StartOutcome::Started);
  const std::int64_t zero = started + recording::Session::kSettleMs * 1'000'000;
  testsupport::pumpFor(1000);
  QProcess play;
  const std::int64_t played = steadyNs();
  play.start(QStringLiteral("paplay"), {QString::fromStdString(wav)});
  ASSERT_TRUE(play.waitForStarted(5000));
  ASSERT_TRUE(testsupport::pumpUntil([&] { return play.state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(play.exitCode(), 0) << play.readAllStandardError().toStdString();
  testsupport::pumpFor(500);
  ASSERT_TRUE(session.stop());
  const int frames = testsupport::probeVideo(avi).frameCount;

  std::string out;
  ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", avi, "-map", "0:a", "-ac", "1", "-f", "s16le", "-"},
                                    &out),
            0);
  std::vector<std::int16_t> m(out.size() / 2);
  std::memcpy(m.data(), out.data(), m.size() * 2);
  EXPECT_EQ(std::int64_t(m.size()), std::int64_t(frames) * 48000 / 25) << "as long as the video";
  std::size_t onset = 0, end = 0;
  for (std::size_t i = 0; i < m.size(); ++i)
    if (std::abs(m[i]) > 4000) {
      if (!onset) onset = i;
      end = i;
    }
  ASSERT_GT(onset, 0u) << "the tone is in the file";
  const double onsetMs = double(onset) / 48.0, playedMs = double(played - zero) / 1e6;
  const double lengthMs = double(end - onset) / 48.0;
  int crossings = 0;
  for (std::size_t i = onset + 1; i <= end; ++i) crossings += (m[i - 1] < 0) != (m[i] < 0);
  const double hz = crossings / 2.0 / ((double(end - onset)) / 48000.0);
  std::printf("tone: paplay started at %.1f ms of the recording, heard from %.1f ms for %.1f ms at %.1f Hz\n",
              playedMs, onsetMs, lengthMs, hz);
  // paplay's own start and the server's latency lie between the two.
  EXPECT_GE(onsetMs, playedMs - 20);
  EXPECT_LE(onsetMs, playedMs + 250);
  EXPECT_NEAR(lengthMs, 500, 25);
  EXPECT_NEAR(hz, 1000, 20);
}

// The picture and the sound of one event (the picture white while a beep
// is heard), at the start and after a pause: found in the file within one
// frame (40 ms at 25 frames/s) of each other.
TEST(SoundServer, ThePictureAndTheSoundOfAnEventStayInStep) {
  ASSERT_TRUE(recording::soundServerAvailable());
  Player player;
  ASSERT_TRUE(player.ok());
  testsupport::TempDir dir;
  const std::string avi = dir.file("step.avi");
  auto* grabber = new EventGrabber;
  recording::Session session{std::unique_ptr<recording::Grabber>(grabber)};
  session.fixTarget({0, 0, 32, 24});
  ASSERT_TRUE(testsupport::pumpUntil([&] { return session.grabCount() > 0; }, 2000));
  recording::RecordingSettings s;
  s.file = QString::fromStdString(avi);
  s.rate = 25;
  s.compressor.cbSize = vfw::COMPVARS_CBSIZE;
  s.compressor.fccType = vfw::streamtypeVIDEO;
  s.compressor.fccHandler = vfw::comptypeDIB;
  s.desktopSound = true;
  ASSERT_EQ(session.start(s), recording::StartOutcome::Started);
  const auto event = [&] {
    testsupport::pumpFor(500);
    grabber->show(player.beep(300), 300);
    testsupport::pumpFor(800);
  };
  event();
  session.pause();
  testsupport::pumpFor(700);
  session.resume();
  event();
  ASSERT_TRUE(session.stop());

  const auto pictures = testsupport::decodeFrames(avi, 32, 24);
  std::vector<int> whiteFrom;
  for (std::size_t i = 0; i < pictures.size(); ++i)
    if (pictures[i][0] == 0xff && (i == 0 || pictures[i - 1][0] != 0xff)) whiteFrom.push_back(int(i) * 40);
  std::string out;
  ASSERT_EQ(testsupport::runCommand({"ffmpeg", "-v", "error", "-i", avi, "-map", "0:a", "-ac", "1", "-f", "s16le", "-"},
                                    &out),
            0);
  std::vector<std::int16_t> m(out.size() / 2);
  std::memcpy(m.data(), out.data(), m.size() * 2);
  EXPECT_EQ(m.size(), pictures.size() * 1920) << "as long as the video";
  std::vector<double> heard;
  std::size_t quietSince = 0;
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (std::abs(m[i]) < 4000) continue;
    if (heard.empty() || i - quietSince > 4800) heard.push_back(double(i) / 48.0);
    quietSince = i;
  }
  ASSERT_EQ(whiteFrom.size(), 2u);
  ASSERT_EQ(heard.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    std::printf("event %d: picture from %d ms, sound from %.1f ms: %+.1f ms\n", k, whiteFrom[std::size_t(k)],
                heard[std::size_t(k)], heard[std::size_t(k)] - whiteFrom[std::size_t(k)]);
    // The first white frame is the first grabbed after the beep is heard.
    EXPECT_NEAR(heard[std::size_t(k)], whiteFrom[std::size_t(k)], 40) << (k ? "after the pause" : "at the start");
  }
}
