#pragma once
// One PipeWire video buffer read into a frame: which buffers hold no
// picture, the crop a producer asks for, and buffers that must be mapped
// here (a DMA-BUF).
#include <cstdint>

#include "platform/gdi/bitmap.h"
#include "platform/window/windows.h"

struct spa_buffer;

namespace wnd {

struct StreamCursor;
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

// Takes the pointer's place, and its picture when the buffer brings one,
// from b's cursor metadata into `cursor`. A metadata whose id is 0 hides
// the pointer; one whose picture does not fit inside it keeps the picture
// before. False when b carries no cursor metadata.
bool readCursorMeta(const spa_buffer& b, StreamCursor& cursor);

// Lays the stream's pointer on `bmp`, the copy of screen rectangle `r`,
// when the frame (frameWidth x frameHeight) covers the screen's `area`
// (x, y, width, height in screen pixels): placed and sized as the frame is
// mapped onto the screen, each pixel the picture's nearest.
void drawStreamCursor(gdi::Bitmap& bmp, const RECT& r, const RECT& area, int frameWidth, int frameHeight,
                      const StreamCursor& cursor);

// Byte positions of blue, green and red in one pixel of a format
// PipeWireStream accepts; false for any other.
bool channelOrder(std::uint32_t spaFormat, int& b, int& g, int& r);

}  // namespace wnd
