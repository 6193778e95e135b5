#include "platform/sound/capture.h"

#include <pthread.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/context.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace snd {

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint8_t kChannels = 2;
// 40 ms a read, and as the server's fragment: the client library's thread
// and ours wake 25 times a second. With 10 ms fragments the wake-ups cost
// about half a millisecond of CPU per frame of a 30 frames/s recording;
// the times the blocks are stamped with stay as exact either way.
constexpr std::uint32_t kBlockFrames = kRate / 25;

std::int64_t steadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool serverAvailable(std::string* why) {
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) {
    if (why) *why = "no main loop";
    return false;
  }
  pa_context* c = pa_context_new(pa_mainloop_get_api(loop), "Kestrel");
  bool ready = false;
  if (c && pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      const pa_context_state_t s = pa_context_get_state(c);
      if (s == PA_CONTEXT_READY) {
        ready = true;
        break;
      }
      if (!PA_CONTEXT_IS_GOOD(s) || std::chrono::steady_clock::now() > deadline) break;
      if (pa_mainloop_prepare(loop, 100'000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) break;
    }
  }
  if (!ready && why) *why = c ? pa_strerror(pa_context_errno(c)) : "no context";
  if (c) {
    pa_context_disconnect(c);
    pa_context_unref(c);
  }
  pa_mainloop_free(loop);
  return ready;
}

// Shared by the stream and its thread, which may outlive a stop that did
// not wait for it.
struct CaptureStream::State {
  pa_simple* stream = nullptr;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  Samples samples;
  std::function<void()> ended;

  ~State() {
    if (stream) pa_simple_free(stream);
  }

  void run() {
    pthread_setname_np(pthread_self(), "sound capture");
    std::vector<std::int16_t> block(std::size_t(kBlockFrames) * kChannels);
    while (!stopping) {
      int err = 0;
      if (pa_simple_read(stream, block.data(), block.size() * sizeof(std::int16_t), &err) < 0) {
        if (!stopping && ended) ended();
        break;
      }
      const pa_usec_t latency = pa_simple_get_latency(stream, &err);
      const std::int64_t at = steadyNs() - (latency == pa_usec_t(-1) ? 0 : std::int64_t(latency) * 1000);
      if (stopping) break;
      samples(block, at);
    }
    const std::lock_guard lock(mutex);
    finished = true;
    done.notify_all();
  }
};

CaptureStream::CaptureStream(const char* device) : device_(device ? device : ""), defaultDevice_(device == nullptr) {}

CaptureStream::~CaptureStream() { stop(); }

bool CaptureStream::start(Samples samples, std::function<void()> ended, std::string* why) {
  stop();
  auto state = std::make_shared<State>();
  const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, kChannels};
  pa_buffer_attr attr{};
  attr.maxlength = std::uint32_t(-1);
  attr.tlength = std::uint32_t(-1);
  attr.prebuf = std::uint32_t(-1);
  attr.minreq = std::uint32_t(-1);
  attr.fragsize = kBlockFrames * kChannels * sizeof(std::int16_t);
  int err = 0;
  state->stream = pa_simple_new(nullptr, "Kestrel", PA_STREAM_RECORD, defaultDevice_ ? nullptr : device_.c_str(),
                                "Recording", &spec, nullptr, &attr, &err);
  if (!state->stream) {
    if (why) *why = pa_strerror(err);
    return false;
  }
  state->samples = std::move(samples);
  state->ended = std::move(ended);
  std::thread([state] { state->run(); }).detach();
  state_ = std::move(state);
  return true;
}

void CaptureStream::stop() {
  if (!state_) return;
  state_->stopping = true;
  std::unique_lock lock(state_->mutex);
  // A read returns within a block (40 ms); one that hangs on a server
  // gone strange is not waited for, and delivers nothing more.
  state_->done.wait_for(lock, std::chrono::milliseconds(500), [this] { return state_->finished; });
  lock.unlock();
  state_.reset();
}

}  // namespace snd
