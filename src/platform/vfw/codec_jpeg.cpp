// Motion JPEG through libjpeg-turbo.
//
// libavcodec's mjpeg encoder with the same quantiser tables cost a live
// 1080p recording about 7 ms of CPU a frame; libjpeg-turbo's SIMD DCT and
// Huffman coder about 4-5, and its pictures came out slightly closer to the
// source (PSNR 42.1 against 41.4 dB on a desktop frame, 9 % more bytes: the
// libavcodec quantiser rounds towards zero). The tables are libavcodec's for
// the same qscale, so the quality knob means what it meant: the MPEG-1 intra
// matrix times qscale / 8, DC 8, one table for all three planes. A data
// rate needs rate control, which stays libavcodec's (codec.cpp).
//
// The frame is converted to full-range 4:2:0 (yuvj420p) while the one
// before compresses, as for every other encoder; libjpeg then takes the
// planes as they are (raw data), so it neither converts nor subsamples.
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

extern "C" {
#include <jpeglib.h>
}

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/vfw/codec_internal.h"

namespace vfw::detail {

namespace {

// The MPEG-1 default intra matrix, in natural order: what libavcodec's
// mjpeg encoder scales by qscale.
constexpr std::array<unsigned, 64> kMpeg1Intra = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

// libjpeg reports errors through a callback that must not return.
struct ErrorJump {
  jpeg_error_mgr mgr{};
  std::jmp_buf jump{};
};

[[noreturn]] void jumpOut(j_common_ptr c) { std::longjmp(reinterpret_cast<ErrorJump*>(c->err)->jump, 1); }
void keepQuiet(j_common_ptr, int) {}

// Output into a vector that grows as needed and is kept between frames.
struct VectorDest {
  jpeg_destination_mgr mgr{};
  std::vector<std::uint8_t>* out = nullptr;

  static void init(j_compress_ptr c) {
    auto* d = reinterpret_cast<VectorDest*>(c->dest);
    d->out->resize(std::max<std::size_t>(d->out->capacity(), 64 << 10));
    d->mgr.next_output_byte = d->out->data();
    d->mgr.free_in_buffer = d->out->size();
  }
  static boolean grow(j_compress_ptr c) {
    // Called only when the buffer is full: free_in_buffer is 0.
    auto* d = reinterpret_cast<VectorDest*>(c->dest);
    const std::size_t used = d->out->size();
    d->out->resize(used * 2);
    d->mgr.next_output_byte = d->out->data() + used;
    d->mgr.free_in_buffer = d->out->size() - used;
    return TRUE;
  }
  static void term(j_compress_ptr c) {
    auto* d = reinterpret_cast<VectorDest*>(c->dest);
    d->out->resize(d->out->size() - d->mgr.free_in_buffer);
  }
};

class JpegEncoder final : public Encoder {
 public:
  JpegEncoder(const InputFormat& in, int qscale, std::vector<std::uint8_t> format)
      : in_(in), qscale_(qscale), format_(std::move(format)) {}
  ~JpegEncoder() override {
    if (created_) jpeg_destroy_compress(&c_);
  }
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  HRESULT open() {
    converter_ = std::make_unique<Converter>(in_, AV_PIX_FMT_YUVJ420P);
    if (!converter_->ok()) return AVIERR_BADFORMAT;
    for (auto& f : frames_) {
      // Each row has room up to the next whole block pair (padded()).
      f = newPicture(AV_PIX_FMT_YUVJ420P, in_.width, in_.height, 32);
      if (!f) return AVIERR_MEMORY;
      if (f->linesize[0] < roundUp(in_.width, 16) || f->linesize[1] < roundUp(chromaWidth(), 8) ||
          f->linesize[2] < roundUp(chromaWidth(), 8))
        return AVIERR_MEMORY;
    }
    c_.err = jpeg_std_error(&err_.mgr);
    err_.mgr.error_exit = jumpOut;
    err_.mgr.emit_message = keepQuiet;
    if (setjmp(err_.jump)) return AVIERR_MEMORY;
    jpeg_create_compress(&c_);
    created_ = true;
    dest_.mgr.init_destination = VectorDest::init;
    dest_.mgr.empty_output_buffer = VectorDest::grow;
    dest_.mgr.term_destination = VectorDest::term;
    c_.dest = &dest_.mgr;
    return AVIERR_OK;
  }

  std::span<const std::uint8_t> outputFormat() const override { return format_; }

  HRESULT prepare(std::span<const std::uint8_t> bits) override {
    if (bits.size() < in_.imageBytes) return AVIERR_BADSIZE;
    return prepareRows(packedRows(in_, bits.data()));
  }

  HRESULT prepareRows(FrameRows rows) override {
    AVFrame* f = frames_[prepared_ % 2].get();
    if (!converter_->convert(rows, f)) return AVIERR_COMPRESSOR;
    padded(f);
    ++prepared_;
    return AVIERR_OK;
  }

  // Every picture is a key frame; nothing is held back.
  HRESULT compress(bool, std::span<const std::uint8_t>& packet, bool& isKey) override {
    const AVFrame* f = frames_[compressed_ % 2].get();
    std::vector<std::uint8_t>& out = packets_[compressed_ % 2];
    ++compressed_;
    packet = {};
    isKey = true;
    dest_.out = &out;
    if (!encode(f)) {
      jpeg_abort_compress(&c_);
      return AVIERR_COMPRESSOR;
    }
    packet = out;
    return AVIERR_OK;
  }

 private:
  static int roundUp(int v, int m) { return (v + m - 1) / m * m; }
  int chromaWidth() const { return (in_.width + 1) / 2; }
  int chromaHeight() const { return (in_.height + 1) / 2; }

  // libjpeg codes whole 16x16 (luma) and 8x8 (chroma) blocks and reads
  // them whole from raw planes: the columns past the picture's edge repeat
  // its last pixel, as libjpeg's own edge handling would do; the rows past
  // it are the last row again (encode()).
  void padded(AVFrame* f) const {
    const int widths[3] = {in_.width, chromaWidth(), chromaWidth()};
    const int heights[3] = {in_.height, chromaHeight(), chromaHeight()};
    for (int p = 0; p < 3; ++p) {
      const int w = widths[p], to = roundUp(w, p == 0 ? 16 : 8);
      if (to == w) continue;
      for (int y = 0; y < heights[p]; ++y) {
        std::uint8_t* row = f->data[p] + std::ptrdiff_t(y) * f->linesize[p];
        std::memset(row + w, row[w - 1], std::size_t(to - w));
      }
    }
  }

  bool encode(const AVFrame* f) {
    if (setjmp(err_.jump)) return false;
    c_.image_width = JDIMENSION(in_.width);
    c_.image_height = JDIMENSION(in_.height);
    c_.input_components = 3;
    c_.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&c_);
    jpeg_set_colorspace(&c_, JCS_YCbCr);
    c_.raw_data_in = TRUE;
    c_.dct_method = JDCT_ISLOW;
    c_.comp_info[0].h_samp_factor = c_.comp_info[0].v_samp_factor = 2;
    for (int i = 1; i < 3; ++i) {
      c_.comp_info[i].h_samp_factor = c_.comp_info[i].v_samp_factor = 1;
      c_.comp_info[i].quant_tbl_no = 0;
    }
    unsigned table[64];
    for (int i = 0; i < 64; ++i) table[i] = std::clamp((kMpeg1Intra[std::size_t(i)] * unsigned(qscale_)) >> 3, 1u, 255u);
    table[0] = 8;
    jpeg_add_quant_table(&c_, 0, table, 100, TRUE);
    jpeg_start_compress(&c_, TRUE);
    // One MCU row: 16 luma rows and 8 of each chroma plane.
    JSAMPROW y[16], u[8], v[8];
    JSAMPARRAY planes[3] = {y, u, v};
    for (int top = 0; top < in_.height; top += 16) {
      for (int i = 0; i < 16; ++i) y[i] = f->data[0] + std::ptrdiff_t(std::min(top + i, in_.height - 1)) * f->linesize[0];
      for (int i = 0; i < 8; ++i) {
        const std::ptrdiff_t r = std::min(top / 2 + i, chromaHeight() - 1);
        u[i] = f->data[1] + r * f->linesize[1];
        v[i] = f->data[2] + r * f->linesize[2];
      }
      if (jpeg_write_raw_data(&c_, planes, 16) != 16) return false;
    }
    jpeg_finish_compress(&c_);
    return true;
  }

  InputFormat in_;
  int qscale_;
  std::vector<std::uint8_t> format_;
  std::unique_ptr<Converter> converter_;
  std::array<Picture, 2> frames_;
  // Packets alternate: one is written while the next compresses.
  std::array<std::vector<std::uint8_t>, 2> packets_;
  std::uint64_t prepared_ = 0;
  std::uint64_t compressed_ = 0;
  jpeg_compress_struct c_{};
  ErrorJump err_;
  VectorDest dest_;
  bool created_ = false;
};

}  // namespace

HRESULT newJpegEncoder(const InputFormat& in, int qscale, std::vector<std::uint8_t> outputFormat,
                       std::unique_ptr<Encoder>& out) {
  auto enc = std::make_unique<JpegEncoder>(in, qscale, std::move(outputFormat));
  if (const HRESULT hr = enc->open(); hr != AVIERR_OK) return hr;
  out = std::move(enc);
  return AVIERR_OK;
}

}  // namespace vfw::detail
