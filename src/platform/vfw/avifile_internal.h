#pragma once
// Pieces shared by the AVI file, its RIFF writer, its indexes and the
// compressing stream. Not part of the library's interface.
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "platform/vfw/vfw.h"

namespace vfw {

// A frame's rows where they lie: the picture's top row, and the bytes from
// one row to the next one down (negative for rows stored bottom-up, as a
// packed DIB's are). Each row holds the stream format's row bytes.
struct FrameRows {
  const std::uint8_t* top = nullptr;
  std::ptrdiff_t stride = 0;
};

// What AVIStream* calls reach: the file's own stream or one laid over it.
class AviStream {
 public:
  virtual ~AviStream() = default;
  AviStream() = default;
  AviStream(const AviStream&) = delete;
  AviStream& operator=(const AviStream&) = delete;

  unsigned long addRef() { return ++refs_; }
  unsigned long release() {
    const unsigned long left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  virtual const AVISTREAMINFOA& info() const = 0;
  virtual HRESULT setFormat(LONG pos, std::span<const std::uint8_t> format) = 0;
  virtual HRESULT write(LONG start, LONG samples, std::span<const std::uint8_t> data, DWORD flags,
                        LONG* samplesWritten, LONG* bytesWritten) = 0;
  // One uncompressed frame in the stream's format, from rows where they lie.
  virtual HRESULT writeRows(LONG start, FrameRows rows, DWORD flags) = 0;
  // Only a compressing stream has frames in hand; the file's stream writes
  // each one as it comes.
  virtual HRESULT setOverlap(bool) { return AVIERR_OK; }
  virtual HRESULT setPaced(bool) { return AVIERR_OK; }
  // Frames in the file so far.
  virtual LONG length() const = 0;
  virtual HRESULT flush() { return AVIERR_OK; }

 private:
  unsigned long refs_ = 1;
};

namespace detail {

constexpr FOURCC tag(const char (&s)[5]) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

// Little-endian byte builder for headers and indexes.
struct Bytes {
  std::vector<std::uint8_t> b;
  void u8(std::uint8_t v) { b.push_back(v); }
  void u16(std::uint16_t v) {
    u8(std::uint8_t(v));
    u8(std::uint8_t(v >> 8));
  }
  void u32(std::uint32_t v) {
    u16(std::uint16_t(v));
    u16(std::uint16_t(v >> 16));
  }
  void u64(std::uint64_t v) {
    u32(std::uint32_t(v));
    u32(std::uint32_t(v >> 32));
  }
  void zeros(std::size_t n) { b.insert(b.end(), n, 0); }
  void bytes(std::span<const std::uint8_t> s) { b.insert(b.end(), s.begin(), s.end()); }
};

// A JUNK chunk of `n` zero bytes: room kept, or a gap filled.
inline Bytes junkChunk(std::uint32_t n) {
  Bytes o;
  o.u32(tag("JUNK"));
  o.u32(n);
  o.zeros(n);
  return o;
}

inline BITMAPINFOHEADER readInfoHeader(std::span<const std::uint8_t> fmt) {
  BITMAPINFOHEADER h{};
  std::memcpy(&h, fmt.data(), sizeof h);
  return h;
}

// What any stream asks of a video format before it looks further.
inline HRESULT checkVideoFormat(std::span<const std::uint8_t> fmt) {
  if (fmt.size() < sizeof(BITMAPINFOHEADER)) return AVIERR_BADFORMAT;
  const BITMAPINFOHEADER h = readInfoHeader(fmt);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > fmt.size()) return AVIERR_BADFORMAT;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<LONG>::min()) return AVIERR_BADFORMAT;
  return AVIERR_OK;
}

}  // namespace detail
}  // namespace vfw
