#include "platform/vfw/compressingstream.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/codec.h"

namespace vfw::detail {

namespace {

// One thread that runs the jobs given to it, one at a time, for as long as
// it lives; a stream's frames compress on it without a thread start each.
class Worker {
 public:
  Worker() : thread_([this] { run(); }) {}
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  template <typename F>
  auto submit(F f) -> std::future<decltype(f())> {
    auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
    auto result = task->get_future();
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back([task] { (*task)(); });
    }
    wake_.notify_one();
    return result;
  }

 private:
  void run() {
    // Named so top and perf tell it from the encoder's own threads.
    pthread_setname_np(pthread_self(), "compressor");
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stop_ = false;
  std::thread thread_;
};

// A stream laid over another: takes uncompressed frames, hands the
// compressor's output to the source stream.
class CompressingStream final : public AviStream {
 public:
  CompressingStream(AviStream* source, const AVICOMPRESSOPTIONS& opt) : source_(source) {
    source_->addRef();
    fccHandler_ = opt.fccHandler ? opt.fccHandler : comptypeDIB;
    options_.quality = LONG(opt.dwQuality);
    options_.keyFrameEvery = (opt.dwFlags & AVICOMPRESSF_KEYFRAMES) ? LONG(opt.dwKeyFrameEvery) : 1;
    // dwBytesPerSecond is bytes, the encoder takes kilobytes.
    options_.kilobytesPerSecond =
        (opt.dwFlags & AVICOMPRESSF_DATARATE) ? LONG((std::uint64_t(opt.dwBytesPerSecond) + 1023) / 1024) : 0;
    const AVISTREAMINFOA& si = source_->info();
    options_.framesPerSecond = si.dwScale ? int(si.dwRate / si.dwScale) : 0;
  }
  ~CompressingStream() override {
    // The frame still compressing is the file's last; a caller that wants to
    // know whether it got there flushes first.
    flush();
    source_->release();
  }
  const AVISTREAMINFOA& info() const override { return source_->info(); }

  HRESULT setFormat(LONG pos, std::span<const std::uint8_t> format) override {
    if (const HRESULT hr = checkVideoFormat(format); hr != AVIERR_OK) return hr;
    if (encoder_) {
      if (format.size() == input_.size() && std::equal(format.begin(), format.end(), input_.begin()))
        return AVIERR_OK;
      return AVIERR_UNSUPPORTED;
    }
    std::unique_ptr<Encoder> enc;
    if (const HRESULT hr = createEncoder(fccHandler_, format, options_, enc); hr != AVIERR_OK) return hr;
    if (!enc) return AVIERR_NOCOMPRESSOR;
    if (const HRESULT hr = source_->setFormat(pos, enc->outputFormat()); hr != AVIERR_OK) return hr;
    const BITMAPINFOHEADER h = readInfoHeader(format);
    const std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    rowBytes_ = std::uint64_t(gdi::rowBytes(h.biWidth, h.biBitCount * std::max<int>(1, h.biPlanes)));
    frameBytes_ = rowBytes_ * std::uint64_t(rows);
    input_.assign(format.begin(), format.end());
    encoder_ = std::move(enc);
    return AVIERR_OK;
  }

  HRESULT write(LONG start, LONG samples, std::span<const std::uint8_t> data, DWORD flags, LONG* samplesWritten,
                LONG* bytesWritten) override {
    if (!encoder_) return AVIERR_BADFORMAT;
    if (samples != 1) return AVIERR_UNSUPPORTED;
    // The compressor reads a whole frame of the input format.
    if (data.size() < frameBytes_) return AVIERR_BADSIZE;
    return writeFrame(start, flags, [this, data] { return encoder_->prepare(data.first(frameBytes_)); },
                      samplesWritten, bytesWritten);
  }

  HRESULT writeRows(LONG start, FrameRows rows, DWORD flags) override {
    if (!encoder_) return AVIERR_BADFORMAT;
    if (!rows.top || std::uint64_t(std::abs(rows.stride)) < rowBytes_) return AVIERR_BADPARAM;
    // Full frames are the rows themselves: the file takes them as they lie.
    if (encoder_->passesRowsThrough() && !inFlight_.valid() && overlapFailure_ == AVIERR_OK)
      return source_->writeRows(start, rows, flags | AVIIF_KEYFRAME);
    return writeFrame(start, flags, [this, rows] { return encoder_->prepareRows(rows); }, nullptr, nullptr);
  }

  HRESULT setOverlap(bool on) override {
    if (!on) {
      if (const HRESULT hr = flush(); hr != AVIERR_OK) return hr;
    }
    overlap_ = on;
    // A caller that takes packets late lets the encoder hold frames too
    // (frame threads); the encoder is made at the format, after this.
    options_.allowDelay = on;
    return AVIERR_OK;
  }

  HRESULT setPaced(bool on) override {
    options_.paced = on;
    return AVIERR_OK;
  }

  // Writes the frame still compressing, if any, and those the encoder held
  // back; the result is theirs (or the failure that already ended the
  // overlapped writing).
  HRESULT flush() override {
    if (inFlight_.valid()) {
      const InFlight f = inFlight_.get();
      if (overlapFailure_ != AVIERR_OK) return overlapFailure_;
      if (const HRESULT hr = writeOut(f); hr != AVIERR_OK) return hr;
    }
    if (overlapFailure_ != AVIERR_OK) return overlapFailure_;
    while (encoder_ && !pending_.empty()) {
      InFlight held;
      if (const HRESULT hr = encoder_->drain(held.packet, held.isKey); hr != AVIERR_OK) return overlapFailure_ = hr;
      if (held.packet.empty()) break;
      if (const HRESULT hr = writeOut(held); hr != AVIERR_OK) return hr;
    }
    return AVIERR_OK;
  }

  LONG length() const override { return source_->length(); }

 private:
  struct InFlight {
    HRESULT hr = AVIERR_OK;
    std::span<const std::uint8_t> packet;  // the encoder's: valid while the next frame compresses; empty: held back
    bool isKey = false;
  };

  HRESULT writeFrame(LONG start, DWORD flags, const std::function<HRESULT()>& prepare, LONG* samplesWritten,
                     LONG* bytesWritten) {
    // An overlapped frame that did not make it leaves a gap no later frame
    // may close.
    if (overlapFailure_ != AVIERR_OK) return overlapFailure_;
    // The caller's AVIIF_KEYFRAME asks for nothing: the encoder makes key
    // frames at the interval of the options, and the file is told which
    // packets are key frames by the encoder.
    (void)flags;
    const bool forceKey = false;
    if (overlap_ && encoder_->worthOverlapping()) return writeOverlapped(start, prepare, forceKey, samplesWritten);
    if (const HRESULT hr = prepare(); hr != AVIERR_OK) return hr;
    return compressAndWrite(start, forceKey, samplesWritten, bytesWritten);
  }

  // This frame's pixels are converted here while the frame before it
  // compresses on a worker thread; then this one goes to the worker and the
  // one before is written while it compresses. The file sees every frame,
  // in order, one call late.
  HRESULT writeOverlapped(LONG start, const std::function<HRESULT()>& prepare, bool forceKey,
                          LONG* samplesWritten) {
    const HRESULT prepared = prepare();
    std::optional<InFlight> before;
    if (inFlight_.valid()) before = inFlight_.get();
    if (before && before->hr != AVIERR_OK) return overlapFailure_ = before->hr;
    if (prepared != AVIERR_OK) {
      // Nothing of this frame goes on; the one before is still written.
      const HRESULT hr = before ? writeOut(*before) : AVIERR_OK;
      return hr != AVIERR_OK ? hr : prepared;
    }
    try {
      if (!worker_) worker_ = std::make_unique<Worker>();
      pending_.push_back(start);
      inFlight_ = worker_->submit([this, forceKey] {
        InFlight f;
        try {
          f.hr = encoder_->compress(forceKey, f.packet, f.isKey);
        } catch (...) {
          f.hr = AVIERR_MEMORY;  // libavcodec does not throw; the wrapper may run out of memory
        }
        return f;
      });
    } catch (const std::system_error&) {
      // No thread to be had: this frame is compressed here, after the one
      // before is written.
      if (!pending_.empty() && pending_.back() == start) pending_.pop_back();
      if (before) {
        if (const HRESULT hr = writeOut(*before); hr != AVIERR_OK) return hr;
      }
      return compressAndWrite(start, forceKey, samplesWritten, nullptr);
    }
    if (before) {
      if (const HRESULT hr = writeOut(*before); hr != AVIERR_OK) return hr;
    }
    if (samplesWritten) *samplesWritten = 1;
    return AVIERR_OK;
  }

  // A packet is the oldest pending frame's: the encoder keeps their order.
  HRESULT writeOut(const InFlight& f) {
    HRESULT hr = f.hr;
    if (hr == AVIERR_OK && !f.packet.empty()) {
      hr = pending_.empty() ? AVIERR_INTERNAL
                            : source_->write(pending_.front(), 1, f.packet, f.isKey ? AVIIF_KEYFRAME : 0, nullptr,
                                             nullptr);
      if (hr == AVIERR_OK) pending_.pop_front();
    }
    if (hr != AVIERR_OK) overlapFailure_ = hr;
    return hr;
  }

  HRESULT compressAndWrite(LONG start, bool forceKey, LONG* samplesWritten, LONG* bytesWritten) {
    InFlight f;
    pending_.push_back(start);
    f.hr = encoder_->compress(forceKey, f.packet, f.isKey);
    if (f.hr != AVIERR_OK) {
      pending_.pop_back();  // this frame never made it to the encoder's output
      return f.hr;
    }
    const HRESULT hr = writeOut(f);
    if (hr == AVIERR_OK) {
      if (samplesWritten) *samplesWritten = 1;
      if (bytesWritten) *bytesWritten = LONG(f.packet.size());
    }
    return hr;
  }

  AviStream* source_;
  FOURCC fccHandler_ = comptypeDIB;
  EncoderOptions options_;
  std::unique_ptr<Encoder> encoder_;
  std::vector<std::uint8_t> input_;
  std::uint64_t rowBytes_ = 0;
  std::uint64_t frameBytes_ = 0;
  bool overlap_ = false;
  HRESULT overlapFailure_ = AVIERR_OK;
  std::future<InFlight> inFlight_;
  // Where the frames handed to the encoder and not yet written go, oldest
  // first (more than one while the encoder holds frames back).
  std::deque<LONG> pending_;
  std::unique_ptr<Worker> worker_;  // after inFlight_: joined before the future goes
};

}  // namespace

AviStream* newCompressingStream(AviStream* source, const AVICOMPRESSOPTIONS& options) {
  return new CompressingStream(source, options);
}

}  // namespace vfw::detail
