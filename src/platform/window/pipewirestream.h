#pragma once
// One PipeWire video stream received on a thread of its own; the newest
// frame is kept, converted to B G R x, for the grabs to crop from.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wnd {

// The pointer as the stream's cursor metadata last described it (a
// stream started for it: the portal's metadata cursor mode).
struct StreamCursor {
  bool visible = false;
  int x = 0, y = 0;        // the hot spot's place on the frame, frame pixels
  int hotX = 0, hotY = 0;  // the hot spot within the picture
  int width = 0, height = 0;
  std::vector<std::uint32_t> argb;  // 0xAARRGGBB premultiplied, rows top-down
};

// A frame as it came, in B G R x bytes, rows of width * 4 bytes.
struct StreamFrame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  std::uint64_t sequence = 0;  // 1 for the first frame, counting up
  StreamCursor cursor;
};

class PipeWireStream {
 public:
  // Connects to the PipeWire daemon through `fd` (taken over, closed in
  // any case) and to the node `node` (a screen cast's stream); with
  // `cursorMeta` the pointer's metadata is asked for with the frames.
  // Throws wnd::Error with a message when PipeWire cannot be reached.
  PipeWireStream(int fd, std::uint32_t node, bool cursorMeta = false);
  ~PipeWireStream();
  PipeWireStream(const PipeWireStream&) = delete;
  PipeWireStream& operator=(const PipeWireStream&) = delete;

  // Waits at most `timeout` for a frame later than `after`; false when
  // none came (or the stream ended).
  bool waitFrame(std::chrono::milliseconds timeout, std::uint64_t after = 0) const;

  // The newest frame (sequence 0 while none came). The copy shares
  // nothing with the stream.
  StreamFrame frame() const;
  // Calls f(const StreamFrame&) on the newest frame without copying it;
  // frames that arrive meanwhile wait.
  template <class F>
  void withFrame(F&& f) const;

  // Empty while the stream runs; otherwise why it ended, in plain words.
  std::string ended() const;

  // The kind of buffer the last frame came in: "memfd", "shared memory"
  // or "dma-buf" (empty before the first frame).
  std::string bufferKind() const;

  // Marks the stream as ended with that reason (the portal's session
  // closed); grabs then fail with it.
  void end(const std::string& why);

  struct Impl;  // what PipeWire's callbacks reach

 private:
  std::unique_ptr<Impl> d_;
  void lockFrame() const;
  void unlockFrame() const;
  const StreamFrame& current() const;
};

template <class F>
void PipeWireStream::withFrame(F&& f) const {
  lockFrame();
  try {
    f(current());
  } catch (...) {
    unlockFrame();
    throw;
  }
  unlockFrame();
}

}  // namespace wnd
