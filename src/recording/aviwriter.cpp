#include "recording/aviwriter.h"

#include <QFile>
#include <cstring>

#include "framework/dialogs.h"
#include "platform/gdi/dib.h"

namespace {

struct FrameLayout {
  gdi::BITMAPINFOHEADER header{};
  std::uint32_t headerSize = 0;
  std::uint32_t imageSize = 0;
};

// The packed frame's header before the pixels are read, and its two sizes.
bool frameLayout(const gdi::Bitmap& bmp, FrameLayout& out) {
  if (bmp.empty() || bmp.width() <= 0 || bmp.height() <= 0) return false;
  gdi::BITMAPINFOHEADER h{};
  if (bmp.isDibSection() && bmp.dibHeader().size() >= sizeof h) {
    // A section keeps its own header. Only its first 40 bytes are the
    // format's; the colour table follows them in the frame header.
    std::memcpy(&h, bmp.dibHeader().data(), sizeof h);
    h.biSize = sizeof h;
  } else {
    h.biSize = sizeof h;
    h.biWidth = bmp.width();
    h.biHeight = bmp.height();
  }
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight < -65535 || h.biHeight > 65535) return false;
  h.biBitCount = gdi::WORD(bmp.bitsPerPixel() * bmp.planes());
  h.biPlanes = 1;
  const std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
  if (h.biSizeImage == 0) {
    const std::int64_t bytes = gdi::rowBytes(h.biWidth, h.biBitCount) * rows;
    if (bytes <= 0 || bytes > 0x7fffffff) return false;
    h.biSizeImage = gdi::DWORD(bytes);
  }
  out.header = h;
  if (h.biBitCount <= 8)
    out.headerSize = 40 + (4u << h.biBitCount);
  else
    out.headerSize = (h.biCompression & 3) ? 52 : 40;
  out.imageSize = h.biSizeImage;
  return true;
}

gdi::BITMAPINFOHEADER headerOf(std::span<const std::uint8_t> header) {
  gdi::BITMAPINFOHEADER h{};
  if (header.size() >= sizeof h) std::memcpy(&h, header.data(), sizeof h);
  return h;
}

void freeBuffers(TAviWriterState& w) {
  std::vector<std::uint8_t>().swap(w.frameBits);
  std::vector<std::uint8_t>().swap(w.frameHeader);
  w.headerSize = 0;
  w.imageSize = 0;
}

}  // namespace

bool DIBFrameSizes(const gdi::Bitmap& bmp, std::uint32_t& headerSize, std::uint32_t& imageSize) {
  FrameLayout l;
  if (!frameLayout(bmp, l)) return false;
  headerSize = l.headerSize;
  imageSize = l.imageSize;
  return true;
}

// A bitmap whose own rows already are the packed frame, with the header the
// frame buffers hold (a 24 or 32-bit bottom-up BI_RGB section, as bitmap
// files load): the rows are written from where they lie instead of being
// copied into the frame buffer first. nullptr for every other bitmap.
static const std::uint8_t* packedInPlace(const gdi::Bitmap& bmp, const TAviWriterState& w) {
  FrameLayout l;
  if (!bmp.isDibSection() || bmp.topDown() || !frameLayout(bmp, l)) return nullptr;
  const gdi::BITMAPINFOHEADER& h = l.header;
  if (h.biCompression != gdi::BI_RGB || (h.biBitCount != 24 && h.biBitCount != 32) || h.biHeight <= 0) return nullptr;
  if (l.headerSize != sizeof h || w.frameHeader.size() != sizeof h ||
      std::memcmp(w.frameHeader.data(), &h, sizeof h) != 0)
    return nullptr;
  const auto rows = std::size_t(bmp.stride()) * std::size_t(bmp.height());
  if (l.imageSize != rows || bmp.bits().size() < rows) return nullptr;
  return bmp.bits().data();
}

bool DIBFrameFromBitmap(const gdi::Bitmap& bmp, std::span<std::uint8_t> header, std::span<std::uint8_t> bits) {
  FrameLayout l;
  if (!frameLayout(bmp, l)) return false;
  if (header.size() < l.headerSize || bits.size() < l.imageSize) return false;
  std::memcpy(header.data(), &l.header, sizeof l.header);
  const unsigned rows = unsigned(l.header.biHeight < 0 ? -l.header.biHeight : l.header.biHeight);
  return gdi::GetDIBits(bmp, 0, rows, bits.first(l.imageSize), header.first(l.headerSize), gdi::DIB_RGB_COLORS) != 0;
}

std::uint32_t DIBFormatSize(std::span<const std::uint8_t> header) {
  const gdi::BITMAPINFOHEADER h = headerOf(header);
  std::uint64_t size = h.biSize;
  if (h.biBitCount <= 8) {
    const std::uint64_t full = std::uint64_t(1) << h.biBitCount;
    size += 4 * (h.biClrUsed && h.biClrUsed < full ? h.biClrUsed : full);
  } else if (h.biCompression == gdi::BI_BITFIELDS) {
    size += 12;
  }
  return std::uint32_t(std::min<std::uint64_t>(size, header.size()));
}

OpenOutcome openvideostream(TAviWriterState& w, const gdi::Bitmap& first, const QString& title,
                            const QString& fileName, const std::function<void(vfw::AVISTREAMINFO&)>& rateStep) {
  using namespace vfw;
  // A state still holding a file would leak it; close that one first.
  if (w.opened) releasevideostream(w);

  // 1-2. The first frame, in buffers sized once for the whole file.
  std::uint32_t hs = 0, is = 0;
  bool framed = DIBFrameSizes(first, hs, is);
  if (framed) {
    w.headerSize = hs;
    w.imageSize = is;
    w.frameHeader.assign(hs, 0);
    w.frameBits.assign(is, 0);
    framed = DIBFrameFromBitmap(first, w.frameHeader, w.frameBits);
  }
  if (!framed) {
    freeBuffers(w);
    forms::MessageBox(QStringLiteral("ERROR: Unable to Initialize Image Data"), QStringLiteral("Terminating Process"));
    return OpenOutcome::FrameDataFailed;
  }

  // 3-4. The library and the compressor choice.
  AVIFileInit();
  w.compressorVars = std::make_unique<COMPVARS>();
  w.compressorVars->cbSize = COMPVARS_CBSIZE;
  const QByteArray titleBytes = title.toUtf8();
  if (!ICCompressorChoose(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, w.frameHeader.data(), nullptr,
                          w.compressorVars.get(), titleBytes.constData())) {
    // Nothing was created; what the open began is given back at once.
    w.compressorVars.reset();
    AVIFileExit();
    freeBuffers(w);
    return OpenOutcome::DialogCancelled;
  }
  w.opened = true;

  try {
    // 5. The file.
    const QByteArray path = QFile::encodeName(fileName);
    w.aviResult = AVIFileOpenA(&w.aviFile, path.constData(), OF_WRITE | OF_CREATE, nullptr);
    if (w.aviResult != AVIERR_OK) {
      releasevideostream(w);
      return OpenOutcome::LibraryFailure;
    }

    // 6-8. The stream header.
    const COMPVARS& cv = *w.compressorVars;
    const gdi::BITMAPINFOHEADER h = headerOf(w.frameHeader);
    w.streamInfo = std::make_unique<AVISTREAMINFO>();
    w.streamInfo->fccType = streamtypeVIDEO;
    w.streamInfo->fccHandler = cv.fccHandler;
    w.streamInfo->dwScale = 1;
    rateStep(*w.streamInfo);
    w.streamInfo->dwQuality = DWORD(cv.lQ);
    w.streamInfo->dwSuggestedBufferSize = h.biSizeImage;
    w.streamInfo->rcFrame = RECT{0, 0, h.biWidth, h.biHeight};

    // 9. The stream.
    w.aviResult = AVIFileCreateStreamA(w.aviFile, &w.rawStream, w.streamInfo.get());
    if (w.aviResult != AVIERR_OK) {
      releasevideostream(w);
      return OpenOutcome::LibraryFailure;
    }

    // 10. The compressing stream over it.
    w.compressOptions = std::make_unique<AVICOMPRESSOPTIONS>();
    AVICOMPRESSOPTIONS& o = *w.compressOptions;
    o.fccType = cv.fccType;
    o.fccHandler = cv.fccHandler;
    o.dwKeyFrameEvery = DWORD(cv.lKey);
    o.dwQuality = DWORD(cv.lQ);
    // The dialog gives kilobytes per second, the options take bytes.
    o.dwBytesPerSecond = cv.lDataRate > 0 ? DWORD(std::min<std::int64_t>(std::int64_t(cv.lDataRate) * 1024, 0xffffffff))
                                          : 0;
    o.dwFlags = AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    o.lpFormat = w.frameHeader.data();
    o.cbFormat = 4;
    w.aviResult = AVIMakeCompressedStream(&w.compressedStream, w.rawStream, w.compressOptions.get(), nullptr);
    if (w.aviResult != AVIERR_OK) {
      releasevideostream(w);
      return OpenOutcome::LibraryFailure;
    }

    // 11. The first frame's format, colour table included.
    w.aviResult = AVIStreamSetFormat(w.compressedStream, 0, w.frameHeader.data(), LONG(DIBFormatSize(w.frameHeader)));
    if (w.aviResult == AVIERR_OK && w.overlapFrames) w.aviResult = AVIStreamSetOverlap(w.compressedStream, 1);
    if (w.aviResult != AVIERR_OK) {
      releasevideostream(w);
      return OpenOutcome::LibraryFailure;
    }
  } catch (...) {
    // A frame rate that is not a number: the file created so far is closed.
    releasevideostream(w);
    throw;
  }
  return OpenOutcome::Opened;
}

std::int32_t writevideoframe(TAviWriterState& w, const gdi::Bitmap& bmp, std::int32_t index) {
  using namespace vfw;
  if (!w.opened || !w.compressedStream) return w.aviResult = AVIERR_BADHANDLE;

  // The buffers were sized by the first frame; another size or depth would
  // not fit them and is refused before anything is converted.
  const gdi::BITMAPINFOHEADER firstHeader = headerOf(w.frameHeader);
  const std::int64_t firstRows = firstHeader.biHeight < 0 ? -std::int64_t(firstHeader.biHeight) : firstHeader.biHeight;
  std::uint32_t hs = 0, is = 0;
  if (!DIBFrameSizes(bmp, hs, is) || hs != w.frameHeader.size() || is != w.frameBits.size() ||
      bmp.width() != firstHeader.biWidth || bmp.height() != firstRows ||
      bmp.bitsPerPixel() * bmp.planes() != firstHeader.biBitCount)
    return w.aviResult = AVIERR_BADFORMAT;
  w.headerSize = hs;
  w.imageSize = is;
  const std::uint8_t* frame = packedInPlace(bmp, w);
  if (!frame) {
    if (!DIBFrameFromBitmap(bmp, w.frameHeader, w.frameBits)) return w.aviResult = AVIERR_BADFORMAT;
    frame = w.frameBits.data();
  }

  w.aviResult = AVIStreamSetFormat(w.compressedStream, 0, w.frameHeader.data(), LONG(DIBFormatSize(w.frameHeader)));
  if (w.aviResult != AVIERR_OK) return w.aviResult;
  w.aviResult =
      AVIStreamWrite(w.compressedStream, index, 1, frame, LONG(w.imageSize), AVIIF_KEYFRAME, nullptr, nullptr);
  return w.aviResult;
}

std::int32_t finishvideoframes(TAviWriterState& w) {
  if (!w.opened || !w.compressedStream) return 0;
  return w.aviResult = vfw::AVIStreamFlush(w.compressedStream);
}

void releasevideostream(TAviWriterState& w) {
  using namespace vfw;
  if (!w.opened) return;  // closed already: nothing may be released twice
  w.opened = false;
  AVIStreamRelease(w.rawStream);
  w.rawStream = nullptr;
  AVIStreamRelease(w.compressedStream);
  w.compressedStream = nullptr;
  if (w.aviFile) {
    AVIFileRelease(w.aviFile);
    w.aviFile = nullptr;
  }
  if (w.compressOptions) {
    LPAVICOMPRESSOPTIONS options = w.compressOptions.get();
    AVISaveOptionsFree(1, &options);
    w.compressOptions.reset();
  }
  w.compressorVars.reset();
  AVIFileExit();
  freeBuffers(w);
  w.streamInfo.reset();
}
