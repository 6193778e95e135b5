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

#include "platform/vfw/avifile_internal.h"
#include "platform/vfw/vfw.h"

namespace vfw {

struct CompressorInfo {
  FOURCC fccHandler;   // what the stream header and COMPVARS carry ('DIB ' for full frames)
  QString name;        // shown in the compressor dialog
  bool lossless;
  bool usesQuality;    // the quality slider means something
  bool usesDataRate;   // "Data rate" means something
  const char* encoder;  // libavcodec encoder name ("" for full frames)
  // Makes delta frames: the dialog's "Key frame every" applies. Intra-only
  // compressors make every frame a key frame whatever it says.
  bool temporal = false;
  // The key-frame spacing the dialog starts at (frames), as the platform's
  // compressors each report one; 1 for intra-only ones.
  LONG defaultKeyFrameEvery = 1;
};

// Every compressor this machine offers, "Full Frames (Uncompressed)" first.
const std::vector<CompressorInfo>& compressors();
const CompressorInfo* findCompressor(FOURCC fccHandler);
// Whether the compressor can take frames of this input format (a
// BITMAPINFOHEADER, possibly followed by a colour table or masks).
bool compressorAccepts(const CompressorInfo& c, std::span<const std::uint8_t> inputFormat);
// Why not, in words that finish "<compressor name> ...", e.g. "needs an even
// width and height"; empty when it can.
QString compressorRefusal(const CompressorInfo& c, std::span<const std::uint8_t> inputFormat);

struct EncoderOptions {
  LONG quality = ICQUALITY_DEFAULT;  // 0..10000 or ICQUALITY_DEFAULT
  LONG keyFrameEvery = 0;            // frames; 0 or 1 = every frame (intra-only compressors: always)
  LONG kilobytesPerSecond = 0;       // 0 = no data-rate target
  int framesPerSecond = 0;           // for rate control; 0 = unknown
  int threads = -1;  // -1: the compressor's own default (measured, see codec.cpp); 0: libavcodec's choice; n: n
  // The caller takes packets later than their frames (a writer with a
  // thread of its own, a build from files): where every frame is a key
  // frame, encoders then run frame threads, which hold a few frames back
  // and cost less per frame than slices. compress() may then give no
  // packet; drain() gives the held ones at the end.
  bool allowDelay = false;
  // Frames come at framesPerSecond (a live recording), not as fast as they
  // can be made: frame threads only where one thread would not keep up.
  bool paced = false;
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
  // prepare() of a frame given as rows where they lie (FrameRows).
  virtual HRESULT prepareRows(FrameRows rows) = 0;
  virtual HRESULT compress(bool forceKey, std::span<const std::uint8_t>& packet, bool& isKey) = 0;
  // The next packet the encoder held back, in order; an empty packet once
  // it holds none. After a drain the encoder starts afresh at the next
  // frame. The packet stays valid as compress()'s does.
  virtual HRESULT drain(std::span<const std::uint8_t>& packet, bool& isKey) {
    packet = {};
    isKey = false;
    return AVIERR_OK;
  }
  // Whether compress() does enough work to be worth running beside the next
  // prepare(); false when preparing the frame is all there is to it.
  virtual bool worthOverlapping() const { return true; }
  // Whether the packet is the input's rows unchanged (full frames that
  // need no widening): a caller holding rows may then give them straight
  // to the file, which turns them over as it writes them.
  virtual bool passesRowsThrough() const { return false; }
};

// Creates the encoder for a compressor and an input format. AVIERR_OK, or
// AVIERR_NOCOMPRESSOR / AVIERR_BADFORMAT / AVIERR_UNSUPPORTED / AVIERR_MEMORY.
HRESULT createEncoder(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, const EncoderOptions& options,
                      std::unique_ptr<Encoder>& out);

// A screen-like picture (gradients, a flat window with text-like strokes)
// packed as DIB rows of the input format; empty if the format is unusable.
// `seed` moves the content so successive frames differ a little.
std::vector<std::uint8_t> syntheticFrame(std::span<const std::uint8_t> inputFormat, int seed = 0);

// Frames per second that recording with this compressor sustains on frames
// of this input format: each synthetic frame is converted to the encoder's
// pixels, compressed, and its packet written to a temporary file, for about
// `budgetSeconds` (at least one frame, at most `maxFrames`). The file lives
// in the system's temporary folder and is not synced, so a disk slower than
// the system's write cache can absorb shows up only in long recordings.
// Returns a negative value if the compressor cannot take the format, or if
// *cancel becomes true before a figure is known. Safe to call from a worker
// thread.
double measureFrameRate(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, double budgetSeconds = 0.25,
                        int maxFrames = 8, const std::atomic<bool>* cancel = nullptr);

// What a trial recording found: the rate it sustained and the sizes of its
// packets. The first trial frame is a key frame; with a compressor that
// makes delta frames the others are delta frames (at least one is made),
// so both sizes are known; otherwise every frame is a key frame.
struct TrialResult {
  double framesPerSecond = -1;  // negative: no figure (refused, cancelled)
  double keyFrameBytes = -1;    // the first frame's packet
  double deltaFrameBytes = -1;  // the average of the others; negative when there were none
};
TrialResult runTrial(FOURCC fccHandler, std::span<const std::uint8_t> inputFormat, double budgetSeconds = 0.25,
                     int maxFrames = 8, const std::atomic<bool>* cancel = nullptr, LONG quality = ICQUALITY_DEFAULT);

// Bytes `frames` frames take with key frames every `keyFrameEvery` frames
// (the first one a key frame), at the trial's packet sizes: an estimate.
// Negative without a trial figure.
double estimatedBytes(const TrialResult& trial, LONG keyFrameEvery, double frames);

// What a person choosing a compressor needs to know about each one, for a
// given input format; the compressor dialog shows these, and so can a
// command line.
struct CompressorDescription {
  FOURCC fccHandler = 0;
  QString name;
  bool lossless = false;
  bool usable = false;
  QString refusal;               // why not usable (see compressorRefusal); empty when usable
  double framesPerSecond = -1;   // measureFrameRate's figure; negative when not measured
};

// Every compressor in compressors()' order. `inputFormat` is a
// BITMAPINFOHEADER, possibly followed by its colour table or masks; an empty
// one describes the compressors without a frame size (all usable, none
// measured). With `measure`, each usable compressor is timed with
// measureFrameRate's default budget, so this takes a while: about a quarter
// of a second per compressor, more for the slow ones at large sizes.
std::vector<CompressorDescription> describeCompressors(std::span<const std::uint8_t> inputFormat, bool measure);
// The same for a BI_RGB header of 16, 24 or 32 bits (no colour table).
std::vector<CompressorDescription> describeCompressors(const BITMAPINFOHEADER& in, bool measure);

// A measured rate as the dialog shows it: "1,234 fps" grouped in the
// current locale, tenths or hundredths below 10 frames/s, "over 1,000 fps"
// past `cap` (a figure that high only says "fast enough"), "n/a" for a
// negative one.
QString frameRateText(double fps, double cap = 1000);

}  // namespace vfw
