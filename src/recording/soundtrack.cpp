#include "recording/soundtrack.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

namespace recording {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kOpen = std::numeric_limits<std::int64_t>::max();
}  // namespace

SoundTrack::SoundTrack(int devices)
    : pending_(std::size_t(std::max(1, devices))), heard_(std::size_t(std::max(1, devices)), false) {}

void SoundTrack::start(std::int64_t zeroNs) {
  const std::lock_guard lock(mutex_);
  zero_ = zeroNs;
  started_ = true;
}

void SoundTrack::pause(std::int64_t now) {
  const std::lock_guard lock(mutex_);
  if (pauses_.empty() || pauses_.back().second != kOpen) pauses_.emplace_back(std::max(now, zero_), kOpen);
}

void SoundTrack::resume(std::int64_t now) {
  const std::lock_guard lock(mutex_);
  if (!pauses_.empty() && pauses_.back().second == kOpen) pauses_.back().second = std::max(now, pauses_.back().first);
}

std::int64_t SoundTrack::position(std::int64_t t, bool clampPause) const {
  if (!started_ || t < zero_) return -1;
  std::int64_t paused = 0;
  for (const auto& [from, to] : pauses_) {
    if (t >= to) {
      paused += to - from;
    } else if (t >= from) {
      if (!clampPause) return -1;
      t = from;
      break;
    }
  }
  return (t - zero_ - paused) * kRate / kNsPerSecond;
}

std::int64_t SoundTrack::endOf(std::size_t device) const {
  return taken_ + std::int64_t(pending_[device].size() / kChannels);
}

void SoundTrack::padTo(std::size_t device, std::int64_t pos) {
  const std::int64_t missing = pos - endOf(device);
  if (missing <= 0) return;
  pending_[device].insert(pending_[device].end(), std::size_t(missing * kChannels), 0);
  inserted_ += missing;
}

void SoundTrack::add(int device, std::span<const std::int16_t> interleaved, std::int64_t endNs) {
  const std::lock_guard lock(mutex_);
  if (device < 0 || std::size_t(device) >= pending_.size()) return;
  const auto d = std::size_t(device);
  const auto n = std::int64_t(interleaved.size() / kChannels);
  const std::int64_t first = endNs - n * kNsPerSecond / kRate;
  std::deque<std::int16_t>& out = pending_[d];
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t pos = position(first + i * kNsPerSecond / kRate, false);
    if (pos < 0) continue;  // before frame 0, or paused
    const std::int64_t end = endOf(d);
    if (pos > end + kToleranceFrames) {
      if (!heard_[d] || pos > end + kGapFrames) {
        padTo(d, pos);  // a gap
      } else {
        // Behind the clock: this sample once more.
        out.push_back(interleaved[std::size_t(i * kChannels)]);
        out.push_back(interleaved[std::size_t(i * kChannels + 1)]);
        ++inserted_;
      }
    } else if (pos < end - kToleranceFrames) {
      ++dropped_;  // ahead of it
      continue;
    }
    out.push_back(interleaved[std::size_t(i * kChannels)]);
    out.push_back(interleaved[std::size_t(i * kChannels + 1)]);
    heard_[d] = true;
  }
}

std::vector<std::int16_t> SoundTrack::mix(std::int64_t upTo) {
  const std::int64_t n = upTo - taken_;
  if (n <= 0) return {};
  std::vector<std::int32_t> sum(std::size_t(n * kChannels), 0);
  for (auto& p : pending_) {
    const auto take = std::min(sum.size(), p.size());
    for (std::size_t i = 0; i < take; ++i) sum[i] += p[i];
    p.erase(p.begin(), p.begin() + std::ptrdiff_t(take));
  }
  std::vector<std::int16_t> out(sum.size());
  for (std::size_t i = 0; i < sum.size(); ++i) {
    out[i] = std::int16_t(std::clamp<std::int32_t>(sum[i], std::numeric_limits<std::int16_t>::min(),
                                                   std::numeric_limits<std::int16_t>::max()));
    peak_ = std::max(peak_, std::abs(int(out[i])));
  }
  taken_ = upTo;
  return out;
}

std::vector<std::int16_t> SoundTrack::take(std::int64_t now) {
  const std::lock_guard lock(mutex_);
  const std::int64_t clock = position(now, true);
  std::int64_t upTo = std::numeric_limits<std::int64_t>::max();
  for (std::size_t d = 0; d < pending_.size(); ++d) {
    padTo(d, clock - kStallFrames);
    upTo = std::min(upTo, endOf(d));
  }
  return mix(upTo);
}

std::vector<std::int16_t> SoundTrack::finish(std::int64_t totalFrames) {
  const std::lock_guard lock(mutex_);
  for (std::size_t d = 0; d < pending_.size(); ++d) {
    padTo(d, totalFrames);
    // What came beyond the video's end goes.
    if (endOf(d) > totalFrames && totalFrames >= taken_)
      pending_[d].resize(std::size_t((totalFrames - taken_) * kChannels));
  }
  return mix(totalFrames);
}

std::int64_t SoundTrack::taken() const {
  const std::lock_guard lock(mutex_);
  return taken_;
}

std::int64_t SoundTrack::inserted() const {
  const std::lock_guard lock(mutex_);
  return inserted_;
}

int SoundTrack::takePeak() {
  const std::lock_guard lock(mutex_);
  return std::exchange(peak_, 0);
}

std::int64_t SoundTrack::dropped() const {
  const std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace recording
