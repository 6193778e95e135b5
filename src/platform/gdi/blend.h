#pragma once
// Lays a picture with an alpha channel over a device bitmap, as AlphaBlend
// does with a source whose colours are premultiplied by their alpha.
#include <cstdint>
#include <span>

#include "platform/gdi/bitmap.h"

namespace gdi {

// `argb` holds w x h pixels, rows top-down, each 0xAARRGGBB with the colour
// already multiplied by its alpha (what the X server hands out for the
// pointer). Its top-left lands on (x, y) of `dest`, which may lie partly or
// wholly outside; only the overlap is drawn. Device bitmaps of 32 bits
// (BGRx) and of 16 bits (5-6-5, 5-5-5) are drawn into; false, and nothing
// drawn, for any other format or an `argb` shorter than w x h.
bool AlphaBlendPremultiplied(Bitmap& dest, int x, int y, int w, int h, std::span<const std::uint32_t> argb);

}  // namespace gdi
