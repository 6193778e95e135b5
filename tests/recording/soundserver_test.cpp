// Sound from a real sound server (scripts/sound-server.sh: PipeWire with
// WirePlumber and pipewire-pulse, a null output): a tone played into the
// output is in the file where it was played, as long as it was, at its
// pitch, and the track lasts as long as the video.
#include <gtest/gtest.h>

#include <QProcess>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

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
