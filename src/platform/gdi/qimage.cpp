#include "platform/gdi/qimage.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace gdi {

namespace {

// An 8-bit picture's colours as Qt's table, unused indices black.
QList<QRgb> colourTable(const Bitmap& bmp) {
  QList<QRgb> table;
  for (const RGBQUAD& q : bmp.palette()) table << qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
  while (table.size() < 256) table << qRgb(0, 0, 0);
  return table;
}

}  // namespace

// Qt's format for bitmaps whose pixels are whole bytes laid out as Qt lays
// them out, and the bytes per pixel; Format_Invalid for the others.
static QImage::Format byteFormat(PixelFormat p, int& bytesPerPixel) {
  switch (p) {
    case PixelFormat::Rgb32: bytesPerPixel = 4; return QImage::Format_RGB32;
    case PixelFormat::Rgb565: bytesPerPixel = 2; return QImage::Format_RGB16;
    case PixelFormat::Rgb555: bytesPerPixel = 2; return QImage::Format_RGB555;
    case PixelFormat::Indexed8: bytesPerPixel = 1; return QImage::Format_Indexed8;
    case PixelFormat::Bgr24: bytesPerPixel = 3; return QImage::Format_BGR888;
    default: bytesPerPixel = 0; return QImage::Format_Invalid;
  }
}

// Rows of r (inside the bitmap) copied into an image of a byte format.
static QImage copyRows(const Bitmap& bmp, const QRect& r, QImage::Format f, int bytesPerPixel) {
  QImage out(r.width(), r.height(), f);
  const auto offset = std::size_t(r.left()) * std::size_t(bytesPerPixel);
  const auto rowBytes = std::size_t(r.width()) * std::size_t(bytesPerPixel);
  for (int y = 0; y < r.height(); ++y) std::memcpy(out.scanLine(y), bmp.scanLine(r.top() + y) + offset, rowBytes);
  if (f == QImage::Format_Indexed8) out.setColorTable(colourTable(bmp));
  return out;
}

QImage toQImage(const Bitmap& bmp) {
  if (bmp.empty()) return {};
  int bytesPerPixel = 0;
  const QImage::Format f = byteFormat(bmp.format(), bytesPerPixel);
  if (f != QImage::Format_Invalid) return copyRows(bmp, QRect(0, 0, bmp.width(), bmp.height()), f, bytesPerPixel);
  // 1 and 4 bpp and bit-field layouts: expand pixel by pixel.
  QImage out(bmp.width(), bmp.height(), QImage::Format_RGB32);
  const auto& pal = bmp.palette();
  const auto masks = bmp.masks();
  auto chan = [](std::uint32_t v, std::uint32_t mask) -> int {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const std::uint32_t max = mask >> shift;
    return int(((v & mask) >> shift) * 255 / max);
  };
  for (int y = 0; y < bmp.height(); ++y) {
    const std::uint8_t* s = bmp.scanLine(y);
    auto* d = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < bmp.width(); ++x) {
      switch (bmp.format()) {
        case PixelFormat::Indexed1:
        case PixelFormat::Indexed4: {
          const int bpp = bmp.bitsPerPixel();
          const int bit = x * bpp;
          const int idx = (s[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
          const RGBQUAD q = idx < int(pal.size()) ? pal[size_t(idx)] : RGBQUAD{0, 0, 0, 0};
          d[x] = qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
          break;
        }
        case PixelFormat::Bitfields16: {
          const std::uint32_t v = std::uint32_t(s[2 * x]) | std::uint32_t(s[2 * x + 1]) << 8;
          d[x] = qRgb(chan(v, masks[0]), chan(v, masks[1]), chan(v, masks[2]));
          break;
        }
        default: {
          std::uint32_t v;
          std::memcpy(&v, s + 4 * x, 4);
          d[x] = qRgb(chan(v, masks[0]), chan(v, masks[1]), chan(v, masks[2]));
        }
      }
    }
  }
  return out;
}

QImage viewOf(const Bitmap& bmp) {
  if (bmp.empty()) return {};
  int bytesPerPixel = 0;
  const QImage::Format f = byteFormat(bmp.format(), bytesPerPixel);
  if (f == QImage::Format_Invalid || !bmp.topDown() || bmp.stride() > std::numeric_limits<qsizetype>::max())
    return toQImage(bmp);
  QImage view(bmp.scanLine(0), bmp.width(), bmp.height(), qsizetype(bmp.stride()), f);
  if (f == QImage::Format_Indexed8) view.setColorTable(colourTable(bmp));
  return view;
}

QImage toQImage(const Bitmap& bmp, const QRect& part) {
  const QRect r = part.intersected(QRect(0, 0, bmp.width(), bmp.height()));
  if (r.isEmpty()) return {};
  if (r == QRect(0, 0, bmp.width(), bmp.height())) return toQImage(bmp);
  int bytesPerPixel = 0;
  const QImage::Format f = byteFormat(bmp.format(), bytesPerPixel);
  // Packed bits and bit-field layouts are rare and small: convert whole.
  if (f == QImage::Format_Invalid) return toQImage(bmp).copy(r);
  return copyRows(bmp, r, f, bytesPerPixel);
}

}  // namespace gdi
