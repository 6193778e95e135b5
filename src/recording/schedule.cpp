#include "recording/schedule.h"

#include <algorithm>
#include <chrono>

namespace recording {

namespace {

class SteadyClock final : public Clock {
 public:
  std::int64_t nowNs() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

constexpr std::int64_t kNsPerSecond = 1'000'000'000;

}  // namespace

const Clock& Clock::steady() {
  static const SteadyClock clock;
  return clock;
}

void FrameSchedule::start(std::int64_t zero, int rate) {
  start_ = zero;
  pausedNs_ = 0;
  pausedAt_ = 0;
  rate_ = std::max(1, rate);
  paused_ = false;
}

void FrameSchedule::pause(std::int64_t now) {
  if (paused_) return;
  paused_ = true;
  pausedAt_ = now;
}

void FrameSchedule::resume(std::int64_t now) {
  if (!paused_) return;
  paused_ = false;
  pausedNs_ += std::max<std::int64_t>(0, now - pausedAt_);
}

std::int64_t FrameSchedule::elapsedNs(std::int64_t now) const {
  const std::int64_t end = paused_ ? pausedAt_ : now;
  return end - start_ - pausedNs_;
}

std::int64_t FrameSchedule::recordedNs(std::int64_t now) const { return std::max<std::int64_t>(0, elapsedNs(now)); }

std::int64_t FrameSchedule::dueBy(std::int64_t now) const {
  const std::int64_t elapsed = elapsedNs(now);
  if (elapsed < 0) return 0;  // the recording's time has not begun
  // Ten hours at 1000 frames a second is 3.6e16 here: far inside 64 bits.
  return elapsed * rate_ / kNsPerSecond + 1;
}

std::int64_t FrameSchedule::dueAt(std::int64_t k) const {
  // The first nanosecond at which k frames' worth of time has passed.
  const std::int64_t recorded = (k * kNsPerSecond + rate_ - 1) / rate_;
  return start_ + pausedNs_ + recorded;
}

}  // namespace recording
