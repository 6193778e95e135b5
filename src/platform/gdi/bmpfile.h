#pragma once
// Reading and writing Windows bitmap (.bmp) files.
//
// Loading gives a DIB section that keeps its own header, so a packed frame
// made from it copies that header. The kept header is always a 40-byte
// BITMAPINFOHEADER, whatever the file had:
//   - an OS/2 core header (12 bytes) is widened to it;
//   - a V4/V5 header (108/124 bytes) is cut to its first 40 bytes, which
//     are the same fields; the colour-space and profile fields mean nothing
//     to a video stream, and the bit-field masks live in Bitmap::masks();
//   - RLE files are decoded into uncompressed rows, so the kept header says
//     BI_RGB;
//   - biSizeImage is 0, so the frame size is computed from the rows and
//     never taken from a field the file may have wrong;
//   - biClrUsed is 0 above 8 bits (a palette there only tunes displays).
// Palettised bitmaps always get 2^bpp palette entries (unused ones black),
// so any pixel value indexes a real entry.
//
// Loading is hardened against hostile files: every header field, offset and
// size is checked before anything is allocated, sizes are computed in 64
// bits, and RLE data may not run past a row or the image.
#include <QString>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/gdi/bitmap.h"

namespace gdi {

// Largest width or height accepted, and the largest number of pixels (8192 x
// 8192 and the like): far beyond any screen, small enough that a 60-byte RLE
// file cannot make us allocate gigabytes.
constexpr std::int64_t kMaxBmpDimension = 32767;
constexpr std::int64_t kMaxBmpPixels = std::int64_t(1) << 26;
// Files above this size are not read into memory at all.
constexpr std::int64_t kMaxBmpFileBytes = std::int64_t(1) << 30;

// "Bitmap image is not valid", plus the reason for tests and debugging.
class InvalidBitmap : public platform::EInvalidGraphic {
 public:
  explicit InvalidBitmap(std::string reason)
      : platform::EInvalidGraphic(QStringLiteral("Bitmap image is not valid")), reason_(std::move(reason)) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// Decodes a whole BMP file held in memory. Throws InvalidBitmap.
Bitmap decodeBmp(std::span<const std::uint8_t> file);

// Reads a BMP file: platform::EFOpenError "Cannot open file %s" when it cannot
// be opened or read, "Cannot open file %s: it is a named pipe, not a bitmap
// file" (a folder, a device, a socket) without waiting or reading when it is
// not a regular file, InvalidBitmap when its contents are not a valid bitmap.
Bitmap loadBmp(const QString& path);

// The file bytes of a bitmap, bottom-up, at its own size and depth: 32-bit
// and 24-bit BI_RGB, 16-bit 5-5-5 BI_RGB, 16-bit 5-6-5 (and any other
// masks) BI_BITFIELDS with the three masks after the header, 1/4/8-bit with
// the full colour table.
std::vector<std::uint8_t> encodeBmp(const Bitmap& bmp);

// What a bitmap file holds, read from its headers alone: what loadBmp's
// bitmap would have but the pixels. The files' sizes are checked, RLE data
// is not decoded.
struct BmpInfo {
  int width = 0;
  int height = 0;  // always positive
  int bitsPerPixel = 0;
  std::vector<std::uint8_t> header;  // the 40-byte info header loadBmp's bitmap keeps
  std::vector<RGBQUAD> palette;      // 2^bpp entries up to 8 bits, none above
  std::array<DWORD, 3> masks{};
};
// Every header, mask and colour table of a BMP file lies in its first
// this many bytes.
constexpr std::int64_t kBmpProbeBytes = 14 + 124 + 12 + 4 * 256;
// loadBmp's checks and errors without reading the pixels.
BmpInfo probeBmp(const QString& path);

// Writes encodeBmp(bmp) to path, replacing an existing file. The bytes go to
// a temporary file beside it that is renamed over the target only when all
// were written, so a failure leaves no half file and the old file intact.
// Throws platform::EFCreateError "Cannot create file %s" with the name given;
// a name that is a named pipe, a device, a folder or a socket is left alone
// and refused with "Cannot create file %s: it is a device, not a file a
// bitmap can be saved in" (and the like).
void saveBmp(const Bitmap& bmp, const QString& path);

}  // namespace gdi
