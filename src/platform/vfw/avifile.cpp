// The AVI file library: reference-counted file and stream objects over our
// own RIFF writer (riffwriter.h), indexes (aviindex.h) and compressing
// stream (compressingstream.h). The file decides what the header says and
// when each index is written.
//
// File layout, chosen so that a file stays readable however it ends:
//
//   RIFF 'AVI '
//     LIST 'hdrl'  avih, LIST 'strl' (strh, strf, indx or JUNK) for the video
//                  [and one for the sound], odml or JUNK
//     JUNK         so that the first frame chunk starts on a 2048-byte boundary
//     LIST 'movi'  00db/00dc [and 01wb] chunks [ix00 (ix01) once the file has
//                  several RIFFs]
//     idx1         both streams' chunks
//   RIFF 'AVIX' (LIST 'movi' chunks ix00 ix01) ...  past about 1 GiB each
//
// The header's 'indx' has room for 256 RIFFs. A longer file continues it in
// 'indx' chunks of the same size in the movi lists, each pointed at by the
// last entry of the one before (aviindex.h).
//
// The header is written whole when the stream's format is set, before the
// first frame, so the file is a recognisable AVI from then on. While frames
// are appended, the RIFF and movi sizes and the frame counts in avih, strh
// and dmlh are patched in place about once a second and at every RIFF
// change. A killed recorder therefore leaves a file whose sizes cover every
// frame up to the last update; FFmpeg reads the frames of such a file by
// walking movi, and also the whole frames appended after the update (a cut
// chunk at the very end runs past the file and is dropped). An idx1 is not
// kept on disk between updates: frames written over a stale index would
// leave index entries behind that a reader walking movi takes for tiny
// frames. The indexes are written when a RIFF is closed and at the end.
//
// A failed write (disk full, EFBIG past the process's file size limit, an
// I/O error) makes every later write fail; at the release the file is cut
// back to the last whole chunk and closed with its index, or, when even the
// index no longer fits, with sizes that cover the frames. The errno of that
// first failure is kept for AVIFileLastErrno. The file is also synced to the
// disk about once a second on a thread of its own (riffwriter.cpp); a sync
// that failed fails the next write the same way.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/gdi/bitmap.h"
#include "platform/vfw/avifile_internal.h"
#include "platform/vfw/aviindex.h"
#include "platform/vfw/codec.h"
#include "platform/vfw/compressingstream.h"
#include "platform/vfw/riffwriter.h"
#include "platform/vfw/vfw.h"

namespace vfw {

namespace {

using detail::AviIndex;
using detail::Bytes;
using detail::checkVideoFormat;
using detail::junkChunk;
using detail::readInfoHeader;
using detail::RiffWriter;
using detail::tag;

void copyOpaquePixel(const std::uint8_t* src, std::uint8_t* dst) {
  std::uint32_t px;
  std::memcpy(&px, src, 4);
  px |= 0xFF000000u;
  std::memcpy(dst, &px, 4);
}

#if defined(__SSE2__)
// How far the copy asks for the source ahead of where it reads. Rows the
// X server has just written into the grab's segment came in at half the
// speed without it (2.1-2.5 ms a 1080p frame against 1.0-1.3 with it): the
// hardware's own prefetcher starts again at every 4 KiB page, and the rows
// are read from the last up. Past the end of a row it asks for the start of
// the row read next (a prefetch never faults, so on rows narrower than the
// distance it may ask for bytes past that row, to no harm).
constexpr std::size_t kReadAhead = 4096;

inline void readAhead(const std::uint8_t* row, const std::uint8_t* next, std::size_t bytes, std::size_t at) {
  const std::size_t ahead = at + kReadAhead;
  if (ahead < bytes)
    _mm_prefetch(reinterpret_cast<const char*>(row + ahead), _MM_HINT_T0);
  else if (next)
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(next) + (ahead - bytes)), _MM_HINT_T0);
}

template <bool Stream>
std::size_t copyOpaqueBlocks(const std::uint8_t* __restrict src, const std::uint8_t* next, std::uint8_t* __restrict dst,
                             std::size_t bytes, std::size_t x) {
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const auto one = [&](std::size_t at) {
    const __m128i px = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at)), alpha);
    if constexpr (Stream)
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + at), px);
    else
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at), px);
  };
  for (; x + 64 <= bytes; x += 64) {
    readAhead(src, next, bytes, x);
    one(x);
    one(x + 16);
    one(x + 32);
    one(x + 48);
  }
  for (; x + 16 <= bytes; x += 16) one(x);
  return x;
}
#endif

// One row of 32-bit pixels with the spare byte set. Sixteen bytes at a
// time where the target has SSE2 (every x86-64): the plain loop compiles to
// one pixel per step and cost a 1080p frame 2.3 ms, over a third of writing it.
// `next` is the source row copied after this one, or null.
//
// `stream`: the row goes to the disk straight from where it is copied to
// (a direct write), and nothing here reads it again, so it is stored past
// the caches. Ordinary stores first read every line they fill and leave it
// dirty in the cache for the disk's transfer to fetch back: streaming
// stores saved about a tenth of the copy. Through the page cache the kernel
// copies the row at once, and there it is best found in the cache.
void copyOpaque(const std::uint8_t* __restrict src, const std::uint8_t* next, std::uint8_t* __restrict dst,
                std::size_t bytes, bool stream) {
  std::size_t x = 0;
#if defined(__SSE2__)
  if (stream) {
    // Streaming stores want aligned targets; pixels are 4 bytes, so at most
    // three go the ordinary way first.
    for (; x + 4 <= bytes && (reinterpret_cast<std::uintptr_t>(dst + x) & 15) != 0; x += 4)
      copyOpaquePixel(src + x, dst + x);
    x = copyOpaqueBlocks<true>(src, next, dst, bytes, x);
  } else {
    x = copyOpaqueBlocks<false>(src, next, dst, bytes, x);
  }
#else
  (void)next;
  (void)stream;
#endif
  for (; x + 4 <= bytes; x += 4) copyOpaquePixel(src + x, dst + x);
}

// Streamed stores are ordered before what the writes that follow read.
void endStreaming() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

constexpr std::uint32_t kDmlhData = 248;
constexpr std::uint32_t kOdmlData = 4 + 8 + kDmlhData;
constexpr std::uint32_t kAvihPos = 24;   // chunk header; data 8 bytes later
constexpr std::uint32_t kStrhPos = 100;  // chunk header; data 8 bytes later
constexpr std::uint32_t kStrfPos = 164;

constexpr DWORD AVIF_HASINDEX = 0x10;
constexpr DWORD AVIF_ISINTERLEAVED = 0x100;
constexpr std::uint32_t kStrlHead = 12;             // LIST size 'strl'
constexpr std::uint32_t kStrhChunk = 8 + 56;
constexpr std::uint32_t kIndxChunk = 8 + AviIndex::kIndxData;

// 16-bit PCM, 48 kHz, stereo: what a sound stream has until it is told.
WAVEFORMATEX defaultSoundFormat() {
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = 2;
  w.nSamplesPerSec = 48000;
  w.wBitsPerSample = 16;
  w.nBlockAlign = 4;
  w.nAvgBytesPerSec = 192000;
  return w;
}

std::atomic<int> g_initCount{0};

std::int16_t clampShort(LONG v) {
  return static_cast<std::int16_t>(std::clamp<LONG>(v, std::numeric_limits<std::int16_t>::min(),
                                                    std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

// ---------------------------------------------------------------------------
// The file

class AviFile {
 public:
  explicit AviFile(int fd) : riff_(fd) {}
  AviFile(const AviFile&) = delete;
  AviFile& operator=(const AviFile&) = delete;

  unsigned long addRef() { return ++refs_; }
  unsigned long release() {
    const unsigned long left = --refs_;
    if (left == 0) {
      complete();
      delete this;
    }
    return left;
  }

  // Runs the last update once; the release after it writes nothing.
  HRESULT complete() {
    if (!completed_) {
      completed_ = true;
      completeResult_ = finish() ? AVIERR_OK : AVIERR_FILEWRITE;
    }
    return completeResult_;
  }

  int lastErrno() const { return riff_.lastErrno(); }
  std::uint64_t frames() const { return frames_; }
  HRESULT setDirectWrites(bool on) { return riff_.setDirectWrites(on) ? AVIERR_OK : AVIERR_UNSUPPORTED; }

  bool hasStream() const { return haveStream_; }
  const AVISTREAMINFOA& info() const { return info_; }

  bool hasSound() const { return haveSound_; }
  const AVISTREAMINFOA& soundInfo() const { return soundInfo_; }
  std::uint64_t soundSamples() const { return soundSamples_; }

  // The sound stream beside the video: after it, before the header.
  HRESULT createSoundStream(const AVISTREAMINFOA& si) {
    if (!haveStream_ || haveSound_ || riff_.started()) return AVIERR_UNSUPPORTED;
    if (si.dwScale == 0 || si.dwRate == 0) return AVIERR_BADFORMAT;
    soundInfo_ = si;
    haveSound_ = true;
    const WAVEFORMATEX w = defaultSoundFormat();
    setSoundFormat(w, std::span(reinterpret_cast<const std::uint8_t*>(&w), sizeof w));
    return AVIERR_OK;
  }

  HRESULT setSoundFormatBytes(std::span<const std::uint8_t> fmt) {
    if (completed_) return AVIERR_UNSUPPORTED;
    if (fmt.size() < 16) return AVIERR_BADFORMAT;
    WAVEFORMATEX w{};
    std::memcpy(&w, fmt.data(), std::min(fmt.size(), sizeof w));
    if (fmt.size() < sizeof w) w.cbSize = 0;
    if (w.wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
      // A frame a chunk: whatever the chunk's size, its length is one.
      if (fmt.size() < sizeof(MPEGLAYER3WAVEFORMAT) || w.cbSize < 12 || w.nChannels == 0 || w.nSamplesPerSec == 0)
        return AVIERR_BADFORMAT;
      const std::span<const std::uint8_t> whole = fmt.first(sizeof(MPEGLAYER3WAVEFORMAT));
      if (riff_.started())
        return std::equal(whole.begin(), whole.end(), soundFormatBytes_.begin(), soundFormatBytes_.end())
                   ? AVIERR_OK
                   : AVIERR_UNSUPPORTED;
      setSoundFormat(w, whole);
      return AVIERR_OK;
    }
    // PCM of whole bytes a sample, its block the samples of one instant.
    if (w.wFormatTag != WAVE_FORMAT_PCM || w.nChannels == 0 || w.nSamplesPerSec == 0 ||
        (w.wBitsPerSample != 8 && w.wBitsPerSample != 16) || w.nBlockAlign != w.nChannels * w.wBitsPerSample / 8 ||
        w.nAvgBytesPerSec != w.nSamplesPerSec * w.nBlockAlign)
      return AVIERR_BADFORMAT;
    if (riff_.started()) return std::memcmp(&w, &soundFormat_, sizeof w) == 0 ? AVIERR_OK : AVIERR_UNSUPPORTED;
    setSoundFormat(w, std::span(reinterpret_cast<const std::uint8_t*>(&w), sizeof w));
    return AVIERR_OK;
  }
  bool soundCompressed() const { return soundFormat_.wFormatTag != WAVE_FORMAT_PCM; }

  // One chunk of whole sample frames.
  HRESULT writeSound(LONG samples, std::span<const std::uint8_t> data) {
    if (completed_) return AVIERR_UNSUPPORTED;
    if (!riff_.started()) return AVIERR_BADFORMAT;
    if (riff_.failed()) return AVIERR_FILEWRITE;
    const std::uint32_t block = soundCompressed() ? 1 : soundFormat_.nBlockAlign;
    if (data.size() > 0x7fffffffu || data.size() % block != 0) return AVIERR_BADSIZE;
    const std::uint64_t units = soundCompressed() ? 1 : data.size() / block;
    if (samples >= 0 && std::uint64_t(samples) != units) return AVIERR_BADSIZE;
    if (data.empty()) return AVIERR_OK;
    if (!startChunk()) return AVIERR_FILEWRITE;
    const FOURCC id = tag("01wb");
    const auto size = std::uint32_t(data.size());
    const std::optional<std::uint64_t> at = riff_.appendChunk(id, data);
    if (!at) return AVIERR_FILEWRITE;
    index_.addToIdx1(id, true, *at, riff_.moviFourcc(), size);
    soundIndex_.addToSegment(true, *at, size, std::uint32_t(units));
    soundSamples_ += units;
    maxSoundChunk_ = std::max(maxSoundChunk_, size);
    return checkpointIfDue();
  }

  HRESULT createStream(const AVISTREAMINFOA& si) {
    if (si.fccType == streamtypeAUDIO) return createSoundStream(si);
    if (haveStream_ || riff_.started()) return AVIERR_UNSUPPORTED;  // one video stream per file
    if (si.fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    if (si.dwScale == 0 || si.dwRate == 0) return AVIERR_BADFORMAT;
    info_ = si;
    haveStream_ = true;
    return AVIERR_OK;
  }

  HRESULT setFormat(std::span<const std::uint8_t> fmt) {
    if (!haveStream_) return AVIERR_BADHANDLE;
    if (completed_) return AVIERR_UNSUPPORTED;
    if (const HRESULT hr = checkVideoFormat(fmt); hr != AVIERR_OK) return hr;
    if (riff_.started()) {
      // The header's place on disk is fixed; only the same format again.
      if (fmt.size() == format_.size() && std::equal(fmt.begin(), fmt.end(), format_.begin())) return AVIERR_OK;
      return AVIERR_UNSUPPORTED;
    }
    if (riff_.failed()) return AVIERR_FILEWRITE;
    format_.assign(fmt.begin(), fmt.end());
    const BITMAPINFOHEADER h = readInfoHeader(fmt);
    const DWORD compression = h.biCompression;
    chunkId_ = (compression == gdi::BI_RGB || compression == gdi::BI_BITFIELDS) ? tag("00db") : tag("00dc");
    opaque_ = compression == gdi::BI_RGB && h.biBitCount == 32;
    return writeHeader() ? AVIERR_OK : AVIERR_FILEWRITE;
  }

  HRESULT write(LONG start, std::span<const std::uint8_t> data, bool key) {
    if (const HRESULT hr = readyFor(start, data.size()); hr != AVIERR_OK) return hr;
    if (opaque_) {
      // Packed rows are stored as the file stores them.
      const std::size_t rowBytes = std::size_t(gdi::rowBytes(formatHeader().biWidth, 32));
      if (rowBytes == 0 || data.size() % rowBytes != 0) return AVIERR_BADSIZE;
      return appendRows(data.data(), std::ptrdiff_t(rowBytes), data.size() / rowBytes, key);
    }
    return appendChunk(chunkId_, data, key);
  }

  // An uncompressed frame of the stream's format given as rows where they
  // lie: turned into the file's row order on the way, never packed first.
  HRESULT writeRows(LONG start, FrameRows rows, bool key) {
    const BITMAPINFOHEADER h = formatHeader();
    if (riff_.started() && h.biCompression != gdi::BI_RGB && h.biCompression != gdi::BI_BITFIELDS)
      return AVIERR_UNSUPPORTED;
    const std::int64_t height = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    const std::int64_t rowBytes = gdi::rowBytes(h.biWidth, h.biBitCount);
    if (!rows.top || std::abs(rows.stride) < rowBytes) return AVIERR_BADPARAM;
    if (const HRESULT hr = readyFor(start, std::uint64_t(rowBytes * height)); hr != AVIERR_OK) return hr;
    // A positive height stores the bottom row first.
    const bool bottomUp = h.biHeight > 0;
    const std::uint8_t* first = bottomUp ? rows.top + (height - 1) * rows.stride : rows.top;
    return appendRows(first, bottomUp ? -rows.stride : rows.stride, std::size_t(height), key);
  }

 private:
  BITMAPINFOHEADER formatHeader() const {
    BITMAPINFOHEADER h{};
    if (format_.size() >= sizeof h) h = readInfoHeader(format_);
    return h;
  }

  // Whether a frame of `bytes` may go at `start`; the positions skipped
  // before it become empty chunks, which readers show as the previous frame
  // repeated, so every frame lands at its index.
  HRESULT readyFor(LONG& start, std::uint64_t bytes) {
    if (completed_) return AVIERR_UNSUPPORTED;
    if (!riff_.started()) return AVIERR_BADFORMAT;  // no format yet
    if (riff_.failed()) return AVIERR_FILEWRITE;
    if (bytes > 0x7fffffffu) return AVIERR_BADSIZE;
    if (start < 0) start = LONG(frames_);
    if (std::uint64_t(start) < frames_) return AVIERR_UNSUPPORTED;  // frames are only appended
    if (std::uint64_t(start) - frames_ > 1000000) return AVIERR_BADPARAM;
    while (frames_ < std::uint64_t(start))
      if (const HRESULT hr = appendChunk(tag("00dc"), {}, false); hr != AVIERR_OK) return hr;
    return AVIERR_OK;
  }

  // `count` rows of the format, `first` the one stored first and `step` the
  // bytes to the next one stored. They are copied straight into the
  // writer's buffer, whole rows at a time, with the spare byte of 32-bit
  // pixels set: that byte is alpha to readers (FFmpeg takes such frames for
  // BGRA), and 0 there would make every picture taken from the file
  // transparent.
  HRESULT appendRows(const std::uint8_t* first, std::ptrdiff_t step, std::size_t count, bool key) {
    const BITMAPINFOHEADER h = formatHeader();
    const auto rowBytes = std::size_t(gdi::rowBytes(h.biWidth, h.biBitCount));
    std::size_t done = 0;
    const bool stream = riff_.writesDirect();
    const auto fill = [&](std::span<std::uint8_t> room) -> std::size_t {
      const std::size_t n = std::min(room.size() / rowBytes, count - done);
      for (std::size_t r = 0; r < n; ++r) {
        const std::uint8_t* src = first + std::ptrdiff_t(done + r) * step;
        std::uint8_t* dst = room.data() + r * rowBytes;
        const std::uint8_t* next = done + r + 1 < count ? src + step : nullptr;
        if (opaque_)
          copyOpaque(src, next, dst, rowBytes, stream);
        else
          std::memcpy(dst, src, rowBytes);
      }
      if (stream) endStreaming();
      done += n;
      return n * rowBytes;
    };
    return appendChunk(chunkId_, std::uint32_t(count * rowBytes), fill, key);
  }

  Bytes avih() const {
    Bytes o;
    const std::uint64_t rate = info_.dwRate, scale = info_.dwScale;
    const std::uint64_t soundRate = haveSound_ ? soundFormat_.nAvgBytesPerSec : 0;
    o.u32(rate ? std::uint32_t(std::min<std::uint64_t>(1000000ull * scale / rate, 0xffffffffu)) : 0);
    o.u32(scale ? std::uint32_t(std::min<std::uint64_t>(
                      std::uint64_t(suggestedBuffer()) * rate / scale + soundRate, 0xffffffffu))
                : 0);
    o.u32(0);
    // Not AVIF_TRUSTCKTYPE: compressed key frames are '00dc' chunks, which
    // readers trusting the chunk type would take for delta frames.
    o.u32(AVIF_HASINDEX | (haveSound_ ? AVIF_ISINTERLEAVED : 0));
    o.u32(index_.inFirstRiff() ? std::uint32_t(frames_) : firstRiffFrames_);
    o.u32(0);
    o.u32((haveStream_ ? 1 : 0) + (haveSound_ ? 1 : 0));
    o.u32(std::max(suggestedBuffer(), maxSoundChunk_));
    BITMAPINFOHEADER h{};
    if (format_.size() >= sizeof h) h = readInfoHeader(format_);
    o.u32(std::uint32_t(h.biWidth));
    o.u32(std::uint32_t(h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight));
    o.zeros(16);
    return o;
  }

  // The caller's buffer size, unless a chunk turned out larger.
  std::uint32_t suggestedBuffer() const { return std::max(info_.dwSuggestedBufferSize, maxChunk_); }

  Bytes strh() const { return streamHeader(info_, info_.fccType, frames_, suggestedBuffer(), info_.rcFrame); }

  // The sound stream's header: its length in sample frames, and a buffer
  // of the largest chunk written (half a second until one is).
  Bytes soundStrh() const {
    return streamHeader(soundInfo_, streamtypeAUDIO, soundSamples_,
                        maxSoundChunk_ ? maxSoundChunk_ : soundFormat_.nAvgBytesPerSec / 2, RECT{});
  }

  static Bytes streamHeader(const AVISTREAMINFOA& info, FOURCC type, std::uint64_t length, std::uint32_t buffer,
                            const RECT& frame) {
    Bytes o;
    o.u32(type);
    o.u32(info.fccHandler);
    o.u32(info.dwFlags);
    o.u16(info.wPriority);
    o.u16(info.wLanguage);
    o.u32(info.dwInitialFrames);
    o.u32(info.dwScale);
    o.u32(info.dwRate);
    o.u32(info.dwStart);
    o.u32(std::uint32_t(std::min<std::uint64_t>(length, 0xffffffffu)));
    o.u32(buffer);
    o.u32(info.dwQuality);
    o.u32(info.dwSampleSize);
    o.u16(std::uint16_t(clampShort(frame.left)));
    o.u16(std::uint16_t(clampShort(frame.top)));
    o.u16(std::uint16_t(clampShort(frame.right)));
    o.u16(std::uint16_t(clampShort(frame.bottom)));
    return o;
  }

  void setSoundFormat(const WAVEFORMATEX& w, std::span<const std::uint8_t> bytes) {
    soundFormat_ = w;
    soundFormatBytes_.assign(bytes.begin(), bytes.end());
    // One unit of the stream's length is one sample frame of PCM, or one
    // chunk (an MP3 frame) of a compressed stream.
    soundInfo_.dwSampleSize = w.wFormatTag == WAVE_FORMAT_PCM ? w.nBlockAlign : 0;
  }

  Bytes odml() const {
    if (index_.inFirstRiff()) return junkChunk(kOdmlData);
    Bytes o;
    o.u32(tag("LIST"));
    o.u32(kOdmlData);
    o.u32(tag("odml"));
    o.u32(tag("dmlh"));
    o.u32(kDmlhData);
    o.u32(std::uint32_t(std::min<std::uint64_t>(frames_, 0xffffffffu)));
    o.zeros(kDmlhData - 4);
    return o;
  }

  // The whole header up to the first frame chunk. A file released before
  // its stream had a format gets a plain 32-bit format of the frame
  // rectangle, so it still opens as an (empty) video file.
  bool writeHeader() {
    if (format_.empty() && haveStream_) {
      BITMAPINFOHEADER h{};
      h.biSize = sizeof h;
      h.biWidth = std::max<LONG>(1, info_.rcFrame.right - info_.rcFrame.left);
      h.biHeight = std::max<LONG>(1, info_.rcFrame.bottom - info_.rcFrame.top);
      h.biPlanes = 1;
      h.biBitCount = 32;
      h.biSizeImage = DWORD(h.biWidth) * DWORD(h.biHeight) * 4;
      const auto* p = reinterpret_cast<const std::uint8_t*>(&h);
      format_.assign(p, p + sizeof h);
      chunkId_ = tag("00db");
    }
    const std::uint32_t strfData = std::uint32_t(format_.size());
    const std::uint32_t strfPad = strfData & 1;
    indxPos_ = kStrfPos + 8 + strfData + strfPad;
    const std::uint64_t videoStrlEnd = indxPos_ + kIndxChunk;
    odmlPos_ = videoStrlEnd;
    if (haveSound_) {
      soundStrhPos_ = videoStrlEnd + kStrlHead;
      soundIndxPos_ = soundStrhPos_ + kStrhChunk + 8 + soundFormatBytes_.size() + (soundFormatBytes_.size() & 1);
      odmlPos_ = soundIndxPos_ + kIndxChunk;
    }
    const std::uint64_t hdrlEnd = odmlPos_ + 8 + kOdmlData;

    Bytes o;
    o.u32(tag("LIST"));
    o.u32(std::uint32_t(hdrlEnd - RiffWriter::kListsPos - 8));
    o.u32(tag("hdrl"));
    o.u32(tag("avih"));
    o.u32(56);
    o.bytes(avih().b);
    if (haveStream_) {
      o.u32(tag("LIST"));
      o.u32(std::uint32_t(videoStrlEnd - (kStrhPos - 12) - 8));
      o.u32(tag("strl"));
      o.u32(tag("strh"));
      o.u32(56);
      o.bytes(strh().b);
      o.u32(tag("strf"));
      o.u32(strfData);
      o.bytes(format_);
      o.zeros(strfPad);
      o.bytes(index_.indx(chunkId_).b);
    } else {
      // No stream: the strl's place is filled with JUNK of the same size.
      o.bytes(junkChunk(std::uint32_t(videoStrlEnd - (kStrhPos - 12) - 8)).b);
    }
    if (haveSound_) {
      o.u32(tag("LIST"));
      o.u32(std::uint32_t(odmlPos_ - videoStrlEnd - 8));
      o.u32(tag("strl"));
      o.u32(tag("strh"));
      o.u32(56);
      o.bytes(soundStrh().b);
      o.u32(tag("strf"));
      o.u32(std::uint32_t(soundFormatBytes_.size()));
      o.bytes(soundFormatBytes_);
      o.zeros(soundFormatBytes_.size() & 1);
      o.bytes(soundIndex_.indx(tag("01wb")).b);
    }
    o.bytes(odml().b);
    return riff_.start(o.b);
  }

  // What the header says that changes as frames come, at its fixed places.
  std::vector<RiffWriter::Field> headerFields() const {
    std::vector<RiffWriter::Field> fields;
    fields.push_back({kAvihPos + 8, avih().b});
    if (haveStream_) fields.push_back({kStrhPos + 8, strh().b});
    if (haveSound_) fields.push_back({soundStrhPos_ + 8, soundStrh().b});
    if (!index_.inFirstRiff()) {
      fields.push_back({indxPos_, index_.indx(chunkId_).b});
      fields.push_back({odmlPos_, odml().b});
      for (auto& c : index_.chainedIndexes(chunkId_)) fields.push_back({c.pos, std::move(c.chunk.b)});
      if (haveSound_) {
        fields.push_back({soundIndxPos_, soundIndex_.indx(tag("01wb")).b});
        for (auto& c : soundIndex_.chainedIndexes(tag("01wb"))) fields.push_back({c.pos, std::move(c.chunk.b)});
      }
    }
    return fields;
  }

  // A failure of the writer's (it remembers it).
  HRESULT appendChunk(FOURCC id, std::span<const std::uint8_t> data, bool key) {
    if (!startChunk()) return AVIERR_FILEWRITE;
    return chunkAppended(id, riff_.appendChunk(id, data), std::uint32_t(data.size()), key);
  }
  HRESULT appendChunk(FOURCC id, std::uint32_t size, const RiffWriter::Fill& fill, bool key) {
    if (!startChunk()) return AVIERR_FILEWRITE;
    return chunkAppended(id, riff_.appendChunk(id, size, fill), size, key);
  }
  // A RIFF past its limit ends before the next chunk.
  bool startChunk() {
    const bool any = index_.hasSegment() || soundIndex_.hasSegment();
    return !(riff_.riffFull() && any) || (closeRiff() && riff_.openAvix());
  }
  HRESULT chunkAppended(FOURCC id, std::optional<std::uint64_t> at, std::uint32_t size, bool key) {
    if (!at) return AVIERR_FILEWRITE;
    index_.add(id, key, *at, riff_.moviFourcc(), size);
    ++frames_;
    maxChunk_ = std::max(maxChunk_, size);
    return checkpointIfDue();
  }
  HRESULT checkpointIfDue() {
    if (riff_.checkpointDue() && !riff_.checkpoint(headerFields())) return AVIERR_FILEWRITE;
    return AVIERR_OK;
  }

  // The open RIFF's standard index of one stream (an empty one for a
  // stream without chunks there: both super indexes count every RIFF),
  // and a chained 'indx' after it when `chain` and the last one is full.
  bool appendStdIndex(AviIndex& index, FOURCC chunkId, bool chain) {
    const Bytes o = index.stdIndex(chunkId, riff_.moviFourcc());
    const std::optional<std::uint64_t> at = riff_.append(o.b);
    if (!at) return false;
    index.stdIndexWritten(*at, std::uint32_t(o.b.size()));
    if (chain && index.needsChainedIndx()) {
      const std::optional<std::uint64_t> linked = riff_.append(index.chainedIndx(chunkId).b);
      if (!linked) return false;
      index.chainedIndxWritten(*linked);
    }
    return true;
  }
  bool appendStdIndexes(bool chain) {
    return appendStdIndex(index_, chunkId_, chain) && (!haveSound_ || appendStdIndex(soundIndex_, tag("01wb"), chain));
  }

  // Ends the current RIFF: its standard indexes (and a chained 'indx' when
  // the last one is full), the movi size, the idx1 of the first RIFF, the
  // RIFF size and the super indexes in the header.
  bool closeRiff() {
    const bool first = index_.inFirstRiff();
    if (!appendStdIndexes(true)) return false;
    if (!riff_.closeMovi()) return false;
    if (first) {
      firstRiffFrames_ = std::uint32_t(frames_);
      if (!riff_.append(index_.idx1().b)) return false;
      index_.dropIdx1();  // written for good
    }
    return riff_.closeRiff(headerFields());
  }

  // Runs once, at AVIFileComplete or the last release. False when the file
  // could not be completed: its index or headers are not all on disk.
  bool finish() {
    if (!riff_.started() && !writeHeader()) return false;
    riff_.dropPartialChunk();
    const std::uint64_t moviEnd = riff_.pos();
    // A failed index write leaves the position and the indexes as they
    // were.
    bool indexed = true;
    if (index_.inFirstRiff())
      indexed = riff_.append(index_.idx1().b).has_value();
    else if (index_.hasSegment() || soundIndex_.hasSegment())
      indexed = appendStdIndexes(false);
    // In the first RIFF the movi list ends before idx1, which follows it.
    const bool updated = riff_.finish(index_.inFirstRiff() ? moviEnd : riff_.pos(), headerFields());
    return indexed && updated;
  }

  unsigned long refs_ = 1;
  bool completed_ = false;
  HRESULT completeResult_ = AVIERR_OK;
  bool opaque_ = false;  // 32-bit BI_RGB frames

  bool haveStream_ = false;
  AVISTREAMINFOA info_{};
  std::vector<std::uint8_t> format_;
  FOURCC chunkId_ = tag("00db");
  std::uint64_t indxPos_ = 0;
  std::uint64_t odmlPos_ = 0;
  std::uint64_t frames_ = 0;
  std::uint32_t firstRiffFrames_ = 0;
  std::uint32_t maxChunk_ = 0;
  RiffWriter riff_;
  AviIndex index_;  // the video's, and idx1 for both streams

  bool haveSound_ = false;
  AVISTREAMINFOA soundInfo_{};
  WAVEFORMATEX soundFormat_{};
  std::vector<std::uint8_t> soundFormatBytes_;  // as the strf holds it
  std::uint64_t soundStrhPos_ = 0;
  std::uint64_t soundIndxPos_ = 0;
  std::uint64_t soundSamples_ = 0;
  std::uint32_t maxSoundChunk_ = 0;
  AviIndex soundIndex_{1};
};

namespace {

// The file's stream: format and frames go straight into the file.
class RawStream final : public AviStream {
 public:
  explicit RawStream(AviFile* file) : file_(file) { file_->addRef(); }
  ~RawStream() override { file_->release(); }
  const AVISTREAMINFOA& info() const override { return file_->info(); }
  HRESULT setFormat(LONG, std::span<const std::uint8_t> format) override { return file_->setFormat(format); }
  HRESULT write(LONG start, LONG samples, std::span<const std::uint8_t> data, DWORD flags, LONG* samplesWritten,
                LONG* bytesWritten) override {
    if (samples != 1) return AVIERR_UNSUPPORTED;  // one frame per call for video
    const HRESULT hr = file_->write(start, data, (flags & AVIIF_KEYFRAME) != 0);
    if (hr == AVIERR_OK) {
      if (samplesWritten) *samplesWritten = 1;
      if (bytesWritten) *bytesWritten = LONG(data.size());
    }
    return hr;
  }
  HRESULT writeRows(LONG start, FrameRows rows, DWORD flags) override {
    return file_->writeRows(start, rows, (flags & AVIIF_KEYFRAME) != 0);
  }
  LONG length() const override { return LONG(std::min<std::uint64_t>(file_->frames(), 0x7fffffff)); }

 private:
  AviFile* file_;
};

// The sound stream: whole sample frames, one chunk a write.
class SoundStream final : public AviStream {
 public:
  explicit SoundStream(AviFile* file) : file_(file) { file_->addRef(); }
  ~SoundStream() override { file_->release(); }
  const AVISTREAMINFOA& info() const override { return file_->soundInfo(); }
  HRESULT setFormat(LONG, std::span<const std::uint8_t> format) override { return file_->setSoundFormatBytes(format); }
  HRESULT write(LONG, LONG samples, std::span<const std::uint8_t> data, DWORD, LONG* samplesWritten,
                LONG* bytesWritten) override {
    const std::uint64_t before = file_->soundSamples();
    const HRESULT hr = file_->writeSound(samples, data);
    if (hr == AVIERR_OK) {
      if (samplesWritten) *samplesWritten = LONG(file_->soundSamples() - before);
      if (bytesWritten) *bytesWritten = LONG(data.size());
    }
    return hr;
  }
  HRESULT writeRows(LONG, FrameRows, DWORD) override { return AVIERR_UNSUPPORTED; }
  LONG length() const override { return LONG(std::min<std::uint64_t>(file_->soundSamples(), 0x7fffffff)); }

 private:
  AviFile* file_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The published entry points

void AVIFileInit() { ++g_initCount; }

void AVIFileExit() {
  int n = g_initCount.load();
  while (n > 0 && !g_initCount.compare_exchange_weak(n, n - 1)) {
  }
}

int AVIFileInitCount() { return g_initCount; }

HRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, UINT uMode, const void*) {
  if (!ppfile) return AVIERR_BADPARAM;
  *ppfile = nullptr;
  if (!szFile || !*szFile) return AVIERR_BADPARAM;
  // This library writes new files; reading AVI files is not offered.
  if (!(uMode & OF_CREATE) || !(uMode & OF_WRITE)) return AVIERR_UNSUPPORTED;
  const int fd = detail::createFile(szFile);
  if (fd < 0) return AVIERR_FILEOPEN;
  *ppfile = new AviFile(fd);
  return AVIERR_OK;
}

HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi) {
  if (!ppavi) return AVIERR_BADPARAM;
  *ppavi = nullptr;
  if (!pfile) return AVIERR_BADHANDLE;
  if (!psi) return AVIERR_BADPARAM;
  if (const HRESULT hr = pfile->createStream(*psi); hr != AVIERR_OK) return hr;
  if (psi->fccType == streamtypeAUDIO)
    *ppavi = new SoundStream(pfile);
  else
    *ppavi = new RawStream(pfile);
  return AVIERR_OK;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource, const AVICOMPRESSOPTIONS* lpOptions,
                                const void*) {
  if (!ppsCompressed) return AVIERR_BADPARAM;
  *ppsCompressed = nullptr;
  if (!psSource) return AVIERR_BADHANDLE;
  if (psSource->info().fccType == streamtypeAUDIO) {
    if (!lpOptions || !lpOptions->lpFormat || lpOptions->cbFormat < sizeof(MPEGLAYER3WAVEFORMAT))
      return AVIERR_BADFORMAT;
    MPEGLAYER3WAVEFORMAT out{};
    std::memcpy(&out, lpOptions->lpFormat, sizeof out);
    if (out.wfx.wFormatTag != WAVE_FORMAT_MPEGLAYER3) return AVIERR_NOCOMPRESSOR;
    *ppsCompressed = detail::newSoundCompressingStream(psSource, out);
    return *ppsCompressed ? AVIERR_OK : AVIERR_NOCOMPRESSOR;
  }
  if (psSource->info().fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
  AVICOMPRESSOPTIONS opt{};
  if (lpOptions) opt = *lpOptions;
  if (opt.fccHandler && !findCompressor(opt.fccHandler)) return AVIERR_NOCOMPRESSOR;
  *ppsCompressed = detail::newCompressingStream(psSource, opt);
  return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat) {
  if (!pavi) return AVIERR_BADHANDLE;
  if (!lpFormat || cbFormat <= 0) return AVIERR_BADPARAM;
  return pavi->setFormat(lPos, std::span(static_cast<const std::uint8_t*>(lpFormat), std::size_t(cbFormat)));
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer, DWORD dwFlags,
                       LONG* plSampWritten, LONG* plBytesWritten) {
  if (plSampWritten) *plSampWritten = 0;
  if (plBytesWritten) *plBytesWritten = 0;
  if (!pavi) return AVIERR_BADHANDLE;
  if (cbBuffer < 0 || (!lpBuffer && cbBuffer > 0)) return AVIERR_BADPARAM;
  const std::span<const std::uint8_t> data =
      lpBuffer ? std::span(static_cast<const std::uint8_t*>(lpBuffer), std::size_t(cbBuffer))
               : std::span<const std::uint8_t>();
  return pavi->write(lStart, lSamples, data, dwFlags, plSampWritten, plBytesWritten);
}

LONG AVIStreamLength(PAVISTREAM pavi) { return pavi ? pavi->length() : -1; }

HRESULT AVIStreamWriteRows(PAVISTREAM pavi, LONG lStart, const void* top, std::ptrdiff_t stride, DWORD dwFlags) {
  if (!pavi) return AVIERR_BADHANDLE;
  if (!top || stride == 0) return AVIERR_BADPARAM;
  return pavi->writeRows(lStart, FrameRows{static_cast<const std::uint8_t*>(top), stride}, dwFlags);
}

HRESULT AVIStreamSetOverlap(PAVISTREAM pavi, BOOL on) {
  if (!pavi) return AVIERR_BADHANDLE;
  return pavi->setOverlap(on != 0);
}

HRESULT AVIStreamSetPaced(PAVISTREAM pavi, BOOL on) {
  if (!pavi) return AVIERR_BADHANDLE;
  return pavi->setPaced(on != 0);
}

HRESULT AVIStreamFlush(PAVISTREAM pavi) {
  if (!pavi) return AVIERR_BADHANDLE;
  return pavi->flush();
}

unsigned long AVIStreamRelease(PAVISTREAM pavi) { return pavi ? pavi->release() : 0; }

unsigned long AVIFileRelease(PAVIFILE pfile) { return pfile ? pfile->release() : 0; }

HRESULT AVIFileComplete(PAVIFILE pfile) { return pfile ? pfile->complete() : AVIERR_BADHANDLE; }

int AVIFileLastErrno(PAVIFILE pfile) { return pfile ? pfile->lastErrno() : 0; }

HRESULT AVIFileSetDirectWrites(PAVIFILE pfile, BOOL on) {
  return pfile ? pfile->setDirectWrites(on != 0) : AVIERR_BADHANDLE;
}

HRESULT AVISaveOptionsFree(int nStreams, LPAVICOMPRESSOPTIONS* plpOptions) {
  if (nStreams < 0 || (nStreams > 0 && !plpOptions)) return AVIERR_BADPARAM;
  // The library keeps nothing of its own in the records (no option dialog
  // here fills lpParms); the format belongs to the caller. What the record
  // points at is let go of, so nothing refers to freed memory later.
  for (int i = 0; i < nStreams; ++i) {
    AVICOMPRESSOPTIONS* o = plpOptions[i];
    if (!o) continue;
    o->lpParms = nullptr;
    o->cbParms = 0;
    o->lpFormat = nullptr;
    o->cbFormat = 0;
  }
  return AVIERR_OK;
}

}  // namespace vfw
