// The sound server's devices as a recording's sound inputs.
#include <utility>

#include "platform/sound/capture.h"
#include "recording/soundtrack.h"

namespace recording {

namespace {

// The capture stream's clock is the steady clock, which Clock::steady()
// reads too: its times are the recording's.
class ServerInput final : public SoundInput {
 public:
  explicit ServerInput(SoundDevice device)
      : stream_(device == SoundDevice::Desktop ? snd::kDefaultMonitor : snd::kDefaultSource) {}
  bool start(Samples samples, std::function<void()> gone) override {
    return stream_.start(std::move(samples), std::move(gone));
  }
  void stop() override { stream_.stop(); }

 private:
  snd::CaptureStream stream_;
};

}  // namespace

std::unique_ptr<SoundInput> systemSoundInput(SoundDevice device) { return std::make_unique<ServerInput>(device); }

bool soundServerAvailable(std::string* why) { return snd::serverAvailable(why); }

}  // namespace recording
