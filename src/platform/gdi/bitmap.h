#pragma once
// A bitmap as the program sees it: either a device-dependent bitmap in the
// display's pixel format (what a screen grab gives), or a DIB section loaded
// from a file that keeps its own header. Rows are kept as the source had
// them, each padded to a multiple of 32 bits.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/gdi/wintypes.h"

namespace gdi {

// Pixel formats of a device-dependent bitmap (the display's) and the
// uncompressed layouts a DIB section may have.
enum class PixelFormat {
  Indexed1,
  Indexed4,
  Indexed8,   // 8 bpp with a palette (a palettised display or an 8-bit file)
  Rgb555,     // 16 bpp, 5-5-5 (depth-15 display or BI_RGB 16-bit file)
  Rgb565,     // 16 bpp, 5-6-5 (depth-16 display)
  Bgr24,      // 24 bpp, files only
  Rgb32,      // 32 bpp, B G R x in memory (depth-24/32 display)
  Bitfields16,  // 16 bpp with the section's own masks
  Bitfields32,  // 32 bpp with the section's own masks
};

int bitsPerPixel(PixelFormat f);

// Bytes of one row of w pixels at bpp bits, padded to 32 bits.
constexpr std::int64_t rowBytes(std::int64_t w, int bpp) { return ((w * bpp + 31) & ~std::int64_t(31)) / 8; }

class Bitmap {
 public:
  Bitmap() = default;

  // A device-dependent bitmap, zero-filled, rows top-down.
  static Bitmap device(int width, int height, PixelFormat format);
  // The same for a caller that writes every pixel at once: not filled.
  static Bitmap deviceUncleared(int width, int height, PixelFormat format);
  // A device-dependent bitmap over memory it does not own (a screen grab's
  // shared-memory segment): `pixels` holds the rows top-down, packed as
  // stride() says, and stays valid as long as `keeper` lives, which every
  // copy of the bitmap holds on to.
  static Bitmap adopt(int width, int height, PixelFormat format, std::uint8_t* pixels,
                      std::shared_ptr<const void> keeper);

  // A DIB section: `header` is the file's own info header (biSize bytes,
  // at least 40; an OS/2 core header is converted to 40 bytes before),
  // `bits` the uncompressed rows in the order the header's height says.
  static Bitmap dibSection(std::vector<std::uint8_t> header, PixelFormat format, int width, int height,
                           bool topDown, std::vector<RGBQUAD> palette, std::array<DWORD, 3> masks,
                           std::vector<std::uint8_t> bits);

  bool empty() const { return !d_; }
  int width() const { return d_ ? d_->width : 0; }
  int height() const { return d_ ? d_->height : 0; }  // always positive
  PixelFormat format() const { return d_ ? d_->format : PixelFormat::Rgb32; }
  int bitsPerPixel() const { return d_ ? gdi::bitsPerPixel(d_->format) : 0; }
  int planes() const { return 1; }
  std::int64_t stride() const { return d_ ? rowBytes(d_->width, bitsPerPixel()) : 0; }
  bool topDown() const { return d_ ? d_->topDown : true; }
  bool isDibSection() const { return d_ && !d_->dibHeader.empty(); }
  const std::vector<std::uint8_t>& dibHeader() const { return d_->dibHeader; }

  // Row y counted from the top of the picture, whatever the storage order.
  std::uint8_t* scanLine(int y);
  const std::uint8_t* scanLine(int y) const;
  std::span<std::uint8_t> bits() { return d_ ? std::span<std::uint8_t>(d_->pixels, d_->size) : std::span<std::uint8_t>(); }
  std::span<const std::uint8_t> bits() const {
    return d_ ? std::span<const std::uint8_t>(d_->pixels, d_->size) : std::span<const std::uint8_t>();
  }

  std::vector<RGBQUAD>& palette() { return d_->palette; }
  const std::vector<RGBQUAD>& palette() const { return d_->palette; }
  const std::array<DWORD, 3>& masks() const { return d_->masks; }

  // Bitmaps share their pixels when copied, as the framework's picture
  // objects do; detach() makes this one's pixels its own (adopted memory
  // included).
  void detach();

 private:
  struct Data {
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::Rgb32;
    bool topDown = true;
    std::vector<std::uint8_t> dibHeader;
    std::vector<RGBQUAD> palette;
    std::array<DWORD, 3> masks{};
    std::vector<std::uint8_t> bits;  // the pixels, unless adopted
    std::uint8_t* pixels = nullptr;  // bits.data() or the adopted memory
    std::size_t size = 0;
    std::shared_ptr<const void> keeper;  // keeps adopted memory alive
    void own() {
      pixels = bits.data();
      size = bits.size();
    }
  };
  static Bitmap make(int width, int height, PixelFormat format);
  std::shared_ptr<Data> d_;
};

}  // namespace gdi
