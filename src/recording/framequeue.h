#pragma once
// Frames on their way into the file: the user-interface thread hands each
// one over and goes on; one thread of the queue's own converts, compresses
// and writes them, in order. A compressor that takes 20 ms a frame then
// costs the grab, the preview and the buttons nothing.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace recording {

class AviWriter;

class FrameQueue {
 public:
  // At most this many bytes of frames wait (never fewer than two frames):
  // a second of 1080p, under a second of 4K.
  static constexpr std::size_t kMaxWaitingBytes = std::size_t(256) << 20;

  // Frames go to `writer`, which must be open and stays the queue's until
  // the queue is drained. `failed` runs on the queue's thread when a write
  // fails, once.
  FrameQueue(AviWriter& writer, std::size_t frameBytes, std::function<void()> failed);
  // Writes what is waiting, then ends the thread.
  ~FrameQueue();
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;

  // Hands frame `index` over. False when it was not taken: the queue is
  // full (the writer is behind) or a write has failed.
  bool push(const gdi::Bitmap& frame, std::int32_t index);
  // Hands sound over for the writer's sound stream, written between the
  // frames in the order handed over. Never refused for room (a second of
  // it is 192 kB); false after a failed write.
  bool pushSound(std::vector<std::int16_t> interleaved);
  // Whether as many frames wait as the queue takes (sound not counted).
  bool full() const;
  // Returns once every frame handed over is in the file, or a write failed.
  void drain();

  struct Failure {
    std::int32_t index = 0;   // the frame that was not written; those before it were
    std::int32_t result = 0;  // the library's result
  };
  std::optional<Failure> failure() const;
  // Frames written so far.
  std::int64_t written() const;
  std::size_t capacity() const { return capacity_; }

 private:
  struct Job {
    gdi::Bitmap frame;
    std::int32_t index;
    std::vector<std::int16_t> sound;  // a sound job has no frame
  };
  void run();

  AviWriter& writer_;
  const std::size_t capacity_;
  const std::function<void()> failed_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;  // a job came, or the end
  std::condition_variable idle_;  // the queue ran empty, or failed
  std::deque<Job> jobs_;
  std::size_t waitingFrames_ = 0;
  std::int32_t lastIndex_ = -1;  // the last frame handed over
  bool busy_ = false;  // a job is being written
  bool stop_ = false;
  std::optional<Failure> failure_;
  std::int64_t written_ = 0;
  std::thread thread_;  // last: started once everything above exists
};

}  // namespace recording
