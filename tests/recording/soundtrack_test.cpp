// The sound track on the recording's clock, fed by hand: where samples
// land, what is dropped and filled, and how devices mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "recording/soundtrack.h"

using recording::SoundTrack;

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr int kBlock = 480;  // 10 ms

// Feeds `device` blocks of `value` whose last samples end at `from` + 10 ms
// steps up to `to`, each block `frames` long (480 on time).
void feed(SoundTrack& t, int device, std::int64_t from, std::int64_t to, std::int16_t value, int frames = kBlock) {
  const std::vector<std::int16_t> block(std::size_t(frames) * 2, value);
  for (std::int64_t at = from + 10 * kMs; at <= to; at += 10 * kMs) t.add(device, block, at);
}

int countOf(const std::vector<std::int16_t>& s, std::int16_t v) { return int(std::count(s.begin(), s.end(), v)) / 2; }

}  // namespace

// The first sample is frame 0's moment; what came before it and while
// paused is not in the track, and the track is as long as recorded time.
TEST(SoundTrack, SamplesLandOnRecordedTime) {
  SoundTrack t(1);
  const std::int64_t zero = 1000 * kMs;
  t.start(zero);
  feed(t, 0, 900 * kMs, zero, 1);
  feed(t, 0, zero, 1500 * kMs, 2);
  t.pause(1500 * kMs);
  feed(t, 0, 1500 * kMs, 2000 * kMs, 3);
  t.resume(2000 * kMs);
  feed(t, 0, 2000 * kMs, 2500 * kMs, 4);
  std::vector<std::int16_t> s = t.take(2500 * kMs);
  const auto rest = t.finish(48000);
  s.insert(s.end(), rest.begin(), rest.end());
  ASSERT_EQ(s.size(), 2u * 48000);
  EXPECT_EQ(countOf(s, 1), 0);
  EXPECT_EQ(countOf(s, 3), 0);
  EXPECT_EQ(s[0], 2);
  EXPECT_EQ(countOf(s, 2), 24000);
  EXPECT_EQ(s[2 * 24000], 4) << "the sound after the pause follows at once";
  EXPECT_EQ(t.inserted(), 0);
}

// A sound card half a percent fast or slow against the clock, for ten
// minutes: the track stays within the tolerance of the clock, samples
// dropped or repeated one at a time (no silence: every sample is the
// device's).
TEST(SoundTrack, DriftOfTheSoundCardIsCorrected) {
  for (const int frames : {kBlock + 2, kBlock - 2}) {
    SCOPED_TRACE(frames);
    SoundTrack t(1);
    t.start(0);
    std::int64_t taken = 0, silent = 0;
    for (std::int64_t at = 10 * kMs; at <= 600'000 * kMs; at += 10 * kMs) {
      feed(t, 0, at - 10 * kMs, at, 7, frames);
      if (at % (100 * kMs) == 0) {
        const auto s = t.take(at);
        taken += std::int64_t(s.size() / 2);
        silent += std::count(s.begin(), s.end(), 0);
      }
    }
    EXPECT_EQ(silent, 0);
    const std::int64_t clock = 600 * 48000;
    EXPECT_LE(std::abs(taken - clock), SoundTrack::kToleranceFrames + kBlock);
    if (frames > kBlock)
      EXPECT_GT(t.dropped(), 0);
    else
      EXPECT_GT(t.inserted(), 0);
  }
}

// Two devices add up (clipped, not wrapped); one that stops delivering is
// silence from a quarter of a second behind the clock on, so the other's
// sound still comes through.
TEST(SoundTrack, DevicesMixAndAStalledOneIsSilence) {
  SoundTrack t(2);
  t.start(0);
  feed(t, 0, 0, 500 * kMs, 20000);
  feed(t, 1, 0, 400 * kMs, 20000);
  auto s = t.take(500 * kMs);
  ASSERT_EQ(s.size(), 2u * 19200) << "as far as both have delivered";
  EXPECT_EQ(countOf(s, 32767), 19200);
  // Device 1 delivers no more.
  feed(t, 0, 500 * kMs, 2000 * kMs, 20000);
  s = t.take(2000 * kMs);
  ASSERT_EQ(s.size(), 2u * (2 * 48000 - SoundTrack::kStallFrames - 19200));
  EXPECT_EQ(countOf(s, 20000), int(s.size() / 2)) << "device 0 alone";
  const auto rest = t.finish(3 * 48000);
  EXPECT_EQ(rest.size(), 2u * (48000 + SoundTrack::kStallFrames));
  EXPECT_EQ(countOf(rest, 20000), int(SoundTrack::kStallFrames)) << "device 0's last quarter second";
  EXPECT_EQ(t.taken(), 3 * 48000);
}
