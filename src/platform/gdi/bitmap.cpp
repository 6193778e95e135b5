#include "platform/gdi/bitmap.h"

#include <stdexcept>

namespace gdi {

int bitsPerPixel(PixelFormat f) {
  switch (f) {
    case PixelFormat::Indexed1: return 1;
    case PixelFormat::Indexed4: return 4;
    case PixelFormat::Indexed8: return 8;
    case PixelFormat::Rgb555:
    case PixelFormat::Rgb565:
    case PixelFormat::Bitfields16: return 16;
    case PixelFormat::Bgr24: return 24;
    case PixelFormat::Rgb32:
    case PixelFormat::Bitfields32: return 32;
  }
  return 32;
}

Bitmap Bitmap::make(int width, int height, PixelFormat format) {
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
    throw std::invalid_argument("bitmap size out of range");
  Bitmap b;
  b.d_ = std::make_shared<Data>();
  b.d_->width = width;
  b.d_->height = height;
  b.d_->format = format;
  b.d_->topDown = true;
  if (format == PixelFormat::Indexed8) b.d_->palette.assign(256, RGBQUAD{0, 0, 0, 0});
  return b;
}

Bitmap Bitmap::device(int width, int height, PixelFormat format) {
  Bitmap b = make(width, height, format);
  b.d_->bits.assign(static_cast<size_t>(rowBytes(width, gdi::bitsPerPixel(format)) * height), 0);
  b.d_->own();
  return b;
}

Bitmap Bitmap::deviceUncleared(int width, int height, PixelFormat format) {
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
    throw std::invalid_argument("bitmap size out of range");
  // new[] of bytes leaves them as they come: 8 MB (a 1080p frame) touched
  // once by its writer instead of twice.
  const auto n = static_cast<size_t>(rowBytes(width, gdi::bitsPerPixel(format)) * height);
  std::shared_ptr<std::uint8_t[]> memory(new std::uint8_t[n]);
  std::uint8_t* pixels = memory.get();
  return adopt(width, height, format, pixels, std::move(memory));
}

Bitmap Bitmap::adopt(int width, int height, PixelFormat format, std::uint8_t* pixels,
                     std::shared_ptr<const void> keeper) {
  if (!pixels || !keeper) throw std::invalid_argument("adopted bitmap without memory");
  Bitmap b = make(width, height, format);
  b.d_->pixels = pixels;
  b.d_->size = static_cast<size_t>(rowBytes(width, gdi::bitsPerPixel(format)) * height);
  b.d_->keeper = std::move(keeper);
  return b;
}

Bitmap Bitmap::dibSection(std::vector<std::uint8_t> header, PixelFormat format, int width, int height, bool topDown,
                          std::vector<RGBQUAD> palette, std::array<DWORD, 3> masks, std::vector<std::uint8_t> bits) {
  if (header.size() < sizeof(BITMAPINFOHEADER)) throw std::invalid_argument("DIB header shorter than 40 bytes");
  if (width <= 0 || height <= 0) throw std::invalid_argument("bitmap size out of range");
  if (bits.size() < static_cast<size_t>(rowBytes(width, gdi::bitsPerPixel(format)) * height))
    throw std::invalid_argument("DIB pixel data too short");
  Bitmap b;
  b.d_ = std::make_shared<Data>();
  b.d_->width = width;
  b.d_->height = height;
  b.d_->format = format;
  b.d_->topDown = topDown;
  b.d_->dibHeader = std::move(header);
  b.d_->palette = std::move(palette);
  b.d_->masks = masks;
  b.d_->bits = std::move(bits);
  b.d_->own();
  return b;
}

std::uint8_t* Bitmap::scanLine(int y) {
  const int row = d_->topDown ? y : d_->height - 1 - y;
  return d_->pixels + stride() * row;
}

const std::uint8_t* Bitmap::scanLine(int y) const {
  const int row = d_->topDown ? y : d_->height - 1 - y;
  return d_->pixels + stride() * row;
}

void Bitmap::detach() {
  if (!d_ || (d_.use_count() == 1 && !d_->keeper)) return;
  auto own = std::make_shared<Data>(*d_);
  own->bits.assign(d_->pixels, d_->pixels + d_->size);
  own->keeper.reset();
  own->own();
  d_ = std::move(own);
}

}  // namespace gdi
