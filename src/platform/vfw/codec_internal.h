#pragma once
// Pieces shared by the compressor table, the pixel converter and the
// libavcodec encoder wrapper. Not part of the library's interface.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "platform/gdi/bitmap.h"
#include "platform/vfw/avifile_internal.h"
#include "platform/vfw/codec.h"

struct SwsContext;

namespace vfw::detail {

// Largest frame side we accept; keeps width x height x 4 far below 2^31.
constexpr int kMaxDimension = 16384;

// An input format that has passed every check: what the rows look like in
// memory and how many bytes a frame has.
struct InputFormat {
  int width = 0;
  int height = 0;         // always positive
  bool bottomUp = true;   // positive biHeight
  int bitCount = 0;
  AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
  std::size_t stride = 0;      // bytes per row, padded to 32 bits
  std::size_t imageBytes = 0;  // stride x height
  std::array<std::uint32_t, 256> palette{};  // B G R A in memory, alpha forced to 255
  int paletteEntries = 0;
  bool bitfields = false;      // masks given, even if they are the usual ones
};

// Checks a BITMAPINFOHEADER (plus colour table or masks) completely before
// anything is allocated. nullopt for anything we cannot read.
std::optional<InputFormat> parseInputFormat(std::span<const std::uint8_t> format);

// Where the rows of a packed frame of the format lie.
FrameRows packedRows(const InputFormat& in, const std::uint8_t* bits);

// Converts packed DIB rows of one input format into an AVFrame of another
// pixel format, upright (row 0 = top of the picture). libyuv handles the
// hot 32-bit paths, swscale everything else.
class Converter {
 public:
  enum class Backend { Auto, Swscale };  // Swscale forces the generic path (benchmarks)
  Converter(const InputFormat& in, AVPixelFormat out, Backend backend = Backend::Auto);
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return ok_; }
  // dst must be allocated in the output format at the input's size.
  bool convert(const std::uint8_t* bits, AVFrame* dst);
  // The same from rows where they lie, each of the input format's width.
  bool convert(FrameRows rows, AVFrame* dst);

 private:
  enum class Path {
    Copy,
    Yuv420,
    J420,
    Raw24,
    Gbrp,
    Rgb24ToBgr0,
    Rgb24ToYuv420,
    Rgb24ToJ420,
    Rgb24ToGbrp,
    Rgb24Swap,
    Palette,
    Sws
  };
  InputFormat in_;
  AVPixelFormat out_;
  Path path_ = Path::Sws;
  SwsContext* sws_ = nullptr;
  bool ok_ = false;
  // Palette input: indices are looked up into 32-bit rows first, which
  // `expanded_` converts further.
  std::vector<std::uint32_t> expandedRows_;
  std::unique_ptr<Converter> expanded_;
};

struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Picture = std::unique_ptr<AVFrame, FrameFree>;

// A picture of the format and size with a buffer of its own (rows aligned
// to `align` bytes, 0 for libavutil's choice); null when memory runs out.
Picture newPicture(AVPixelFormat format, int width, int height, int align = 0);

// Motion JPEG at a fixed qscale through libjpeg-turbo (codec_jpeg.cpp);
// `outputFormat` is the stream format it reports.
HRESULT newJpegEncoder(const InputFormat& in, int qscale, std::vector<std::uint8_t> outputFormat,
                       std::unique_ptr<Encoder>& out);

}  // namespace vfw::detail
