// The compressor table and the encoders behind it.
//
// How the choice made in the compressor dialog reaches each encoder
// (quality q is 0..10000; ICQUALITY_DEFAULT picks the value in brackets):
//
//   compressor        encoder    pixels fed   quality knob               data rate (kB/s)
//   ----------------  ---------  -----------  -------------------------  ------------------------
//   Full Frames       -          the input    -                          -
//   Cinepak           cinepak    rgb24        -                          -
//   Microsoft Video 1 msvideo1   rgb555le     -                          -
//   Motion JPEG       libjpeg*   yuvj420p     qscale 31..2 (4)           bit_rate + VBV, replaces qscale
//   MPEG-4 Part 2     mpeg4      yuv420p      qscale 31..2 (4)           bit_rate + VBV, replaces qscale
//   H.264             libx264    yuv420p      crf 51..0 (23)             bit_rate + VBV, replaces crf
//   FFV1              ffv1       bgr0         - (lossless)               -
//   ZMBV              zmbv       pal8/555/565/bgr0 as the input, else bgr0  -
//   Ut Video          utvideo    gbrp         - (lossless)               -
//   HuffYUV           huffyuv    rgb24        - (lossless)               -
//
// * libjpeg-turbo (codec_jpeg.cpp) with libavcodec's tables for the qscale;
//   a data rate takes libavcodec's mjpeg, whose rate control it needs.
//
// Key frames: keyFrameEvery 0 or 1 means every frame (gop_size 1), n means
// one key frame and n - 1 delta frames, for the compressors that make delta
// frames (CompressorInfo::temporal); the others make every frame a key
// frame. A packet is flagged key exactly when the encoder says so
// (AV_PKT_FLAG_KEY), and the file's indexes take that flag. encode() may
// ask for a key frame (the trial's first frame): encoders that honour the
// picture type get an I picture; the ones that count frames themselves
// (Cinepak, Video 1, FFV1, ZMBV) are restarted, so a packet flagged key
// really is self-contained. A stream never asks: the caller's AVIIF_KEYFRAME
// does not force one.
//
// Every encoder runs with zero delay (no B frames, no look-ahead): one
// frame in, one packet out, as an AVI stream written frame by frame needs.
// Threads: a caller that takes packets late (allowDelay) gets frame threads
// where every frame is a key frame; they hold a few frames back, which
// AVIStreamFlush and the release write, and cost less per frame than
// slices. A paced caller (a live recording) gets them
// only where one thread would not keep up with its rate: each frame thread
// has frames, packets and buffers of its own (a 4K Ut Video recording
// held 880 MiB with them, 355 without, at the same CPU per frame), and
// memory first touched is what slows a recording's first seconds.
// Otherwise only slice threading is used. On the 2-core build machine only
// H.264's sliced threads pay (1080p: 70 -> 88 frames/s; 640x480: 640 ->
// 1030); for the others threads gained nothing or lost, so they run on one
// thread unless the caller asks. H.264 takes two slices: libavcodec's own
// count (cores + 1) cost a live 1080p recording about 15 % more CPU per
// frame than two for no frame more, and two keep up with 4K at 10 frames/s.
// bench/RESULTS.md has the figures.
#include "platform/vfw/codec.h"

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <deque>
#include <cctype>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "platform/vfw/codec_internal.h"

namespace vfw {

namespace {

using detail::InputFormat;

constexpr int kH264Threads = 2;
// Pixels a second a paced encoder with frame threads takes on one thread:
// half of what one core of the build machine encodes with Ut Video, the
// slowest of them (4K in about 40 ms), so a busy desktop leaves it room.
// 4K at 10 frames/s and 1080p at 30 stay on one thread; 1080p at 60 not.
constexpr double kOneThreadPixelsPerSecond = 100e6;

enum class Family { Raw, Cinepak, MsVideo1, Mjpeg, Mpeg4, H264, Ffv1, Zmbv, UtVideo, HuffYuv };

struct Entry {
  Family family;
  CompressorInfo info;
  std::vector<FOURCC> aliases;  // other handler codes that mean the same compressor
};

constexpr FOURCC fcc(const char (&s)[5]) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

// MPEG-4 Part 2 is written as 'XVID': the tag VfW decoders (Xvid, ffdshow,
// LAV) and players know best, and ffmpeg decodes lavc's stream under it
// exactly as under its own 'FMP4' (it recognises the encoder from the
// stream's user data, so no Xvid bug workarounds kick in).
//
// Default key-frame spacing, what each compressor's dialog starts at:
// H.264 250 frames, x264's own default keyint; MPEG-4 Part 2 300, Xvid's
// default maximum key interval; ZMBV 300, as DOSBox's ZMBV captures have
// them; Cinepak and Video 1 15, short because their delta frames only skip
// unchanged blocks and gain little from a long run; FFV1 12, libavcodec's
// default group for it (its delta frames only carry the coder's state on).
// A frame count, not seconds: the dialog does not know every caller's rate,
// and it is what a seek costs in frames decoded.
const std::vector<Entry>& allEntries() {
  static const std::vector<Entry> table = {
      {Family::Raw, {comptypeDIB, "Full Frames (Uncompressed)", true, false, false, "", false, 1}, {0}},
      {Family::Cinepak, {fcc("cvid"), "Cinepak", false, false, false, "cinepak", true, 15}, {}},
      {Family::MsVideo1, {fcc("MSVC"), "Microsoft Video 1", false, false, false, "msvideo1", true, 15}, {fcc("CRAM"), fcc("WHAM")}},
      {Family::Mjpeg, {fcc("MJPG"), "Motion JPEG", false, true, true, "mjpeg", false, 1}, {}},
      {Family::Mpeg4, {fcc("XVID"), "MPEG-4 Part 2", false, true, true, "mpeg4", true, 300}, {fcc("FMP4"), fcc("DIVX"), fcc("DX50")}},
      {Family::H264, {fcc("H264"), "H.264", false, true, true, "libx264", true, 250}, {fcc("X264"), fcc("AVC1")}},
      {Family::Ffv1, {fcc("FFV1"), "FFV1 (lossless)", true, false, false, "ffv1", true, 12}, {}},
      {Family::Zmbv, {fcc("ZMBV"), "Zip Motion Blocks Video (lossless)", true, false, false, "zmbv", true, 300}, {}},
      {Family::UtVideo, {fcc("ULRG"), "Ut Video (lossless)", true, false, false, "utvideo", false, 1}, {fcc("ULRA"), fcc("ULY0"), fcc("ULY2"), fcc("ULY4")}},
      {Family::HuffYuv, {fcc("HFYU"), "HuffYUV (lossless)", true, false, false, "huffyuv", false, 1}, {}},
  };
  return table;
}

FOURCC upper(FOURCC f) {
  FOURCC r = 0;
  for (int i = 0; i < 4; ++i)
    r |= FOURCC(std::toupper(static_cast<unsigned char>((f >> (8 * i)) & 0xFF))) << (8 * i);
  return r;
}

const Entry* findEntry(FOURCC handler) {
  const FOURCC u = upper(handler);
  for (const Entry& e : allEntries()) {
    if (upper(e.info.fccHandler) == u) return &e;
    for (FOURCC a : e.aliases)
      if (upper(a) == u) return &e;
  }
  return nullptr;
}

bool available(const Entry& e) {
  return e.family == Family::Raw || avcodec_find_encoder_by_name(e.info.encoder) != nullptr;
}

void quietLibav() {
  static std::once_flag once;
  // libavcodec's chatter (deprecated yuvj formats, x264's banner) would end
  // up on the user's terminal for every recording.
  std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

// The pixel format each encoder is fed for a given input.
AVPixelFormat encoderPixFmt(Family family, AVPixelFormat in) {
  switch (family) {
    case Family::Raw: return in == AV_PIX_FMT_RGB565LE ? AV_PIX_FMT_BGR0 : in;
    case Family::Cinepak: return AV_PIX_FMT_RGB24;
    case Family::MsVideo1: return AV_PIX_FMT_RGB555LE;
    case Family::Mjpeg: return AV_PIX_FMT_YUVJ420P;
    case Family::Mpeg4:
    case Family::H264: return AV_PIX_FMT_YUV420P;
    case Family::Ffv1: return AV_PIX_FMT_BGR0;
    case Family::Zmbv: return in == AV_PIX_FMT_BGR24 ? AV_PIX_FMT_BGR0 : in;
    case Family::UtVideo: return AV_PIX_FMT_GBRP;
    case Family::HuffYuv: return AV_PIX_FMT_RGB24;
  }
  return AV_PIX_FMT_NONE;
}

// Frame sizes an encoder refuses when it is opened. Checking them before
// opening lets the dialog say why a compressor is unavailable, and keeps
// libavcodec from printing the refusal on the terminal (and libx264 from
// leaking its settings, which it does when it refuses odd sides). These are
// the refusals of the libavcodec we build against; anything else an encoder
// turns down still fails its open and is reported without a precise reason.
struct SizeRule {
  int multiple = 1;  // both sides a multiple of this
  int maxSide = 0;   // 0 = only the library's own limit
};

SizeRule sizeRule(Family family) {
  switch (family) {
    case Family::H264: return {2, 0};  // 4:2:0 chroma
    case Family::Cinepak:
    case Family::MsVideo1: return {4, 0};  // 4x4 blocks, no partial ones
    case Family::Mpeg4: return {1, 8191};  // 13-bit size fields
    default: return {};
  }
}

QString sizeRefusal(Family family, const InputFormat& in) {
  const SizeRule rule = sizeRule(family);
  if (rule.multiple == 2 && (in.width % 2 != 0 || in.height % 2 != 0))
    return QCoreApplication::translate("vfw", "needs an even width and height");
  if (rule.multiple > 2 && (in.width % rule.multiple != 0 || in.height % rule.multiple != 0))
    return QCoreApplication::translate("vfw", "needs a width and height divisible by %1").arg(rule.multiple);
  if (rule.maxSide > 0 && (in.width > rule.maxSide || in.height > rule.maxSide))
    return QCoreApplication::translate("vfw", "takes at most %1 pixels a side").arg(rule.maxSide);
  // libavutil's picture buffers (av_image_check_size): their rows padded by
  // 128 pixels, times 8 bytes a pixel, must stay below 2 GiB. The encoder's
  // open fails past that as if memory had run out, which it has not.
  if (family != Family::Raw && (std::int64_t(in.width) + 128) * (std::int64_t(in.height) + 128) * 8 >= INT_MAX)
    return QCoreApplication::translate("vfw", "takes frames of at most 268 million pixels");
  return {};
}

// Encoders that decide key frames by counting and ignore the picture type.
bool countsKeyFrames(Family f) {
  return f == Family::Cinepak || f == Family::MsVideo1 || f == Family::Ffv1 || f == Family::Zmbv;
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
void putLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}

// A BITMAPINFOHEADER followed by `extra` bytes (palette or codec extradata).
std::vector<std::uint8_t> makeHeader(int width, int height, int bitCount, std::uint32_t compression,
                                     std::uint32_t sizeImage, std::span<const std::uint8_t> extra,
                                     std::uint32_t clrUsed = 0) {
  std::vector<std::uint8_t> h(40 + extra.size(), 0);
  putLe32(&h[0], static_cast<std::uint32_t>(40 + (clrUsed ? 0 : extra.size())));
  putLe32(&h[4], static_cast<std::uint32_t>(width));
  putLe32(&h[8], static_cast<std::uint32_t>(height));
  putLe16(&h[12], 1);
  putLe16(&h[14], static_cast<std::uint16_t>(bitCount));
  putLe32(&h[16], compression);
  putLe32(&h[20], sizeImage);
  putLe32(&h[32], clrUsed);
  if (!extra.empty()) std::memcpy(&h[40], extra.data(), extra.size());
  return h;
}

// ---------------------------------------------------------------------------
// Full frames: the output format is the input's, the packet is the rows.
// Top-down input and 5-6-5 masks are the exceptions: AVI readers expect
// bottom-up BI_RGB, and ffmpeg cannot read 16-bit masks from an AVI, so
// those frames are flipped or widened to 32 bits on the way.
class RawEncoder final : public Encoder {
 public:
  explicit RawEncoder(const InputFormat& in) : in_(in) {
    const bool widen = in.pixFmt == AV_PIX_FMT_RGB565LE;
    const int bitCount = widen ? 32 : in.bitCount;
    const auto outStride = static_cast<std::size_t>(gdi::rowBytes(in.width, bitCount));
    std::vector<std::uint8_t> palette;
    if (in.pixFmt == AV_PIX_FMT_PAL8) {
      palette.resize(4 * std::size_t(in.paletteEntries));
      for (int i = 0; i < in.paletteEntries; ++i) putLe32(&palette[4 * std::size_t(i)], in.palette[i] & 0xFFFFFFu);
    }
    format_ = makeHeader(in.width, in.height, bitCount, gdi::BI_RGB,
                         static_cast<std::uint32_t>(outStride * std::size_t(in.height)), palette,
                         static_cast<std::uint32_t>(in.paletteEntries));
    if (widen) {
      out_.resize(outStride * std::size_t(in.height));
      frame_.reset(av_frame_alloc());
      converter_ = std::make_unique<detail::Converter>(in, AV_PIX_FMT_BGR0);
      outStride_ = outStride;
    } else if (!in.bottomUp) {
      out_.resize(in.imageBytes);
    }
  }

  bool ok() const { return !converter_ || (converter_->ok() && frame_); }
  std::span<const std::uint8_t> outputFormat() const override { return format_; }

  // The packet is the rows themselves: preparing them is all the work, and
  // rows already bottom-up and packed are passed on where they lie, without
  // a copy. (So the prepared frame is the caller's buffer; this encoder is
  // never overlapped.)
  HRESULT prepare(std::span<const std::uint8_t> bits) override {
    if (bits.size() < in_.imageBytes) return AVIERR_BADSIZE;
    return prepareRows(detail::packedRows(in_, bits.data()));
  }

  HRESULT prepareRows(FrameRows rows) override {
    const auto stride = std::ptrdiff_t(in_.stride);
    const std::ptrdiff_t last = std::ptrdiff_t(in_.height - 1);
    // The file wants the bottom row first: the converter is handed the
    // rows from the bottom up, so its "top" row is the picture's last.
    const FrameRows fromBottom{rows.top + last * rows.stride, -rows.stride};
    if (converter_) {
      frame_->data[0] = out_.data();
      frame_->linesize[0] = static_cast<int>(outStride_);
      if (!converter_->convert(fromBottom, frame_.get())) return AVIERR_COMPRESSOR;
      prepared_ = out_;
    } else if (rows.stride == -stride) {
      prepared_ = std::span(fromBottom.top, in_.imageBytes);
    } else {
      if (out_.size() < in_.imageBytes) out_.resize(in_.imageBytes);
      for (std::ptrdiff_t y = 0; y <= last; ++y)
        std::memcpy(&out_[std::size_t(y) * in_.stride], fromBottom.top + y * fromBottom.stride, in_.stride);
      prepared_ = out_;
    }
    return AVIERR_OK;
  }

  HRESULT compress(bool, std::span<const std::uint8_t>& packet, bool& isKey) override {
    isKey = true;
    packet = prepared_;
    return AVIERR_OK;
  }

  bool worthOverlapping() const override { return false; }
  bool passesRowsThrough() const override { return !converter_; }

 private:
  InputFormat in_;
  std::vector<std::uint8_t> format_;
  std::vector<std::uint8_t> out_;
  std::size_t outStride_ = 0;
  detail::Picture frame_;
  std::unique_ptr<detail::Converter> converter_;
  std::span<const std::uint8_t> prepared_;
};

// ---------------------------------------------------------------------------
struct CodecCtxFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// qscale 31 (worst) .. 2 (best) for the MPEG-family quantisers.
int qscaleFor(LONG q) {
  if (q < 0) return 4;
  return 31 - static_cast<int>((std::min<LONG>(q, 10000) * 29 + 5000) / 10000);
}

// A data rate is a ceiling, so it becomes a VBV limit as well as the average:
// with an average alone, all-key-frame streams from lavc's MPEG-family
// encoders came out at twice the asked rate (bench and test measurements).
// Two frames' worth of buffer keeps each frame near its share.
void setRate(AVCodecContext* c, std::int64_t bitRate, int fps) {
  c->bit_rate = bitRate;
  c->rc_max_rate = bitRate;
  c->rc_buffer_size = static_cast<int>(std::clamp<std::int64_t>(bitRate * 2 / fps, 1, INT32_MAX));
}

class LavcEncoder final : public Encoder {
 public:
  LavcEncoder(const Entry& entry, const InputFormat& in, const EncoderOptions& opt)
      : entry_(entry), in_(in), opt_(opt), pixFmt_(encoderPixFmt(entry.family, in.pixFmt)) {}

  HRESULT open() {
    codec_ = avcodec_find_encoder_by_name(entry_.info.encoder);
    if (!codec_) return AVIERR_NOCOMPRESSOR;
    converter_ = std::make_unique<detail::Converter>(in_, pixFmt_);
    if (!converter_->ok()) return AVIERR_BADFORMAT;
    for (auto& p : packets_) {
      p.reset(av_packet_alloc());
      if (!p) return AVIERR_MEMORY;
    }
    for (auto& f : frames_) {
      f = detail::newPicture(pixFmt_, in_.width, in_.height);
      if (!f) return AVIERR_MEMORY;
    }
    if (const HRESULT hr = openContext(); hr != AVIERR_OK) return hr;
    buildFormat();
    return AVIERR_OK;
  }

  std::span<const std::uint8_t> outputFormat() const override { return format_; }

  // Frames alternate between two pictures; each side keeps its own count,
  // so a prepare() on one thread and a compress() on another share nothing
  // but the picture the stream hands over between them.
  HRESULT prepare(std::span<const std::uint8_t> bits) override {
    if (bits.size() < in_.imageBytes) return AVIERR_BADSIZE;
    return prepareRows(detail::packedRows(in_, bits.data()));
  }

  HRESULT prepareRows(FrameRows rows) override {
    AVFrame* f = frames_[prepared_ % 2].get();
    // The encoder may still hold this picture (frame threads hold several):
    // it then keeps that buffer and this picture takes a new one. Nothing
    // is copied over, the conversion writes every pixel.
    if (!av_frame_is_writable(f)) {
      av_frame_unref(f);
      f->format = pixFmt_;
      f->width = in_.width;
      f->height = in_.height;
      if (av_frame_get_buffer(f, 0) < 0) return AVIERR_MEMORY;
    }
    if (!converter_->convert(rows, f)) return AVIERR_COMPRESSOR;
    ++prepared_;
    return AVIERR_OK;
  }

  HRESULT compress(bool forceKey, std::span<const std::uint8_t>& packet, bool& isKey) override {
    frame_ = frames_[compressed_ % 2].get();
    packet_ = packets_[compressed_ % 2].get();
    ++compressed_;
    packet = {};
    if (!ctx_ || (forceKey && countsKeyFrames(entry_.family) && sinceOpen_ % gop_ != 0)) {
      if (const HRESULT hr = openContext(); hr != AVIERR_OK) return hr;
    }
    bool got = false;
    HRESULT hr = encodeFrame(forceKey, isKey, got);
    if (hr == AVIERR_OK && got && forceKey && !isKey) {
      // A packet held back belongs to an earlier frame; that one cannot
      // be compressed again.
      if (delayAllowed_) return AVIERR_COMPRESSOR;
      // Our guess about the encoder's key-frame rhythm was wrong; a restarted
      // encoder always begins with a key frame.
      if (hr = openContext(); hr != AVIERR_OK) return hr;
      hr = encodeFrame(true, isKey, got);
      if (hr == AVIERR_OK && !isKey) return AVIERR_COMPRESSOR;
    }
    if (hr != AVIERR_OK) return hr;
    if (got) packet = std::span<const std::uint8_t>(packet_->data, static_cast<std::size_t>(packet_->size));
    return AVIERR_OK;
  }

  HRESULT drain(std::span<const std::uint8_t>& packet, bool& isKey) override {
    packet = {};
    isKey = false;
    if (!ctx_) return AVIERR_OK;
    packet_ = packets_[compressed_ % 2].get();
    ++compressed_;
    if (!draining_) {
      draining_ = true;
      if (avcodec_send_frame(ctx_.get(), nullptr) < 0) return AVIERR_COMPRESSOR;
    }
    bool got = false;
    if (const HRESULT hr = takePacket(isKey, got, true); hr != AVIERR_OK) return hr;
    if (got) {
      packet = std::span<const std::uint8_t>(packet_->data, static_cast<std::size_t>(packet_->size));
    } else {
      // Drained: the next frame opens the encoder again.
      ctx_.reset();
      draining_ = false;
    }
    return AVIERR_OK;
  }

 private:
  // libavcodec's own count, or one thread where a paced caller's rate
  // leaves one thread room enough. x264 keeps its own count: its threads
  // share its buffers, and one thread measured the same CPU per frame.
  int frameThreads(int fps) const {
    if (!opt_.paced || entry_.family == Family::H264) return 0;
    const double pixelsPerSecond = double(in_.width) * double(in_.height) * fps;
    return pixelsPerSecond <= kOneThreadPixelsPerSecond ? 1 : 0;
  }

  HRESULT openContext() {
    ctx_.reset(avcodec_alloc_context3(codec_));
    if (!ctx_) return AVIERR_MEMORY;
    AVCodecContext* c = ctx_.get();
    const int fps = opt_.framesPerSecond > 0 ? opt_.framesPerSecond : 25;
    c->width = in_.width;
    c->height = in_.height;
    c->pix_fmt = pixFmt_;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->codec_tag = entry_.info.fccHandler;
    gop_ = entry_.info.temporal && opt_.keyFrameEvery > 1 ? opt_.keyFrameEvery : 1;
    // Frame threads only where every frame is a key frame. With delta
    // frames the encoder runs with zero latency: each packet comes back
    // with its frame, so a recording that is killed or fails loses none
    // held inside the encoder, and a forced key frame (only a caller of
    // encode() asks for one) can restart it.
    delayAllowed_ = opt_.allowDelay && gop_ == 1 &&
                    (entry_.family == Family::H264 || (codec_->capabilities & AV_CODEC_CAP_FRAME_THREADS));
    if (delayAllowed_) {
      c->thread_type = FF_THREAD_FRAME;
      c->thread_count = opt_.threads >= 0 ? opt_.threads : frameThreads(fps);
    } else {
      c->thread_type = FF_THREAD_SLICE;
      c->thread_count = opt_.threads >= 0 ? opt_.threads : (entry_.family == Family::H264 ? kH264Threads : 1);
    }
    c->gop_size = gop_;
    // ZMBV and Video 1 take their key-frame interval from keyint_min; Video 1
    // puts that many delta frames between two key frames, one more than the
    // others count.
    c->keyint_min = entry_.family == Family::Zmbv ? gop_ : entry_.family == Family::MsVideo1 ? gop_ - 1 : 1;
    c->max_b_frames = 0;
    // A VfW kilobyte is 1024 bytes (the AVI library converts with 1024 too).
    const std::int64_t bitRate = std::int64_t(std::max<LONG>(opt_.kilobytesPerSecond, 0)) * 8 * 1024;
    switch (entry_.family) {
      case Family::Mjpeg:
        c->color_range = AVCOL_RANGE_JPEG;
        [[fallthrough]];
      case Family::Mpeg4:
        // No extra intra frames at scene changes: the key frames are the
        // interval's, as the user chose them.
        if (entry_.family == Family::Mpeg4) av_opt_set_int(c->priv_data, "sc_threshold", 1000000000, 0);
        if (bitRate > 0) {
          setRate(c, bitRate, fps);
        } else {
          c->flags |= AV_CODEC_FLAG_QSCALE;
          c->global_quality = FF_QP2LAMBDA * qscaleFor(opt_.quality);
        }
        break;
      case Family::H264: {
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        // zerolatency means sliced threads; frame threads need it off
        // (ultrafast has no B-frames or lookahead to hold back anyway).
        if (!delayAllowed_) av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
        if (bitRate > 0) {
          setRate(c, bitRate, fps);
        } else {
          const double crf = opt_.quality < 0 ? 23.0 : 51.0 * (10000 - std::min<LONG>(opt_.quality, 10000)) / 10000.0;
          av_opt_set_double(c->priv_data, "crf", crf, 0);
        }
        break;
      }
      case Family::Cinepak:
        // The defaults make 1080p crawl at 0.09 frame/s. No extra codebook
        // passes and always three strips (still what vintage decoders take)
        // give 0.22 frame/s at the same PSNR (43.6 dB on testsrc2).
        av_opt_set_int(c->priv_data, "max_extra_cb_iterations", 0, 0);
        av_opt_set_int(c->priv_data, "min_strips", 3, 0);
        av_opt_set_int(c->priv_data, "max_strips", 3, 0);
        break;
      case Family::Zmbv:
        // Its delta frames search motion 8 pixels each way by default: on
        // 1080p testsrc2 that took 0.52 s a frame against 0.18 for a key
        // frame. One pixel each way takes 0.16 and makes the file 2 %
        // larger (20 frames); a block that did not change is taken at
        // once, without a search.
        c->me_range = 1;
        break;
      case Family::Ffv1:
      case Family::UtVideo:
      case Family::HuffYuv:
      case Family::MsVideo1:
      case Family::Raw:
        break;
    }
    if (avcodec_open2(c, codec_, nullptr) < 0) {
      ctx_.reset();
      return AVIERR_UNSUPPORTED;
    }
    sinceOpen_ = 0;
    return AVIERR_OK;
  }

  HRESULT encodeFrame(bool forceKey, bool& isKey, bool& got) {
    frame_->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame_->key_frame = forceKey ? 1 : 0;
    frame_->pts = pts_;
    // The MPEG-family encoders read a fixed quantiser from the frame.
    frame_->quality = ctx_->global_quality;
    if (avcodec_send_frame(ctx_.get(), frame_) < 0) return AVIERR_COMPRESSOR;
    ++pts_;
    ++sinceOpen_;
    return takePacket(isKey, got, delayAllowed_);
  }

  // The oldest packet the encoder has ready, into packet_. Frame threads
  // may have none yet, or finish two at once: those wait in ready_.
  HRESULT takePacket(bool& isKey, bool& got, bool mayHaveNone) {
    for (;;) {
      std::unique_ptr<AVPacket, PacketFree> p(av_packet_alloc());
      if (!p) return AVIERR_MEMORY;
      const int r = avcodec_receive_packet(ctx_.get(), p.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
      if (r < 0) return AVIERR_COMPRESSOR;
      ready_.push_back(std::move(p));
    }
    av_packet_unref(packet_);
    got = !ready_.empty();
    if (!got) return mayHaveNone ? AVIERR_OK : AVIERR_COMPRESSOR;  // zero-delay encoders always give one
    av_packet_move_ref(packet_, ready_.front().get());
    ready_.pop_front();
    isKey = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    return AVIERR_OK;
  }

  void buildFormat() {
    const AVCodecContext* c = ctx_.get();
    int bitCount = c->bits_per_coded_sample;
    if (bitCount <= 0) bitCount = 24;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(pixFmt_);
    const int bpp = d ? av_get_bits_per_pixel(d) : 24;
    const auto sizeImage = static_cast<std::uint32_t>((std::int64_t(in_.width) * in_.height * bpp + 7) / 8);
    std::span<const std::uint8_t> extra;
    if (c->extradata && c->extradata_size > 0) extra = {c->extradata, static_cast<std::size_t>(c->extradata_size)};
    // Encoders that restart per key frame keep the same extradata, so the
    // format stays valid across restarts.
    // Some encoders pick the tag themselves (Ut Video's depends on the
    // pixel format); theirs is the one decoders expect.
    const FOURCC tag = c->codec_tag ? c->codec_tag : entry_.info.fccHandler;
    format_ = makeHeader(in_.width, in_.height, bitCount, tag, sizeImage, extra);
  }

  const Entry& entry_;
  InputFormat in_;
  EncoderOptions opt_;
  AVPixelFormat pixFmt_;
  const AVCodec* codec_ = nullptr;
  std::unique_ptr<AVCodecContext, CodecCtxFree> ctx_;
  std::array<detail::Picture, 2> frames_;
  std::uint64_t prepared_ = 0;    // the preparing side's count
  std::uint64_t compressed_ = 0;  // the compressing side's count
  AVFrame* frame_ = nullptr;      // the picture being compressed
  // Packets alternate too: one is written while the next compresses.
  std::array<std::unique_ptr<AVPacket, PacketFree>, 2> packets_;
  AVPacket* packet_ = nullptr;    // the packet being filled
  std::unique_ptr<detail::Converter> converter_;
  std::vector<std::uint8_t> format_;
  std::int64_t pts_ = 0;
  std::int64_t sinceOpen_ = 0;
  int gop_ = 1;
  bool delayAllowed_ = false;
  bool draining_ = false;
  std::deque<std::unique_ptr<AVPacket, PacketFree>> ready_;
};

}  // namespace

const std::vector<CompressorInfo>& compressors() {
  static const std::vector<CompressorInfo> list = [] {
    std::vector<CompressorInfo> l;
    for (const Entry& e : allEntries())
      if (available(e)) l.push_back(e.info);
    return l;
  }();
  return list;
}

const CompressorInfo* findCompressor(FOURCC fccHandler) {
  if (fccHandler == 0) fccHandler = comptypeDIB;  // "do not recompress" is full frames here
  const Entry* e = findEntry(fccHandler);
  if (!e || !available(*e)) return nullptr;
  for (const CompressorInfo& c : compressors())
    if (c.fccHandler == e->info.fccHandler) return &c;
  return nullptr;
}

bool compressorAccepts(const CompressorInfo& c, std::span<const std::uint8_t> inputFormat) {
  return compressorRefusal(c, inputFormat).isEmpty();
}

QString compressorRefusal(const CompressorInfo& c, std::span<const std::uint8_t> inputFormat) {
  const Entry* entry = findEntry(c.fccHandler);
  if (!entry || !available(*entry)) return QCoreApplication::translate("vfw", "is not installed");
  const auto in = detail::parseInputFormat(inputFormat);
  if (!in) return QCoreApplication::translate("vfw", "cannot read this kind of frame");
  if (QString why = sizeRefusal(entry->family, *in); !why.isEmpty()) return why;
  // Past the known rules, opening the encoder is cheap and the only sure answer.
  std::unique_ptr<Encoder> enc;
  switch (createEncoder(c.fccHandler, inputFormat, {}, enc)) {
    case AVIERR_OK: return {};
    case AVIERR_BADFORMAT: return QCoreApplication::translate("vfw", "cannot take %1-bit frames").arg(in->bitCount);
    case AVIERR_MEMORY: return QCoreApplication::translate("vfw", "ran out of memory at this size");
    default: return QCoreApplication::translate("vfw", "refused %1x%2 frames").arg(in->width).arg(in->height);
  }
}

HRESULT createEncoder(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, const EncoderOptions& options,
                      std::unique_ptr<Encoder>& out) {
  out.reset();
  quietLibav();
  if (fccHandler == 0) fccHandler = comptypeDIB;
  const Entry* entry = findEntry(fccHandler);
  if (!entry || !available(*entry)) return AVIERR_NOCOMPRESSOR;
  const auto in = detail::parseInputFormat(inputFormat);
  if (!in) return AVIERR_BADFORMAT;
  if (entry->family == Family::Raw) {
    auto raw = std::make_unique<RawEncoder>(*in);
    if (!raw->ok()) return AVIERR_MEMORY;
    out = std::move(raw);
    return AVIERR_OK;
  }
  if (!sizeRefusal(entry->family, *in).isEmpty()) return AVIERR_UNSUPPORTED;
  if (entry->family == Family::Mjpeg && options.kilobytesPerSecond <= 0) {
    // The format libavcodec's encoder gives: 24 bits, the size of 4:2:0.
    const auto sizeImage = std::uint32_t((std::int64_t(in->width) * in->height * 12 + 7) / 8);
    return detail::newJpegEncoder(*in, qscaleFor(options.quality),
                                  makeHeader(in->width, in->height, 24, entry->info.fccHandler, sizeImage, {}), out);
  }
  auto enc = std::make_unique<LavcEncoder>(*entry, *in, options);
  if (const HRESULT hr = enc->open(); hr != AVIERR_OK) return hr;
  out = std::move(enc);
  return AVIERR_OK;
}

}  // namespace vfw
