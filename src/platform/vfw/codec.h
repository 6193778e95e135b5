#pragma once
// The compressors behind the AVI library: a table of libavcodec encoders
// (plus uncompressed full frames), each with its display name, fourcc and
// the input formats it accepts, and one encoder object per compressing
// stream. The dialog that picks one is in compressordialog.h (it also says
// how tests pick a compressor through it).
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/vfw/vfw.h"

namespace vfw {

struct CompressorInfo {
  FOURCC fccHandler;   // what the stream header and COMPVARS carry ('DIB ' for full frames)
  QString name;        // shown in the compressor dialog
  bool lossless;
  bool usesQuality;    // the quality slider means something
  bool usesDataRate;   // "Data rate" means something
  const char* encoder;  // libavcodec encoder name ("" for full frames)
};

// Every compressor this machine offers, "Full Frames (Uncompressed)" first.
const std::vector<CompressorInfo>& compressors();
const CompressorInfo* findCompressor(FOURCC fccHandler);
// Whether the compressor can take frames of this input format (a
// BITMAPINFOHEADER, possibly followed by a colour table or masks).
bool compressorAccepts(const CompressorInfo& c, std::span<const std::uint8_t> inputFormat);

struct EncoderOptions {
  LONG quality = ICQUALITY_DEFAULT;  // 0..10000 or ICQUALITY_DEFAULT
  LONG keyFrameEvery = 0;            // frames; 0 or 1 = every frame
  LONG kilobytesPerSecond = 0;       // 0 = no data-rate target
  int framesPerSecond = 0;           // for rate control; 0 = unknown
  int threads = -1;  // -1: the compressor's own default (measured, see codec.cpp); 0: libavcodec's choice; n: n
};

class Encoder {
 public:
  virtual ~Encoder() = default;
  // What the stream's 'strf' chunk holds: a BITMAPINFOHEADER of the output
  // followed by extradata, colour table or masks as the format needs.
  virtual std::span<const std::uint8_t> outputFormat() const = 0;
  // Compresses one packed DIB frame (rows as the input header says, each
  // padded to 32 bits). forceKey asks for an intra frame. On success
  // `packet` refers to the encoder's own buffer, valid until the next call.
  HRESULT encode(std::span<const std::uint8_t> dibBits, bool forceKey, std::span<const std::uint8_t>& packet,
                 bool& isKey) {
    if (const HRESULT hr = prepare(dibBits); hr != AVIERR_OK) return hr;
    return compress(forceKey, packet, isKey);
  }

  // encode() in two steps, for a caller that overlaps frames: prepare()
  // turns a frame into the encoder's own pixels, compress() compresses the
  // oldest prepared frame not yet compressed. The encoder holds two
  // prepared frames, so prepare() of frame n + 1 may run on one thread while
  // compress() of frame n runs on another; calls of each kind stay in order
  // and a compress() follows every successful prepare(). `dibBits` is not
  // used after prepare() returns; compress()'s packet stays valid through
  // the compress() after it, so it can be written while the next frame
  // compresses.
  virtual HRESULT prepare(std::span<const std::uint8_t> dibBits) = 0;
  virtual HRESULT compress(bool forceKey, std::span<const std::uint8_t>& packet, bool& isKey) = 0;
  // Whether compress() does enough work to be worth running beside the next
  // prepare(); false when preparing the frame is all there is to it.
  virtual bool worthOverlapping() const { return true; }
};

// Creates the encoder for a compressor and an input format. AVIERR_OK, or
// AVIERR_NOCOMPRESSOR / AVIERR_BADFORMAT / AVIERR_UNSUPPORTED / AVIERR_MEMORY.
HRESULT createEncoder(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, const EncoderOptions& options,
                      std::unique_ptr<Encoder>& out);

// A screen-like picture (gradients, a flat window with text-like strokes)
// packed as DIB rows of the input format; empty if the format is unusable.
// `seed` moves the content so successive frames differ a little.
std::vector<std::uint8_t> syntheticFrame(std::span<const std::uint8_t> inputFormat, int seed = 0);

// Frames per second the compressor sustains on frames of this input format:
// encodes synthetic frames for about `budgetSeconds` (at least one, at most
// `maxFrames`). Returns a negative value if the compressor cannot take the
// format, or if *cancel becomes true before a figure is known. Safe to call
// from a worker thread.
double trialEncodeRate(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, double budgetSeconds = 0.3,
                       int maxFrames = 8, const std::atomic<bool>* cancel = nullptr);

}  // namespace vfw
