#pragma once
// Reading a bitmap as device-independent bits, with the platform's rules:
// rows padded to 32 bits, bottom row first for a positive height and top
// row first for a negative one, a colour table of RGB values after the
// header for 8 bits and less, 16-bit pixels as 5-5-5 unless masks are asked
// for, and biClrUsed 0 / biSizeImage recomputed afterwards.
#include <cstdint>
#include <span>

#include "platform/gdi/bitmap.h"
#include "platform/gdi/wintypes.h"

namespace gdi {

// `info` holds a BITMAPINFOHEADER (its first six fields set by the caller)
// and room for what follows it: 4 x 2^bpp bytes of colour table for 8 bits
// and less, 12 bytes of masks for BI_BITFIELDS. `bits` receives `lines`
// rows starting at row `start` counted in the order of the header's height.
// With `bits` empty and biBitCount 0 only the header is filled in (query).
// Returns the number of rows copied (non-zero in a successful query), 0 on
// failure: an empty bitmap, a format it cannot produce, buffers too small.
int GetDIBits(const Bitmap& bmp, unsigned start, unsigned lines, std::span<std::uint8_t> bits,
              std::span<std::uint8_t> info, unsigned usage);

}  // namespace gdi
