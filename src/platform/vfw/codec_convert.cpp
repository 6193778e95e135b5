// Input-format checks and pixel conversion for the compressors.
//
// Conversion is where a compressing writer spends its time at screen sizes,
// so the common case (32-bit screen rows into the planar YUV or packed RGB
// that an encoder wants) goes through libyuv, which measured faster than
// swscale on this machine (see bench/RESULTS.md); every other pair of
// formats goes through swscale's unscaled converters. Bottom-up rows are
// flipped during the conversion itself (negative height for libyuv,
// negative strides for swscale), never in a separate pass.
#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/vfw/codec_internal.h"

#if __has_include(<libyuv.h>) && defined(KESTREL_HAVE_LIBYUV)
#include <libyuv.h>
#define KESTREL_USE_LIBYUV 1
#else
#define KESTREL_USE_LIBYUV 0
#endif

namespace vfw::detail {

namespace {

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint32_t(b[off]) | std::uint32_t(b[off + 1]) << 8 | std::uint32_t(b[off + 2]) << 16 |
         std::uint32_t(b[off + 3]) << 24;
}
std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t off) {
  return std::uint16_t(b[off] | b[off + 1] << 8);
}

#if KESTREL_USE_LIBYUV
void prefetchRow(const std::uint8_t* row, std::size_t bytes) {
  for (std::size_t x = 0; x < bytes; x += 64) __builtin_prefetch(row + x);
}

// Converts 32-bit rows two at a time (a pair keeps 4:2:0 chroma whole),
// asking for the next pair while this one is converted: the rows of a grab
// the X server has just written come in slowly when read in one pass from
// the bottom up.
template <typename Fn>
bool inRowPairs(const std::uint8_t* top, int stride, int w, int h, Fn convertRows) {
  const std::size_t rowBytes = std::size_t(w) * 4;
  for (int y = 0; y < h; y += 2) {
    for (int r = y + 2; r < std::min(y + 4, h); ++r) prefetchRow(top + std::ptrdiff_t(r) * stride, rowBytes);
    if (!convertRows(top + std::ptrdiff_t(y) * stride, y, std::min(2, h - y))) return false;
  }
  return true;
}
#endif

}  // namespace

std::optional<InputFormat> parseInputFormat(std::span<const std::uint8_t> f) {
  if (f.size() < sizeof(BITMAPINFOHEADER)) return std::nullopt;
  const std::uint32_t biSize = le32(f, 0);
  if (biSize < 40 || biSize > f.size()) return std::nullopt;
  const auto width = static_cast<std::int32_t>(le32(f, 4));
  const auto height = static_cast<std::int32_t>(le32(f, 8));
  const std::uint16_t planes = le16(f, 12);
  const std::uint16_t bitCount = le16(f, 14);
  const std::uint32_t compression = le32(f, 16);
  const std::uint32_t clrUsed = le32(f, 32);
  if (width <= 0 || width > kMaxDimension || height == 0 || height < -kMaxDimension || height > kMaxDimension)
    return std::nullopt;
  if (planes != 1) return std::nullopt;

  InputFormat in;
  in.width = width;
  in.height = height < 0 ? -height : height;
  in.bottomUp = height > 0;
  in.bitCount = bitCount;
  in.stride = static_cast<std::size_t>(gdi::rowBytes(width, bitCount));
  in.imageBytes = in.stride * static_cast<std::size_t>(in.height);

  if (compression == gdi::BI_RGB) {
    switch (bitCount) {
      case 32: in.pixFmt = AV_PIX_FMT_BGR0; break;
      case 24: in.pixFmt = AV_PIX_FMT_BGR24; break;
      case 16: in.pixFmt = AV_PIX_FMT_RGB555LE; break;
      case 8: {
        const std::uint32_t entries = clrUsed == 0 ? 256 : clrUsed;
        if (entries > 256 || biSize + 4 * std::size_t(entries) > f.size()) return std::nullopt;
        in.pixFmt = AV_PIX_FMT_PAL8;
        in.paletteEntries = static_cast<int>(entries);
        for (std::uint32_t i = 0; i < entries; ++i) in.palette[i] = le32(f, biSize + 4 * i) | 0xFF000000u;
        // Indices past the table show black rather than reading garbage.
        for (std::uint32_t i = entries; i < 256; ++i) in.palette[i] = 0xFF000000u;
        break;
      }
      default: return std::nullopt;
    }
    return in;
  }
  if (compression == gdi::BI_BITFIELDS && (bitCount == 16 || bitCount == 32)) {
    // A V4/V5 header holds the masks itself; a 40-byte one is followed by them.
    const std::size_t maskOff = 40;
    if (maskOff + 12 > f.size()) return std::nullopt;
    const std::uint32_t r = le32(f, maskOff), g = le32(f, maskOff + 4), b = le32(f, maskOff + 8);
    in.bitfields = true;
    if (bitCount == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF) in.pixFmt = AV_PIX_FMT_BGR0;
    else if (bitCount == 16 && r == 0x7C00 && g == 0x3E0 && b == 0x1F) in.pixFmt = AV_PIX_FMT_RGB555LE;
    else if (bitCount == 16 && r == 0xF800 && g == 0x7E0 && b == 0x1F) in.pixFmt = AV_PIX_FMT_RGB565LE;
    else return std::nullopt;  // unusual masks: no converter knows them
    return in;
  }
  return std::nullopt;  // RLE and already compressed inputs are not frames we can take
}

Converter::Converter(const InputFormat& in, AVPixelFormat out, Backend backend) : in_(in), out_(out) {
  const bool yuv = KESTREL_USE_LIBYUV && backend == Backend::Auto;
  if (in.pixFmt == out) path_ = Path::Copy;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR0 && out == AV_PIX_FMT_YUV420P) path_ = Path::Yuv420;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR0 && out == AV_PIX_FMT_YUVJ420P) path_ = Path::J420;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR0 && out == AV_PIX_FMT_RGB24) path_ = Path::Raw24;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR0 && out == AV_PIX_FMT_GBRP) path_ = Path::Gbrp;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR24 && out == AV_PIX_FMT_BGR0) path_ = Path::Rgb24ToBgr0;
  // 24-bit rows are what bitmap files hold, so the builder lives on these.
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR24 && out == AV_PIX_FMT_YUV420P) path_ = Path::Rgb24ToYuv420;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR24 && out == AV_PIX_FMT_YUVJ420P) path_ = Path::Rgb24ToJ420;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR24 && out == AV_PIX_FMT_GBRP) path_ = Path::Rgb24ToGbrp;
  else if (yuv && in.pixFmt == AV_PIX_FMT_BGR24 && out == AV_PIX_FMT_RGB24) path_ = Path::Rgb24Swap;
  // swscale turns a palette into YUV before anything else, so even planar or
  // packed RGB out of it is not the palette's colours; a lookup is exact.
  else if (in.pixFmt == AV_PIX_FMT_PAL8) path_ = Path::Palette;
  else path_ = Path::Sws;
  if (path_ == Path::Palette) {
    InputFormat rgb;
    rgb.width = in.width;
    rgb.height = in.height;
    rgb.bottomUp = false;
    rgb.bitCount = 32;
    rgb.pixFmt = AV_PIX_FMT_BGR0;
    rgb.stride = std::size_t(in.width) * 4;
    rgb.imageBytes = rgb.stride * std::size_t(in.height);
    expandedRows_.resize(std::size_t(in.width) * std::size_t(in.height));
    expanded_ = std::make_unique<Converter>(rgb, out, backend);
    ok_ = expanded_->ok();
  } else if (path_ == Path::Sws) {
    sws_ = sws_getContext(in.width, in.height, in.pixFmt, in.width, in.height, out, SWS_POINT, nullptr, nullptr,
                          nullptr);
    ok_ = sws_ != nullptr;
  } else {
    ok_ = true;
  }
}

Converter::~Converter() { sws_freeContext(sws_); }

FrameRows packedRows(const InputFormat& in, const std::uint8_t* bits) {
  const auto stride = std::ptrdiff_t(in.stride);
  // Top row first, whatever the storage order.
  return in.bottomUp ? FrameRows{bits + (in.imageBytes - in.stride), -stride} : FrameRows{bits, stride};
}

bool Converter::convert(const std::uint8_t* bits, AVFrame* dst) { return convert(packedRows(in_, bits), dst); }

bool Converter::convert(FrameRows rows, AVFrame* dst) {
  if (!ok_ || !rows.top || rows.stride > INT_MAX || rows.stride < -INT_MAX) return false;
  const int w = in_.width;
  const int h = in_.height;
  const std::uint8_t* top = rows.top;
  const int topStride = int(rows.stride);
#if KESTREL_USE_LIBYUV
  // libyuv walks rows from the pointer it is given by the stride it is
  // given, a negative one included.
  const std::uint8_t* bits = top;
  const int stride = topStride;
  const int yuvHeight = h;
#endif
#if KESTREL_USE_LIBYUV
  // ARGBToI420 and ARGBToJ420 take the same arguments.
  const auto to420 = [&](auto convert420) {
    return inRowPairs(bits, stride, w, yuvHeight, [&](const std::uint8_t* pair, int y, int n) {
      const auto at = [&](int plane, int row) { return dst->data[plane] + std::ptrdiff_t(row) * dst->linesize[plane]; };
      return convert420(pair, stride, at(0, y), dst->linesize[0], at(1, y / 2), dst->linesize[1], at(2, y / 2),
                        dst->linesize[2], w, n) == 0;
    });
  };
#endif
  switch (path_) {
    case Path::Copy: {
      const std::uint8_t* src[4] = {top, nullptr, nullptr, nullptr};
      const int srcStride[4] = {topStride, 0, 0, 0};
      av_image_copy_plane(dst->data[0], dst->linesize[0], src[0], srcStride[0],
                          av_image_get_linesize(out_, w, 0), h);
      if (out_ == AV_PIX_FMT_PAL8) std::memcpy(dst->data[1], in_.palette.data(), 256 * 4);
      return true;
    }
#if KESTREL_USE_LIBYUV
    case Path::Yuv420:
      return to420(libyuv::ARGBToI420);
    case Path::J420:
      return to420(libyuv::ARGBToJ420);
    case Path::Raw24:
      return inRowPairs(bits, stride, w, yuvHeight, [&](const std::uint8_t* pair, int y, int n) {
        return libyuv::ARGBToRAW(pair, stride, dst->data[0] + std::ptrdiff_t(y) * dst->linesize[0],
                                 dst->linesize[0], w, n) == 0;
      });
    case Path::Gbrp:
      // ffmpeg's planar RGB keeps G, B, R in planes 0, 1, 2.
      return inRowPairs(bits, stride, w, yuvHeight, [&](const std::uint8_t* pair, int y, int n) {
        const auto at = [&](int plane) { return dst->data[plane] + std::ptrdiff_t(y) * dst->linesize[plane]; };
        libyuv::SplitARGBPlane(pair, stride, at(2), dst->linesize[2], at(0), dst->linesize[0], at(1),
                               dst->linesize[1], nullptr, 0, w, n);
        return true;
      });
    case Path::Rgb24ToBgr0:
      return libyuv::RGB24ToARGB(bits, stride, dst->data[0], dst->linesize[0], w, yuvHeight) == 0;
    // libyuv's "RGB24" is B, G, R in memory: a DIB's 24-bit pixel.
    case Path::Rgb24ToYuv420:
      return libyuv::RGB24ToI420(bits, stride, dst->data[0], dst->linesize[0], dst->data[1], dst->linesize[1],
                                 dst->data[2], dst->linesize[2], w, yuvHeight) == 0;
    case Path::Rgb24ToJ420:
      return libyuv::RGB24ToJ420(bits, stride, dst->data[0], dst->linesize[0], dst->data[1], dst->linesize[1],
                                 dst->data[2], dst->linesize[2], w, yuvHeight) == 0;
    case Path::Rgb24ToGbrp:
      // The first byte of each pixel (blue) goes to the plane libyuv calls
      // red: B, G, R land in planes 1, 0, 2.
      libyuv::SplitRGBPlane(bits, stride, dst->data[1], dst->linesize[1], dst->data[0], dst->linesize[0],
                            dst->data[2], dst->linesize[2], w, yuvHeight);
      return true;
    case Path::Rgb24Swap:
      return libyuv::RAWToRGB24(bits, stride, dst->data[0], dst->linesize[0], w, yuvHeight) == 0;
#else
    case Path::Yuv420:
    case Path::J420:
    case Path::Raw24:
    case Path::Gbrp:
    case Path::Rgb24ToBgr0:
    case Path::Rgb24ToYuv420:
    case Path::Rgb24ToJ420:
    case Path::Rgb24ToGbrp:
    case Path::Rgb24Swap:
      return false;
#endif
    case Path::Palette: {
      std::uint32_t* out = expandedRows_.data();
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = top + std::ptrdiff_t(y) * topStride;
        for (int x = 0; x < w; ++x) *out++ = in_.palette[row[x]];
      }
      return expanded_->convert(reinterpret_cast<const std::uint8_t*>(expandedRows_.data()), dst);
    }
    case Path::Sws: {
      const std::uint8_t* src[4] = {top, nullptr, nullptr, nullptr};
      int srcStride[4] = {topStride, 0, 0, 0};
      if (in_.pixFmt == AV_PIX_FMT_PAL8) src[1] = reinterpret_cast<const std::uint8_t*>(in_.palette.data());
      return sws_scale(sws_, src, srcStride, 0, h, dst->data, dst->linesize) == h;
    }
  }
  return false;
}

Picture newPicture(AVPixelFormat format, int width, int height, int align) {
  Picture p(av_frame_alloc());
  if (!p) return nullptr;
  p->format = format;
  p->width = width;
  p->height = height;
  if (av_frame_get_buffer(p.get(), align) < 0) return nullptr;
  return p;
}

}  // namespace vfw::detail
