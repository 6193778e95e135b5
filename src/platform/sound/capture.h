#pragma once
// Sound capture from the desktop's sound server through PulseAudio's
// client library (PipeWire desktops answer it through pipewire-pulse): a
// record stream read on a thread of its own, 16-bit stereo at 48 kHz.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace snd {

// The monitor of the default output ("what the desktop plays"), or the
// default input.
constexpr const char* kDefaultMonitor = "@DEFAULT_MONITOR@";
constexpr const char* kDefaultSource = nullptr;

// Whether a sound server answers within a second or two; `why` says what
// failed when none does.
bool serverAvailable(std::string* why = nullptr);

class CaptureStream {
 public:
  // Interleaved samples, and the steady clock's time (ns) at the end of
  // the last one: when they were heard, the server's latency taken off.
  using Samples = std::function<void(std::span<const std::int16_t>, std::int64_t endNs)>;

  // `device` a source name, kDefaultMonitor or kDefaultSource.
  explicit CaptureStream(const char* device);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  // Connects, then reads on a thread of its own, handing each block to
  // `samples` there; `ended` runs there once if the stream breaks (the
  // device or the server went away). False, and nothing runs, when the
  // stream cannot be had; `why` says why.
  bool start(Samples samples, std::function<void()> ended, std::string* why = nullptr);
  // Nothing is handed over once this returns. A read that hangs is left
  // to end on its own.
  void stop();

  struct State;

 private:
  std::string device_;
  bool defaultDevice_;
  std::shared_ptr<State> state_;
};

}  // namespace snd
