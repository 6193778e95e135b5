// MP3 at a constant rate for a sound stream, through libavcodec's
// libmp3lame: 16-bit PCM in, a frame of 1152 samples a chunk out.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/vfw/compressingstream.h"

namespace vfw::detail {

namespace {

class SoundCompressingStream final : public AviStream {
 public:
  SoundCompressingStream(AviStream* source, const MPEGLAYER3WAVEFORMAT& output) : source_(source), output_(output) {
    source_->addRef();
  }
  ~SoundCompressingStream() override {
    flush();
    avcodec_free_context(&ctx_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    source_->release();
  }

  const AVISTREAMINFOA& info() const override { return source_->info(); }

  // The PCM that will come; the source gets the MP3 format.
  HRESULT setFormat(LONG pos, std::span<const std::uint8_t> format) override {
    if (format.size() < 16) return AVIERR_BADFORMAT;
    WAVEFORMATEX in{};
    std::memcpy(&in, format.data(), std::min(format.size(), sizeof in));
    if (in.wFormatTag != WAVE_FORMAT_PCM || in.wBitsPerSample != 16 || in.nChannels < 1 || in.nChannels > 2 ||
        in.nSamplesPerSec != output_.wfx.nSamplesPerSec || in.nChannels != output_.wfx.nChannels)
      return AVIERR_BADFORMAT;
    if (ctx_) return AVIERR_OK;
    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec) return AVIERR_NOCOMPRESSOR;
    ctx_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!ctx_ || !frame_ || !packet_) return AVIERR_MEMORY;
    ctx_->sample_rate = int(in.nSamplesPerSec);
    av_channel_layout_default(&ctx_->ch_layout, in.nChannels);
    ctx_->sample_fmt = AV_SAMPLE_FMT_S16P;
    ctx_->bit_rate = std::int64_t(output_.wfx.nAvgBytesPerSec) * 8;
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return AVIERR_COMPRESSOR;
    channels_ = in.nChannels;
    // The decoder's output lags the input by the encoder's delay: that
    // much of the start is not given to it, so that the decoded sound
    // keeps its place against the picture.
    skip_ = ctx_->initial_padding;
    return source_->setFormat(pos, std::span(reinterpret_cast<const std::uint8_t*>(&output_), sizeof output_));
  }

  HRESULT write(LONG, LONG samples, std::span<const std::uint8_t> data, DWORD, LONG* samplesWritten,
                LONG* bytesWritten) override {
    if (!ctx_) return AVIERR_BADFORMAT;
    const std::size_t block = std::size_t(channels_) * 2;
    if (data.size() % block != 0 || (samples >= 0 && std::size_t(samples) != data.size() / block))
      return AVIERR_BADSIZE;
    const auto* s = reinterpret_cast<const std::int16_t*>(data.data());
    std::size_t n = data.size() / block;
    const std::size_t skipped = std::min<std::size_t>(n, std::size_t(skip_));
    skip_ -= int(skipped);
    pending_.insert(pending_.end(), s + skipped * std::size_t(channels_), s + n * std::size_t(channels_));
    if (const HRESULT hr = encodeWhole(false); hr != AVIERR_OK) return hr;
    if (samplesWritten) *samplesWritten = LONG(n);
    if (bytesWritten) *bytesWritten = LONG(data.size());
    return AVIERR_OK;
  }

  HRESULT writeRows(LONG, FrameRows, DWORD) override { return AVIERR_UNSUPPORTED; }
  LONG length() const override { return source_->length(); }

  // The rest, and what the encoder holds: its last frames carry the
  // sound given last to its end.
  HRESULT flush() override {
    if (!ctx_ || flushed_) return AVIERR_OK;
    flushed_ = true;
    if (const HRESULT hr = encodeWhole(true); hr != AVIERR_OK) return hr;
    if (avcodec_send_frame(ctx_, nullptr) < 0) return AVIERR_COMPRESSOR;
    return drain();
  }

 private:
  // Every whole frame pending (and the last part frame at the end).
  HRESULT encodeWhole(bool last) {
    const auto frameSize = std::size_t(ctx_->frame_size);
    const auto ch = std::size_t(channels_);
    std::size_t at = 0;
    while (pending_.size() - at >= frameSize * ch || (last && pending_.size() > at)) {
      const std::size_t n = std::min(frameSize, (pending_.size() - at) / ch);
      frame_->nb_samples = int(n);
      frame_->format = ctx_->sample_fmt;
      frame_->sample_rate = ctx_->sample_rate;
      if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0)
        return AVIERR_MEMORY;
      for (std::size_t c = 0; c < ch; ++c) {
        auto* plane = reinterpret_cast<std::int16_t*>(frame_->data[c]);
        for (std::size_t i = 0; i < n; ++i) plane[i] = pending_[at + i * ch + c];
      }
      at += n * ch;
      frame_->pts = pts_;
      pts_ += std::int64_t(n);
      const int sent = avcodec_send_frame(ctx_, frame_);
      av_frame_unref(frame_);
      if (sent < 0) return AVIERR_COMPRESSOR;
      if (const HRESULT hr = drain(); hr != AVIERR_OK) return hr;
    }
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(at));
    return AVIERR_OK;
  }

  // Each packet the encoder has is one chunk of the source stream.
  HRESULT drain() {
    for (;;) {
      const int r = avcodec_receive_packet(ctx_, packet_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return AVIERR_OK;
      if (r < 0) return AVIERR_COMPRESSOR;
      const HRESULT hr = source_->write(-1, 1, std::span(packet_->data, std::size_t(packet_->size)), AVIIF_KEYFRAME,
                                        nullptr, nullptr);
      av_packet_unref(packet_);
      if (hr != AVIERR_OK) return hr;
    }
  }

  AviStream* source_;
  MPEGLAYER3WAVEFORMAT output_;
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int channels_ = 2;
  int skip_ = 0;
  std::int64_t pts_ = 0;
  bool flushed_ = false;
  std::vector<std::int16_t> pending_;
};

}  // namespace

AviStream* newSoundCompressingStream(AviStream* source, const MPEGLAYER3WAVEFORMAT& output) {
  if (!avcodec_find_encoder_by_name("libmp3lame")) return nullptr;
  return new SoundCompressingStream(source, output);
}

}  // namespace vfw::detail
