#pragma once
// The compressors behind the AVI library: a table of libavcodec encoders
// (plus uncompressed full frames), each with its display name, fourcc and
// the input formats it accepts, and one encoder object per compressing
// stream.
#include <QString>
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
  int threads = 1;                   // encoder threads; 0 = as many as libavcodec likes
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
  virtual HRESULT encode(std::span<const std::uint8_t> dibBits, bool forceKey, std::span<const std::uint8_t>& packet,
                         bool& isKey) = 0;
};

// Creates the encoder for a compressor and an input format. AVIERR_OK, or
// AVIERR_NOCOMPRESSOR / AVIERR_BADFORMAT / AVIERR_UNSUPPORTED / AVIERR_MEMORY.
HRESULT createEncoder(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, const EncoderOptions& options,
                      std::unique_ptr<Encoder>& out);

}  // namespace vfw
