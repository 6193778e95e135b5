#include "recording/aviwriter.h"

#include <algorithm>
#include <cstring>

#include "platform/gdi/dib.h"
#include "platform/path.h"

namespace recording {

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

}  // namespace

bool DIBFrameSizes(const gdi::Bitmap& bmp, std::uint32_t& headerSize, std::uint32_t& imageSize) {
  FrameLayout l;
  if (!frameLayout(bmp, l)) return false;
  headerSize = l.headerSize;
  imageSize = l.imageSize;
  return true;
}

// A bitmap whose own rows already are the frame's rows, only perhaps in
// the other order and not packed: a 32-bit device bitmap (a screen grab),
// or a 24 or 32-bit BI_RGB section (as bitmap files load) with the header
// the frame buffers hold. Such rows go to the writer where they lie instead
// of being copied into the frame buffer first. False for every other bitmap.
static bool rowsInPlace(const gdi::Bitmap& bmp, const std::vector<std::uint8_t>& frameHeader) {
  FrameLayout l;
  if (!frameLayout(bmp, l)) return false;
  const gdi::BITMAPINFOHEADER& h = l.header;
  if (h.biCompression != gdi::BI_RGB || (h.biBitCount != 24 && h.biBitCount != 32)) return false;
  if (!bmp.isDibSection() && bmp.format() != gdi::PixelFormat::Rgb32) return false;
  if (l.headerSize != sizeof h || frameHeader.size() != sizeof h ||
      std::memcmp(frameHeader.data(), &h, sizeof h) != 0)
    return false;
  const auto rows = std::size_t(bmp.stride()) * std::size_t(bmp.height());
  return bmp.bits().size() >= rows;
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

// GetDIBits without pixels fills the header and colour table only: the
// dialog needs no converted frame.
bool frameFormat(const gdi::Bitmap& first, std::vector<std::uint8_t>& header) {
  FrameLayout l;
  if (!frameLayout(first, l)) return false;
  header.assign(l.headerSize, 0);
  std::memcpy(header.data(), &l.header, sizeof l.header);
  const unsigned rows = unsigned(l.header.biHeight < 0 ? -l.header.biHeight : l.header.biHeight);
  return gdi::GetDIBits(first, 0, rows, {}, header, gdi::DIB_RGB_COLORS) != 0;
}

bool chooseCompressor(const std::vector<std::uint8_t>& format, const QString& title, vfw::COMPVARS& choice,
                      int framesPerSecond) {
  choice = vfw::COMPVARS{};
  choice.cbSize = vfw::COMPVARS_CBSIZE;
  const QByteArray titleBytes = title.toUtf8();
  return vfw::ICCompressorChooseAtRate(nullptr, vfw::ICMF_CHOOSE_KEYFRAME | vfw::ICMF_CHOOSE_DATARATE, format.data(),
                                       nullptr, &choice, titleBytes.constData(), framesPerSecond) != 0;
}

// What an open had created is given back, and the open reports the failure.
OpenOutcome AviWriter::fail() {
  (void)close();
  return OpenOutcome::LibraryFailure;
}

void AviWriter::freeBuffers() {
  std::vector<std::uint8_t>().swap(frameBits_);
  std::vector<std::uint8_t>().swap(frameHeader_);
  headerSize_ = 0;
  imageSize_ = 0;
}

OpenOutcome AviWriter::open(const gdi::Bitmap& first, const vfw::COMPVARS& compressor, const QString& fileName,
                            const std::function<void(vfw::AVISTREAMINFO&)>& rateStep) {
  using namespace vfw;
  // A writer still holding a file would leak it; close that one first.
  if (opened_) close();

  // The first frame, in buffers sized once for the whole file.
  std::uint32_t hs = 0, is = 0;
  bool framed = DIBFrameSizes(first, hs, is);
  if (framed) {
    headerSize_ = hs;
    imageSize_ = is;
    frameHeader_.assign(hs, 0);
    frameBits_.assign(is, 0);
    framed = DIBFrameFromBitmap(first, frameHeader_, frameBits_);
  }
  if (!framed) {
    freeBuffers();
    return OpenOutcome::FrameDataFailed;
  }
  // Frames that are written where they lie need no frame buffer.
  if (rowsInPlace(first, frameHeader_)) std::vector<std::uint8_t>().swap(frameBits_);

  AVIFileInit();
  compressorVars_ = std::make_unique<COMPVARS>(compressor);
  opened_ = true;
  lastErrno_ = 0;

  try {
    // The file.
    const QByteArray path = platform::encodePath(fileName);
    aviResult_ = AVIFileOpenA(&aviFile_, path.constData(), OF_WRITE | OF_CREATE, nullptr);
    if (aviResult_ != AVIERR_OK) return fail();
    if (directWrites_) AVIFileSetDirectWrites(aviFile_, 1);  // a hint: refused, the page cache serves

    // The stream header.
    const COMPVARS& cv = *compressorVars_;
    const gdi::BITMAPINFOHEADER h = headerOf(frameHeader_);
    streamInfo_ = std::make_unique<AVISTREAMINFO>();
    streamInfo_->fccType = streamtypeVIDEO;
    streamInfo_->fccHandler = cv.fccHandler;
    streamInfo_->dwScale = 1;
    rateStep(*streamInfo_);
    streamInfo_->dwQuality = DWORD(cv.lQ);
    streamInfo_->dwSuggestedBufferSize = h.biSizeImage;
    streamInfo_->rcFrame = RECT{0, 0, h.biWidth, h.biHeight};

    // The stream.
    aviResult_ = AVIFileCreateStreamA(aviFile_, &rawStream_, streamInfo_.get());
    if (aviResult_ != AVIERR_OK) return fail();

    // The sound stream, whose format goes into the header with the video's.
    if (sound_) {
      AVISTREAMINFO si{};
      si.fccType = streamtypeAUDIO;
      si.fccHandler = soundCompressed_ ? WAVE_FORMAT_MPEGLAYER3 : WAVE_FORMAT_PCM;
      si.dwScale = soundCompressed_ ? 1152 : 1;  // MP3: a frame of samples a unit
      si.dwRate = DWORD(soundRate_);
      aviResult_ = AVIFileCreateStreamA(aviFile_, &soundStream_, &si);
      if (aviResult_ != AVIERR_OK) return fail();
      WAVEFORMATEX w{};
      w.wFormatTag = WAVE_FORMAT_PCM;
      w.nChannels = WORD(soundChannels_);
      w.nSamplesPerSec = DWORD(soundRate_);
      w.wBitsPerSample = 16;
      w.nBlockAlign = WORD(2 * soundChannels_);
      w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
      if (soundCompressed_) {
        // 128 kbit/s, constant: a frame of 1152 samples is 384 bytes at
        // 48 kHz (never padded).
        MPEGLAYER3WAVEFORMAT m{};
        m.wfx = {WAVE_FORMAT_MPEGLAYER3, WORD(soundChannels_), DWORD(soundRate_), 16000, 1, 0, 12};
        m.wID = MPEGLAYER3_ID_MPEG;
        m.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
        m.nBlockSize = WORD(144 * 128000 / soundRate_);
        m.nFramesPerBlock = 1;
        AVICOMPRESSOPTIONS so{};
        so.fccType = streamtypeAUDIO;
        so.lpFormat = &m;
        so.cbFormat = sizeof m;
        aviResult_ = AVIMakeCompressedStream(&soundCompressor_, soundStream_, &so, nullptr);
        if (aviResult_ != AVIERR_OK) return fail();
      }
      aviResult_ = AVIStreamSetFormat(soundCompressor_ ? soundCompressor_ : soundStream_, 0, &w, sizeof w);
      if (aviResult_ != AVIERR_OK) return fail();
    }

    // The compressing stream over it.
    compressOptions_ = std::make_unique<AVICOMPRESSOPTIONS>();
    AVICOMPRESSOPTIONS& o = *compressOptions_;
    o.fccType = cv.fccType;
    o.fccHandler = cv.fccHandler;
    o.dwKeyFrameEvery = DWORD(cv.lKey);
    o.dwQuality = DWORD(cv.lQ);
    // The dialog gives kilobytes per second, the options take bytes.
    o.dwBytesPerSecond =
        cv.lDataRate > 0 ? DWORD(std::min<std::int64_t>(std::int64_t(cv.lDataRate) * 1024, 0xffffffff)) : 0;
    o.dwFlags = AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    o.lpFormat = frameHeader_.data();
    o.cbFormat = 4;
    aviResult_ = AVIMakeCompressedStream(&compressedStream_, rawStream_, compressOptions_.get(), nullptr);
    if (aviResult_ != AVIERR_OK) return fail();

    // The first frame's format, colour table included.
    // Overlap first: the encoder, made at the format, may then hold frames.
    if (overlapFrames_) aviResult_ = AVIStreamSetOverlap(compressedStream_, 1);
    if (paced_ && aviResult_ == AVIERR_OK) aviResult_ = AVIStreamSetPaced(compressedStream_, 1);
    if (aviResult_ == AVIERR_OK)
      aviResult_ = AVIStreamSetFormat(compressedStream_, 0, frameHeader_.data(), LONG(DIBFormatSize(frameHeader_)));
    if (aviResult_ != AVIERR_OK) return fail();
  } catch (...) {
    // A frame rate that is not a number: the file created so far is closed.
    close();
    throw;
  }
  return OpenOutcome::Opened;
}

// The buffers were sized by the first frame; another size or depth would
// not fit them and is refused before anything is converted.
bool AviWriter::accepts(const gdi::Bitmap& bmp) const {
  if (!opened_) return false;
  const gdi::BITMAPINFOHEADER firstHeader = headerOf(frameHeader_);
  const std::int64_t firstRows = firstHeader.biHeight < 0 ? -std::int64_t(firstHeader.biHeight) : firstHeader.biHeight;
  std::uint32_t hs = 0, is = 0;
  return DIBFrameSizes(bmp, hs, is) && hs == frameHeader_.size() && is == imageSize_ &&
         bmp.width() == firstHeader.biWidth && bmp.height() == firstRows &&
         bmp.bitsPerPixel() * bmp.planes() == firstHeader.biBitCount;
}

std::int32_t AviWriter::write(const gdi::Bitmap& bmp, std::int32_t index) {
  using namespace vfw;
  if (!opened_ || !compressedStream_) return aviResult_ = AVIERR_BADHANDLE;

  if (!accepts(bmp)) return aviResult_ = AVIERR_BADFORMAT;
  const bool inPlace = rowsInPlace(bmp, frameHeader_);
  if (!inPlace) {
    if (frameBits_.size() != imageSize_) frameBits_.assign(imageSize_, 0);
    if (!DIBFrameFromBitmap(bmp, frameHeader_, frameBits_)) return aviResult_ = AVIERR_BADFORMAT;
  }

  aviResult_ = AVIStreamSetFormat(compressedStream_, 0, frameHeader_.data(), LONG(DIBFormatSize(frameHeader_)));
  if (aviResult_ != AVIERR_OK) return aviResult_;
  if (inPlace) {
    const auto stride = std::ptrdiff_t(bmp.stride());
    aviResult_ = AVIStreamWriteRows(compressedStream_, index, bmp.scanLine(0), bmp.topDown() ? stride : -stride,
                                    AVIIF_KEYFRAME);
  } else {
    aviResult_ = AVIStreamWrite(compressedStream_, index, 1, frameBits_.data(), LONG(imageSize_), AVIIF_KEYFRAME,
                                nullptr, nullptr);
  }
  return aviResult_;
}

std::int32_t AviWriter::writeSound(std::span<const std::int16_t> interleaved) {
  using namespace vfw;
  if (!opened_ || !soundStream_) return aviResult_ = AVIERR_BADHANDLE;
  // Half a second a chunk at most: a reader that interleaves by chunk
  // never holds more sound than that before the next frame.
  const std::size_t channels = std::size_t(soundChannels_);
  const std::size_t most = std::size_t(soundRate_ / 2) * channels;
  for (std::size_t at = 0; at < interleaved.size(); at += most) {
    const std::size_t n = std::min(most, interleaved.size() - at) / channels * channels;
    if (n == 0) break;
    aviResult_ = AVIStreamWrite(soundCompressor_ ? soundCompressor_ : soundStream_, -1, LONG(n / channels),
                                interleaved.data() + at, LONG(n * 2), 0, nullptr, nullptr);
    if (aviResult_ != AVIERR_OK) return aviResult_;
  }
  return AVIERR_OK;
}

std::int64_t AviWriter::soundInFile() const {
  return opened_ && soundStream_ ? vfw::AVIStreamLength(soundStream_) : 0;
}

std::int64_t AviWriter::framesInFile() const {
  return opened_ && rawStream_ ? vfw::AVIStreamLength(rawStream_) : 0;
}

std::int32_t AviWriter::finish() {
  if (!opened_ || !compressedStream_) return 0;
  return aviResult_ = vfw::AVIStreamFlush(compressedStream_);
}

// While the file is open its own record is asked: a failed write's cause
// is known before the close that reports it.
int AviWriter::lastErrno() const { return aviFile_ ? vfw::AVIFileLastErrno(aviFile_) : lastErrno_; }

bool AviWriter::close() {
  using namespace vfw;
  if (!opened_) return true;  // closed already: nothing may be released twice
  opened_ = false;
  // The streams go first: a compressing stream writes the frame it still
  // holds at its release, and that frame belongs in the completed file.
  AVIStreamRelease(rawStream_);
  rawStream_ = nullptr;
  AVIStreamRelease(compressedStream_);
  compressedStream_ = nullptr;
  // The compressor's last frames go into the file at its release.
  AVIStreamRelease(soundCompressor_);
  soundCompressor_ = nullptr;
  AVIStreamRelease(soundStream_);
  soundStream_ = nullptr;
  bool completed = false;
  if (aviFile_) {
    completed = AVIFileComplete(aviFile_) == AVIERR_OK;
    lastErrno_ = AVIFileLastErrno(aviFile_);
    AVIFileRelease(aviFile_);
    aviFile_ = nullptr;
  }
  if (compressOptions_) {
    LPAVICOMPRESSOPTIONS options = compressOptions_.get();
    AVISaveOptionsFree(1, &options);
    compressOptions_.reset();
  }
  compressorVars_.reset();
  AVIFileExit();
  freeBuffers();
  streamInfo_.reset();
  return completed;
}

}  // namespace recording
