#pragma once
// The AVI video stream writer: a sequence of bitmaps of one size and depth
// becomes one compressed video stream of key frames in a new AVI file.
// The recorder keeps this state in its main window, the builder per build.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"

struct TAviWriterState {
  vfw::PAVIFILE aviFile = nullptr;
  vfw::PAVISTREAM rawStream = nullptr;
  vfw::PAVISTREAM compressedStream = nullptr;
  std::unique_ptr<vfw::AVISTREAMINFO> streamInfo;
  std::unique_ptr<vfw::COMPVARS> compressorVars;
  // Its lpFormat points at frameHeader; AVISaveOptionsFree lets go of what
  // the record refers to, and the release then frees the record.
  std::unique_ptr<vfw::AVICOMPRESSOPTIONS> compressOptions;
  std::vector<std::uint8_t> frameHeader;  // allocated once per file
  std::uint32_t headerSize = 0;
  std::vector<std::uint8_t> frameBits;    // allocated once per file
  std::uint32_t imageSize = 0;
  std::int32_t aviResult = 0;
  // True from a successful open (or an open that created library objects)
  // until the release; a released state is never released or written again.
  bool opened = false;
  // Set before the open by a caller that writes frames as fast as it can
  // and needs no frame in the file the moment its write returns (the
  // builder): the writes then overlap, and finishvideoframes writes the
  // last frame and tells whether it got there.
  bool overlapFrames = false;
};

enum class OpenOutcome { Opened, FrameDataFailed, DialogCancelled, LibraryFailure };

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

// rateStep runs after the file is created and sets streamInfo.dwRate (the
// recorder also sets its timer intervals there). It may throw (a frame rate
// that is not a whole number); the writer then releases what it opened and
// rethrows.
OpenOutcome openvideostream(TAviWriterState& w, const gdi::Bitmap& first, const QString& title,
                            const QString& fileName, const std::function<void(vfw::AVISTREAMINFO&)>& rateStep);
std::int32_t writevideoframe(TAviWriterState& w, const gdi::Bitmap& bmp, std::int32_t index);
// With overlapFrames: writes the frame still being compressed. The result
// is that frame's (0 when there is none or the state is closed).
std::int32_t finishvideoframes(TAviWriterState& w);
void releasevideostream(TAviWriterState& w);
