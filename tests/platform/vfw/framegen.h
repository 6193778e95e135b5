#pragma once
// Test pictures for the compressors: screen-like content (smooth gradients,
// flat windows, sharp edges and some fine detail) that lossy encoders can
// reproduce at a sensible PSNR, and its packing into DIB rows of each depth.
#include <cstdint>
#include <vector>

#include "platform/gdi/wintypes.h"

namespace codectest {

// Top-down B G R A pixels, alpha 255; `seed` moves the content between frames.
std::vector<std::uint8_t> naturalPicture(int width, int height, int seed);

// A BITMAPINFOHEADER (plus colour table for 8 bits) for BI_RGB frames.
std::vector<std::uint8_t> dibHeader(int width, int height, int bitCount, bool topDown);

// The picture packed as DIB rows of that depth and orientation. For 16 bits
// it is quantised to 5-5-5, for 8 bits mapped to dibHeader's 3-3-2 palette.
std::vector<std::uint8_t> packDib(const std::vector<std::uint8_t>& bgra, int width, int height, int bitCount,
                                  bool topDown);

// What the picture looks like after the packing above (B G R A, top-down).
std::vector<std::uint8_t> quantised(const std::vector<std::uint8_t>& bgra, int bitCount);

// Only the colour channels of B G R A pixels, for comparisons that must not
// depend on what an encoder does with the unused fourth byte.
std::vector<std::uint8_t> colourOnly(const std::vector<std::uint8_t>& bgra);

}  // namespace codectest
