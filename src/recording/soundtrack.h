#pragma once
// Sound on the recording's clock. Capture devices hand in blocks of
// samples stamped with the clock's time of their last sample; the track
// places every sample by that time: before frame 0 and while paused it is
// dropped, and the track of each device is kept where the clock says, so a
// sound card whose clock runs fast or slow against the system's (they all
// do, by up to a few hundred parts per million) never drifts away from the
// picture: a sample is dropped when a device is ahead by more than the
// tolerance, or one repeated when it falls behind (one at a time, which is
// not heard); a gap (a device that starts late, or loses a stretch) and a
// device that stops delivering (unplugged) are filled with silence. The writer takes
// the devices mixed into one stereo track, as far as all have delivered.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace recording {

// The devices a recording may take its sound from.
enum class SoundDevice { Desktop, Microphone };

// One capture device, delivering on a thread of its own.
class SoundInput {
 public:
  // Interleaved 16-bit stereo at SoundTrack::kRate, and the clock's time
  // at the end of the block's last sample.
  using Samples = std::function<void(std::span<const std::int16_t> interleaved, std::int64_t endNs)>;
  virtual ~SoundInput() = default;
  // Starts delivering; false when the device cannot be had (no sound
  // server). `gone` runs once, on the input's thread, when the device
  // stops delivering for good.
  virtual bool start(Samples samples, std::function<void()> gone) = 0;
  // Returns once nothing more is delivered.
  virtual void stop() = 0;
};

// The desktop's sound server's device (PulseAudio's client library, which
// PipeWire desktops answer too): the monitor of the default output, or the
// default input. Never null; its start fails without a server.
std::unique_ptr<SoundInput> systemSoundInput(SoundDevice device);
// Whether a sound server answers; `why` says what failed when none does.
bool soundServerAvailable(std::string* why = nullptr);

class SoundTrack {
 public:
  static constexpr int kRate = 48000;
  static constexpr int kChannels = 2;
  // How far a device may be off the clock before it is set right: well
  // within a frame at 25 frames/s, and above the jitter of the times the
  // sound server gives.
  static constexpr std::int64_t kToleranceFrames = kRate / 50;  // 20 ms
  // A device this far behind the clock has stopped (or is gone): silence
  // stands in for it from there on.
  static constexpr std::int64_t kStallFrames = kRate / 4;  // 250 ms
  // Behind by more than this, a device has lost samples rather than run
  // slow: silence fills the gap at once.
  static constexpr std::int64_t kGapFrames = kRate / 10;  // 100 ms

  explicit SoundTrack(int devices);

  // Frame 0's moment: the track's first sample.
  void start(std::int64_t zeroNs);
  void pause(std::int64_t now);
  void resume(std::int64_t now);

  // From any thread: device `device`'s block ending at `endNs`.
  void add(int device, std::span<const std::int16_t> interleaved, std::int64_t endNs);

  // The mixed track from where the last take ended up to where every
  // device has delivered (a stalled one counting as silence), by `now`.
  std::vector<std::int16_t> take(std::int64_t now);
  // The rest up to `totalFrames` sample frames in all (the video's
  // length), silence where nothing came; what lies beyond goes.
  std::vector<std::int16_t> finish(std::int64_t totalFrames);

  // Sample frames taken so far.
  std::int64_t taken() const;
  // Sample frames inserted and dropped to keep the devices on the clock.
  std::int64_t inserted() const;
  std::int64_t dropped() const;
  // The loudest sample taken since the last call (0 to 32768), for a level
  // the user sees while recording.
  int takePeak();

 private:
  // Where the sample of time `t` lies in the track; -1 before frame 0 and
  // while paused (or, with `clampPause`, the pause's start).
  std::int64_t position(std::int64_t t, bool clampPause) const;
  std::int64_t endOf(std::size_t device) const;
  void padTo(std::size_t device, std::int64_t pos);
  std::vector<std::int16_t> mix(std::int64_t upTo);

  mutable std::mutex mutex_;
  std::vector<std::deque<std::int16_t>> pending_;  // after taken_, per device
  std::vector<bool> heard_;                         // a device has delivered
  std::int64_t zero_ = 0;
  bool started_ = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> pauses_;  // the open one ends at INT64_MAX
  std::int64_t taken_ = 0;
  std::int64_t inserted_ = 0;
  std::int64_t dropped_ = 0;
  int peak_ = 0;
};

}  // namespace recording
