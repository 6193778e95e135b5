#pragma once
// The recording's clock: monotonic time decides which frame is due. Frame
// k falls due k/R seconds of recorded time after the start, and paused
// spans are not recorded time, so a file of n frames at R frames a second
// lasts as long as the recording did, whatever the timers around it do.
#include <cstdint>

namespace recording {

// Monotonic time in nanoseconds. The real one is the system's steady
// clock; tests hand in one they move by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t nowNs() const = 0;
  // The system's steady clock, shared by every recording.
  static const Clock& steady();
};

class FrameSchedule {
 public:
  // Frame 0 falls due at `zero` (which may lie ahead: nothing is due
  // before it).
  void start(std::int64_t zero, int rate);
  // Time stops counting for the recording until resume.
  void pause(std::int64_t now);
  void resume(std::int64_t now);
  bool paused() const { return paused_; }
  int rate() const { return rate_; }

  // Recorded time at `now`: time since the start, paused spans left out.
  std::int64_t recordedNs(std::int64_t now) const;
  // How many frames have fallen due by `now` (frame 0 at the start).
  std::int64_t dueBy(std::int64_t now) const;
  // When frame k falls due, on the clock, if the recording is not paused
  // again before then.
  std::int64_t dueAt(std::int64_t k) const;

 private:
  std::int64_t elapsedNs(std::int64_t now) const;  // negative before the start

  std::int64_t start_ = 0;
  std::int64_t pausedNs_ = 0;  // paused time before the current pause
  std::int64_t pausedAt_ = 0;
  int rate_ = 1;
  bool paused_ = false;
};

}  // namespace recording
