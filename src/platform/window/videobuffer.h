#pragma once
// One PipeWire video buffer read into a frame: which buffers hold no
// picture, the crop a producer asks for, and buffers that must be mapped
// here (a DMA-BUF).
#include <cstdint>

struct spa_buffer;

namespace wnd {

struct StreamFrame;

enum class BufferRead {
  Frame,       // `out` holds the buffer's picture
  NoPicture,   // nothing to show (only a cursor update, empty, or marked corrupted): keep the frame before
  Unreadable,  // a picture that cannot be mapped or is shorter than its size says
};

// Reads `b`, of the negotiated `spaFormat` (one of the 4-byte formats
// PipeWireStream asks for) and size, into `out` as B G R x rows, cropped to
// the buffer's crop region when it carries a valid one. `kind` is set to
// "memfd", "shared memory" or "dma-buf" on success. `out.sequence` is left
// alone.
BufferRead readVideoBuffer(const spa_buffer& b, std::uint32_t spaFormat, int width, int height, StreamFrame& out,
                           const char*& kind);

// Byte positions of blue, green and red in one pixel of a format
// PipeWireStream accepts; false for any other.
bool channelOrder(std::uint32_t spaFormat, int& b, int& g, int& r);

}  // namespace wnd
