#pragma once
// The AVI video stream writer: a sequence of bitmaps of one size and depth
// becomes one compressed video stream in a new AVI file, with key frames
// at the interval chosen in the compressor dialog.
// The recorder owns one for its recording, the builder one per build.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"

namespace recording {

enum class OpenOutcome { Opened, FrameDataFailed, LibraryFailure };

// Computes the packed frame's header and pixel sizes. False when the bitmap
// has no pixels.
bool DIBFrameSizes(const gdi::Bitmap& bmp, std::uint32_t& headerSize, std::uint32_t& imageSize);
// Fills header (headerSize bytes) and bits (imageSize bytes) from the bitmap.
// False when the bitmap has no pixels or a buffer is smaller than its size.
bool DIBFrameFromBitmap(const gdi::Bitmap& bmp, std::span<std::uint8_t> header, std::span<std::uint8_t> bits);
// The bytes of a packed frame's header that describe its format: the info
// header with its whole colour table or masks. (GetDIBits leaves biClrUsed
// at 0, so biSize + 4 x biClrUsed would hand an 8-bit stream no palette.)
std::uint32_t DIBFormatSize(std::span<const std::uint8_t> header);

// The packed frame header `first` gives (colour table included): what the
// compressor dialog offers compressors for. False when it has no pixels.
bool frameFormat(const gdi::Bitmap& first, std::vector<std::uint8_t>& header);

// Shows the compressor dialog for frames of `format` under `title`; true
// with the choice, false when the user cancelled. With the frame rate the
// file will have (0: not known yet), the dialog says how large a minute of
// recording comes out.
bool chooseCompressor(const std::vector<std::uint8_t>& format, const QString& title, vfw::COMPVARS& choice,
                      int framesPerSecond = 0);

class AviWriter {
 public:
  AviWriter() = default;
  ~AviWriter() { close(); }
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Set before open by a caller that needs no frame in the file the moment
  // its write returns (the builder, the recorder's frame queue): the
  // writes then overlap, the encoder may hold a few frames (frame
  // threads), and finish writes the last ones and tells whether they got
  // there.
  void setOverlap(bool on) { overlapFrames_ = on; }
  // Set before open for a live recording: frames go to the disk past the
  // page cache (vfw::AVIFileSetDirectWrites).
  void setDirectWrites(bool on) { directWrites_ = on; }
  // Set before open when frames come at the file's rate (a live
  // recording): the compressor takes only the threads that rate needs
  // (vfw::AVIStreamSetPaced).
  void setPaced(bool on) { paced_ = on; }
  // Set before open: the file gets a sound stream beside the video, taking
  // 16-bit PCM at `rate` sample frames a second, `channels` channels, and
  // storing it as such or, `compressed`, as MP3 at 128 kbit/s.
  void setSound(bool on, int rate = 48000, int channels = 2, bool compressed = false) {
    sound_ = on;
    soundRate_ = rate;
    soundChannels_ = channels;
    soundCompressed_ = compressed;
  }
  bool hasSound() const { return soundStream_ != nullptr; }

  // Creates the file and its compressed stream for frames like `first`.
  // rateStep runs after the file is created and sets the stream's dwRate
  // (the recorder also times its timers there). It may throw; the writer
  // then releases what it opened and rethrows.
  OpenOutcome open(const gdi::Bitmap& first, const vfw::COMPVARS& compressor, const QString& fileName,
                   const std::function<void(vfw::AVISTREAMINFO&)>& rateStep);
  // Whether `bmp` is a frame of this file's size and depth.
  bool accepts(const gdi::Bitmap& bmp) const;
  // Writes `bmp` as frame `index` (a key frame or not, as the compressor
  // decides at its interval); the library's result (0 = written).
  // Another thread may write while this one only asks whether the writer
  // is open; nothing else of the writer may be used meanwhile.
  std::int32_t write(const gdi::Bitmap& bmp, std::int32_t index);
  // Appends interleaved samples to the sound stream, in chunks of at most
  // half a second; the library's result (0 = written, or nothing to write).
  // The same thread as write's.
  std::int32_t writeSound(std::span<const std::int16_t> interleaved);
  // The sound stream's length so far: sample frames of PCM, MP3 frames.
  std::int64_t soundInFile() const;
  // With overlap: writes the frames still being compressed. The result is
  // theirs (0 when there are none or the writer is closed).
  std::int32_t finish();
  // Frames in the file so far (not those still being compressed).
  std::int64_t framesInFile() const;
  // Completes the file's headers and indexes and releases it. False when
  // they could not all be written (lastErrno says why); a writer closed
  // already returns true and does nothing. A closed writer is never closed
  // or written again.
  bool close();
  // The errno of the file's first failed write, sync or completion (ENOSPC,
  // EFBIG, EIO, ...), 0 when none failed. Kept after the close.
  int lastErrno() const;

  // True from a successful open (or an open that created library objects)
  // until the close.
  bool isOpen() const { return opened_; }
  // The last library result.
  std::int32_t result() const { return aviResult_; }
  std::uint32_t headerSize() const { return headerSize_; }
  std::uint32_t imageSize() const { return imageSize_; }

 private:
  OpenOutcome fail();
  void freeBuffers();

  vfw::PAVIFILE aviFile_ = nullptr;
  vfw::PAVISTREAM rawStream_ = nullptr;
  vfw::PAVISTREAM compressedStream_ = nullptr;
  vfw::PAVISTREAM soundStream_ = nullptr;
  vfw::PAVISTREAM soundCompressor_ = nullptr;  // MP3: takes the PCM
  std::unique_ptr<vfw::AVISTREAMINFO> streamInfo_;
  std::unique_ptr<vfw::COMPVARS> compressorVars_;
  // Its lpFormat points at frameHeader_; AVISaveOptionsFree lets go of what
  // the record refers to, and the release then frees the record.
  std::unique_ptr<vfw::AVICOMPRESSOPTIONS> compressOptions_;
  std::vector<std::uint8_t> frameHeader_;  // allocated once per file
  std::uint32_t headerSize_ = 0;
  std::vector<std::uint8_t> frameBits_;  // allocated once per file
  std::uint32_t imageSize_ = 0;
  std::int32_t aviResult_ = 0;
  int lastErrno_ = 0;
  bool opened_ = false;
  bool overlapFrames_ = false;
  bool paced_ = false;
  bool directWrites_ = false;
  bool sound_ = false;
  int soundRate_ = 48000;
  int soundChannels_ = 2;
  bool soundCompressed_ = false;
};

}  // namespace recording
