#include "platform/gdi/bmpfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "platform/fd.h"
#include "platform/path.h"

namespace gdi {

namespace {

[[noreturn]] void invalid(const char* why) { throw InvalidBitmap(why); }

// Little-endian field readers. Callers check the bounds first.
std::uint16_t rd16(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint16_t(b[off] | b[off + 1] << 8);
}
std::uint32_t rd32(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint32_t(b[off]) | std::uint32_t(b[off + 1]) << 8 | std::uint32_t(b[off + 2]) << 16 |
         std::uint32_t(b[off + 3]) << 24;
}

void wr16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void wr32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

constexpr std::array<DWORD, 3> kMasks555{0x7C00, 0x03E0, 0x001F};
constexpr std::array<DWORD, 3> kMasks565{0xF800, 0x07E0, 0x001F};
constexpr std::array<DWORD, 3> kMasks888{0xFF0000, 0x00FF00, 0x0000FF};

// Each mask must be one non-empty run of bits inside the pixel, and no two
// may share a bit; anything else has no sensible colour meaning.
bool masksValid(const std::array<DWORD, 3>& m, int bpp) {
  const std::uint64_t limit = bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
  DWORD seen = 0;
  for (DWORD mask : m) {
    if (mask == 0 || mask > limit || (mask & seen)) return false;
    const DWORD run = mask >> std::countr_zero(mask);
    if ((run & (run + 1)) != 0) return false;  // not contiguous
    seen |= mask;
  }
  return true;
}

// Expands RLE8 or RLE4 data into bottom-up rows of `stride` bytes. Runs,
// absolute blocks and deltas that would leave the row or the image make the
// file invalid rather than being clipped: such a file is damaged, and
// guessing at it would put wrong pixels into a video. The one exception is
// the row's padding: ImageMagick encodes it as pixels, so a run may reach to
// the end of the padded row, and what lies past the width is dropped.
void decodeRle(std::span<const std::uint8_t> data, bool rle4, std::int64_t width, std::int64_t height,
               std::int64_t stride, std::vector<std::uint8_t>& out) {
  const std::int64_t paddedWidth = stride * (rle4 ? 2 : 1);
  auto put = [&](std::int64_t x, std::int64_t y, unsigned v) {
    if (x >= width) return;
    std::uint8_t* row = out.data() + y * stride;
    if (!rle4) {
      row[x] = std::uint8_t(v);
    } else if (x % 2 == 0) {
      row[x / 2] = std::uint8_t((row[x / 2] & 0x0F) | (v & 0x0F) << 4);
    } else {
      row[x / 2] = std::uint8_t((row[x / 2] & 0xF0) | (v & 0x0F));
    }
  };
  std::size_t p = 0;
  std::int64_t x = 0, y = 0;
  const std::size_t n = data.size();
  for (;;) {
    if (p + 2 > n) {
      // Some writers stop after the last end-of-line without an end marker.
      if (y >= height) return;
      invalid("RLE data ends before the image is complete");
    }
    const unsigned count = data[p], value = data[p + 1];
    p += 2;
    if (count > 0) {
      if (y >= height) invalid("RLE run past the image");
      if (x + count > paddedWidth) invalid("RLE run past the end of the row");
      for (unsigned i = 0; i < count; ++i) {
        const unsigned v = rle4 ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value;
        put(x++, y, v);
      }
      continue;
    }
    switch (value) {
      case 0:  // end of line
        if (y >= height) invalid("RLE end of line past the image");
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return;
      case 2: {  // delta
        if (p + 2 > n) invalid("RLE delta cut short");
        x += data[p];
        y += data[p + 1];
        p += 2;
        if (x > width || y >= height) invalid("RLE delta past the image");
        break;
      }
      default: {  // absolute block of `value` pixels, padded to 16 bits
        const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
        const std::size_t padded = bytes + (bytes & 1);
        if (p + padded > n) invalid("RLE absolute block cut short");
        if (y >= height) invalid("RLE block past the image");
        if (x + value > paddedWidth) invalid("RLE block past the end of the row");
        for (unsigned i = 0; i < value; ++i) {
          const unsigned v = rle4 ? (i % 2 == 0 ? data[p + i / 2] >> 4 : data[p + i / 2] & 0x0F) : data[p + i];
          put(x++, y, v);
        }
        p += padded;
      }
    }
  }
}

}  // namespace

namespace {

// Decodes the file, or with `info` checks only its headers: `file` may then
// be its first bytes (kBmpProbeBytes hold every header, mask and colour
// table there is) and `n` is its whole size.
Bitmap decode(std::span<const std::uint8_t> file, std::int64_t n, BmpInfo* info) {
  if (n < 18) invalid("file shorter than the file header");
  if (file[0] != 'B' || file[1] != 'M') invalid("no BM signature");
  const std::int64_t offBits = rd32(file, 10);
  const std::int64_t hs = rd32(file, 14);
  if (hs != 12 && hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124) invalid("unsupported info header size");
  if (14 + hs > n) invalid("info header past the end of the file");

  const bool core = hs == 12;
  std::int64_t width, height;
  unsigned planes, bpp;
  DWORD compression = BI_RGB, clrUsed = 0, clrImportant = 0;
  LONG xPels = 0, yPels = 0;
  if (core) {
    width = rd16(file, 18);
    height = rd16(file, 20);
    planes = rd16(file, 22);
    bpp = rd16(file, 24);
  } else {
    width = std::int32_t(rd32(file, 18));
    height = std::int32_t(rd32(file, 22));
    planes = rd16(file, 26);
    bpp = rd16(file, 28);
    compression = rd32(file, 30);
    xPels = LONG(rd32(file, 38));
    yPels = LONG(rd32(file, 42));
    clrUsed = rd32(file, 46);
    clrImportant = rd32(file, 50);
  }
  if (planes != 1) invalid("planes not 1");
  const bool depthOk = core ? (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24)
                            : (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32);
  if (!depthOk) invalid("unsupported bit depth");
  if (width <= 0) invalid("width zero or negative");
  if (height == 0) invalid("height zero");
  const bool topDown = height < 0;
  const std::int64_t absHeight = topDown ? -height : height;  // 64 bits: INT32_MIN is safe here
  if (width > kMaxBmpDimension || absHeight > kMaxBmpDimension || width * absHeight > kMaxBmpPixels)
    invalid("dimensions too large");

  const bool rle = compression == BI_RLE8 || compression == BI_RLE4;
  switch (compression) {
    case BI_RGB: break;
    case BI_RLE8:
      if (bpp != 8) invalid("RLE8 needs 8 bits per pixel");
      break;
    case BI_RLE4:
      if (bpp != 4) invalid("RLE4 needs 4 bits per pixel");
      break;
    case BI_BITFIELDS:
      if (bpp != 16 && bpp != 32) invalid("bit fields need 16 or 32 bits per pixel");
      break;
    default: invalid("unsupported compression");
  }
  if (topDown && rle) invalid("a compressed bitmap cannot be top-down");

  // Colour masks: after a 40-byte header, inside the longer ones.
  std::int64_t tablesEnd = 14 + hs;
  std::array<DWORD, 3> masks{};
  if (compression == BI_BITFIELDS) {
    std::int64_t at = 14 + 40;
    if (hs == 40) {
      tablesEnd += 12;
      if (tablesEnd > n) invalid("colour masks past the end of the file");
    }
    for (int i = 0; i < 3; ++i) masks[std::size_t(i)] = rd32(file, std::size_t(at + 4 * i));
    if (!masksValid(masks, int(bpp))) invalid("colour masks invalid");
  } else if (bpp == 16) {
    masks = kMasks555;
  } else if (bpp == 24 || bpp == 32) {
    masks = kMasks888;
  }

  // Colour table: 2^bpp entries, or biClrUsed when it says fewer.
  std::int64_t entries = 0;
  if (bpp <= 8) {
    const std::int64_t full = std::int64_t(1) << bpp;
    if (clrUsed > full) invalid("colour table longer than the bit depth allows");
    entries = clrUsed ? clrUsed : full;
    const std::int64_t palEnd = tablesEnd + entries * (core ? 3 : 4);
    if (palEnd > n) invalid("colour table past the end of the file");
    if (palEnd > offBits) invalid("pixel data overlaps the colour table");
  } else {
    clrUsed = 0;  // a palette above 8 bits only tunes displays; it is ignored
    clrImportant = 0;
  }
  if (offBits < tablesEnd) invalid("pixel data overlaps the headers");

  const std::int64_t stride = rowBytes(width, int(bpp));
  const std::int64_t imageBytes = stride * absHeight;
  if (rle) {
    if (offBits >= n) invalid("no RLE data");
  } else if (offBits + imageBytes > n) {
    invalid("pixel data past the end of the file");
  }

  // Everything is checked; only now allocate.
  std::vector<RGBQUAD> palette;
  if (bpp <= 8) {
    palette.assign(std::size_t(1) << bpp, RGBQUAD{0, 0, 0, 0});
    const std::int64_t es = core ? 3 : 4;
    for (std::int64_t i = 0; i < entries; ++i) {
      const std::size_t at = std::size_t(tablesEnd + i * es);
      palette[std::size_t(i)] = RGBQUAD{file[at], file[at + 1], file[at + 2], 0};
    }
    if (clrImportant > DWORD(entries)) clrImportant = 0;
  }
  std::vector<std::uint8_t> bits;
  if (info) {
    // Only the headers are asked for.
  } else if (rle) {
    bits.assign(std::size_t(imageBytes), 0);  // skipped pixels take colour 0
    decodeRle(file.subspan(std::size_t(offBits)), compression == BI_RLE4, width, absHeight, stride, bits);
  } else {
    const auto* from = file.data() + offBits;
    bits.assign(from, from + imageBytes);
  }

  PixelFormat format = PixelFormat::Rgb32;
  switch (bpp) {
    case 1: format = PixelFormat::Indexed1; break;
    case 4: format = PixelFormat::Indexed4; break;
    case 8: format = PixelFormat::Indexed8; break;
    case 16:
      format = masks == kMasks555   ? PixelFormat::Rgb555
               : masks == kMasks565 ? PixelFormat::Rgb565
                                    : PixelFormat::Bitfields16;
      break;
    case 24: format = PixelFormat::Bgr24; break;
    default: format = masks == kMasks888 ? PixelFormat::Rgb32 : PixelFormat::Bitfields32;
  }

  BITMAPINFOHEADER h{};
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = LONG(width);
  h.biHeight = LONG(height);
  h.biPlanes = 1;
  h.biBitCount = WORD(bpp);
  h.biCompression = rle ? BI_RGB : compression;
  h.biSizeImage = 0;
  h.biXPelsPerMeter = xPels;
  h.biYPelsPerMeter = yPels;
  h.biClrUsed = clrUsed;
  h.biClrImportant = clrImportant;
  std::vector<std::uint8_t> header(sizeof h);
  std::memcpy(header.data(), &h, sizeof h);
  if (info) {
    info->width = int(width);
    info->height = int(absHeight);
    info->bitsPerPixel = int(bpp);
    info->header = std::move(header);
    info->palette = std::move(palette);
    info->masks = masks;
    return {};
  }
  return Bitmap::dibSection(std::move(header), format, int(width), int(absHeight), topDown, std::move(palette),
                            masks, std::move(bits));
}

}  // namespace

Bitmap decodeBmp(std::span<const std::uint8_t> file) { return decode(file, std::int64_t(file.size()), nullptr); }

namespace {

// What a file that is not a plain file is, for the message; empty for a
// plain file.
QString notAFile(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  if (S_ISFIFO(mode)) return QStringLiteral("a named pipe");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  return QStringLiteral("not a regular file");
}

using platform::Fd;

}  // namespace

namespace {

// Reads up to `limit` bytes of a BMP file (all of it for -1) and its size,
// with loadBmp's errors.
std::vector<std::uint8_t> readBmpFile(const QString& path, qint64 limit, qint64& size) {
  const auto fail = [&path](const QString& why) {
    return platform::EFOpenError(why.isEmpty() ? QStringLiteral("Cannot open file %1").arg(path)
                                               : QStringLiteral("Cannot open file %1: it is %2, not a bitmap file")
                                                     .arg(path, why));
  };
  // O_NONBLOCK: opening a named pipe must not wait for a writer. The type is
  // checked on the open descriptor, so nothing can swap the file in between.
  const QByteArray name = platform::encodePath(path);
  Fd fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) throw fail({});
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw fail({});
  if (const QString what = notAFile(st.st_mode); !what.isEmpty()) throw fail(what);
  size = st.st_size;
  if (size > kMaxBmpFileBytes) throw InvalidBitmap("file too large");
  const qint64 wanted = limit < 0 ? size : std::min(size, limit);
  std::vector<std::uint8_t> data(std::size_t(std::max<qint64>(wanted, 0)));
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t r = ::read(fd.get(), data.data() + got, data.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw fail({});
    if (r == 0) break;  // the file shrank under us; judge what we have
    got += std::size_t(r);
  }
  data.resize(got);
  if (limit < 0) size = qint64(got);
  return data;
}

}  // namespace

Bitmap loadBmp(const QString& path) {
  qint64 size = 0;
  return decodeBmp(readBmpFile(path, -1, size));
}

BmpInfo probeBmp(const QString& path) {
  qint64 size = 0;
  const std::vector<std::uint8_t> head = readBmpFile(path, kBmpProbeBytes, size);
  BmpInfo info;
  // A file that shrank under us is judged by what was read.
  (void)decode(head, head.size() < std::size_t(std::min<qint64>(size, kBmpProbeBytes)) ? qint64(head.size()) : size,
               &info);
  return info;
}

std::vector<std::uint8_t> encodeBmp(const Bitmap& bmp) {
  if (bmp.empty()) throw std::invalid_argument("no picture to write");
  const int bpp = bmp.bitsPerPixel();
  const PixelFormat f = bmp.format();
  const bool bitfields = f == PixelFormat::Rgb565 || f == PixelFormat::Bitfields16 || f == PixelFormat::Bitfields32;
  const std::array<DWORD, 3> masks = f == PixelFormat::Rgb565 ? kMasks565 : bmp.masks();
  const std::size_t entries = bpp <= 8 ? std::size_t(1) << bpp : 0;
  const std::uint64_t stride = std::uint64_t(bmp.stride());
  const std::uint64_t image = stride * std::uint64_t(bmp.height());
  const std::uint64_t offBits = 14 + 40 + (bitfields ? 12 : 0) + 4 * entries;
  if (offBits + image > std::numeric_limits<DWORD>::max()) throw std::length_error("bitmap too large for a BMP file");

  // Headers, masks and colour table first, in a fixed buffer big enough
  // for the largest (8 bits: 54 + 1024 bytes).
  std::array<std::uint8_t, 14 + 40 + 12 + 4 * 256> head{};
  std::uint8_t* p = head.data();
  p[0] = 'B';
  p[1] = 'M';
  wr32(p + 2, DWORD(offBits + image));
  wr32(p + 10, DWORD(offBits));
  wr32(p + 14, 40);
  wr32(p + 18, DWORD(bmp.width()));
  wr32(p + 22, DWORD(bmp.height()));  // bottom-up, the form every reader knows
  wr16(p + 26, 1);
  wr16(p + 28, WORD(bpp));
  wr32(p + 30, bitfields ? BI_BITFIELDS : BI_RGB);
  wr32(p + 34, DWORD(image));
  wr32(p + 46, DWORD(entries));
  std::uint8_t* q = p + 54;
  if (bitfields) {
    for (DWORD m : masks) {
      wr32(q, m);
      q += 4;
    }
  }
  const auto& pal = bmp.palette();
  for (std::size_t i = 0; i < entries; ++i, q += 4) {
    if (i < pal.size()) {
      q[0] = pal[i].rgbBlue;
      q[1] = pal[i].rgbGreen;
      q[2] = pal[i].rgbRed;
    }
  }
  std::vector<std::uint8_t> out(head.begin(), head.begin() + offBits);
  out.resize(std::size_t(offBits + image));
  for (int y = 0; y < bmp.height(); ++y) {
    std::uint8_t* row = out.data() + offBits + std::uint64_t(bmp.height() - 1 - y) * stride;
    std::memcpy(row, bmp.scanLine(y), stride);
    if (f == PixelFormat::Rgb32) {
      // The fourth byte is unused in BI_RGB; some readers take a non-zero
      // one for alpha, so it is written as 0.
      for (int x = 0; x < bmp.width(); ++x) row[4 * x + 3] = 0;
    }
  }
  return out;
}

void saveBmp(const Bitmap& bmp, const QString& path) {
  const auto fail = [&path] { return platform::EFCreateError(QStringLiteral("Cannot create file %1").arg(path)); };
  std::vector<std::uint8_t> data;
  try {
    data = encodeBmp(bmp);
  } catch (const std::exception&) {
    throw fail();
  }
  // Only a plain file is replaced. The temporary file renamed over a named
  // pipe or a device would put a plain file where that node was (under
  // /dev, for one run as root), and writing into one directly could block.
  struct stat st {};
  if (::stat(platform::encodePath(path).constData(), &st) == 0) {
    if (const QString what = notAFile(st.st_mode); !what.isEmpty())
      throw platform::EFCreateError(
          QStringLiteral("Cannot create file %1: it is %2, not a file a bitmap can be saved in").arg(path, what));
  }
  QSaveFile f(path);
  f.setDirectWriteFallback(false);
  if (!f.open(QIODevice::WriteOnly)) throw fail();
  if (f.write(reinterpret_cast<const char*>(data.data()), qint64(data.size())) != qint64(data.size())) {
    f.cancelWriting();
    throw fail();
  }
  if (!f.commit()) throw fail();
}

}  // namespace gdi
