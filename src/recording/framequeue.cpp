#include "recording/framequeue.h"

#include <pthread.h>

#include <algorithm>

#include "recording/aviwriter.h"

namespace recording {

FrameQueue::FrameQueue(AviWriter& writer, std::size_t frameBytes, std::function<void()> failed)
    : writer_(writer),
      capacity_(std::max<std::size_t>(2, kMaxWaitingBytes / std::max<std::size_t>(1, frameBytes))),
      failed_(std::move(failed)),
      thread_([this] { run(); }) {}

FrameQueue::~FrameQueue() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

bool FrameQueue::push(const gdi::Bitmap& frame, std::int32_t index) {
  {
    const std::lock_guard lock(mutex_);
    if (failure_ || stop_ || waitingFrames_ >= capacity_) return false;
    jobs_.push_back({frame, index, {}});
    ++waitingFrames_;
    lastIndex_ = index;
  }
  wake_.notify_one();
  return true;
}

bool FrameQueue::pushSound(std::vector<std::int16_t> interleaved) {
  if (interleaved.empty()) return true;
  {
    const std::lock_guard lock(mutex_);
    if (failure_ || stop_) return false;
    jobs_.push_back({gdi::Bitmap(), lastIndex_ + 1, std::move(interleaved)});
  }
  wake_.notify_one();
  return true;
}

bool FrameQueue::full() const {
  const std::lock_guard lock(mutex_);
  return waitingFrames_ >= capacity_;
}

void FrameQueue::drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return failure_ || (jobs_.empty() && !busy_); });
}

std::optional<FrameQueue::Failure> FrameQueue::failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

std::int64_t FrameQueue::written() const {
  const std::lock_guard lock(mutex_);
  return written_;
}

void FrameQueue::run() {
  // No lower priority for this thread and the encoder's: the grab only
  // asks the X server for a copy, so the user-interface thread needs
  // little, and a writer that yields loses frames when the desktop is
  // busy (4K Ut Video dropped 5-8 frames in 300 at nice 5, none at 0).
  pthread_setname_np(pthread_self(), "frame writer");
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (jobs_.empty() || failure_) {
      if (stop_) return;
      continue;
    }
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    const bool isFrame = job.sound.empty();
    if (isFrame) --waitingFrames_;
    busy_ = true;
    lock.unlock();
    const std::int32_t result = isFrame ? writer_.write(job.frame, job.index) : writer_.writeSound(job.sound);
    job.frame = {};  // the grab's memory may be reused from here
    lock.lock();
    busy_ = false;
    if (result == 0) {
      if (isFrame) ++written_;
    } else {
      // Nothing after a failed write is written: the file keeps the frames
      // before it, in order, and no gap.
      failure_ = Failure{job.index, result};
      jobs_.clear();
      waitingFrames_ = 0;
    }
    const bool justFailed = result != 0;
    if (jobs_.empty() || justFailed) idle_.notify_all();
    if (justFailed && failed_) {
      lock.unlock();
      failed_();
      lock.lock();
    }
  }
}

}  // namespace recording
