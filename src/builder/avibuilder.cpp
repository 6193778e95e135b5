#include "builder/avibuilder.h"

#include <future>

#include "platform/gdi/bmpfile.h"
#include "recording/aviwriter.h"

namespace builder {

namespace {

// Loads the build's files one ahead of the frame being written, on a thread
// of its own: reading and checking a full-screen bitmap costs a tenth of a
// compressed frame, and a second core sits idle while the encoder runs.
// Frames still come in list order, and a file that cannot be read reports
// its error at its own turn, after every frame before it was written.
class ReadAhead {
 public:
  explicit ReadAhead(QStringList files) : files_(std::move(files)) { start(0); }
  ~ReadAhead() {
    // A build that stops early waits for the load still running.
    if (pending_.valid()) pending_.wait();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The bitmap of the next file (the loader's exception if it has none);
  // the file after it starts loading.
  gdi::Bitmap next() {
    gdi::Bitmap b = pending_.get();
    start(++index_);
    return b;
  }

 private:
  void start(qsizetype i) {
    if (i < files_.size())
      pending_ = std::async(std::launch::async, [path = files_[i]] { return gdi::loadBmp(path); });
  }

  QStringList files_;
  qsizetype index_ = 0;
  std::future<gdi::Bitmap> pending_;
};

bool isFormatRefusal(std::int32_t result) {
  return result == vfw::AVIERR_BADFORMAT || result == vfw::AVIERR_UNSUPPORTED;
}

const QString kImageFormat = QStringLiteral("ERROR: Image Format");

}  // namespace

BuildResult AviBuilder::build(const BuildJob& job) {
  BuildResult r;
  if (job.files.isEmpty()) {
    r.outcome = BuildOutcome::NotOpened;
    return r;
  }
  ReadAhead ahead(job.files);
  gdi::Bitmap frame = ahead.next();

  // A frame compresses while the next one is converted; nothing needs a
  // frame in the file before the build is over. The writer completes the
  // file however the build ends, an exception from the loader included.
  recording::AviWriter writer;
  writer.setOverlap(true);
  const auto opened = writer.open(frame, job.compressor, job.outputFile,
                                  [&job](vfw::AVISTREAMINFO& si) { si.dwRate = vfw::DWORD(job.rate); });
  if (opened == recording::OpenOutcome::FrameDataFailed) {
    r.outcome = BuildOutcome::NotOpened;
    return r;
  }
  if (opened == recording::OpenOutcome::LibraryFailure) return r;
  if (onOpened) onOpened();

  bool aborted = false;
  for (int i = 0; i < job.files.size(); ++i) {
    if (i > 0) frame = ahead.next();
    if (onFrameLoaded) onFrameLoaded(frame, i);

    std::uint32_t hs = 0, is = 0;
    if (!recording::DIBFrameSizes(frame, hs, is) || hs != writer.headerSize() || is != writer.imageSize()) {
      r.error = kImageFormat;
      return r;
    }
    const std::int32_t result = writer.write(frame, i);
    if (result != 0) {
      if (isFormatRefusal(result)) r.error = kImageFormat;
      return r;
    }
    ++r.framesWritten;
    if (onFrameWritten && onFrameWritten(r.framesWritten)) {
      aborted = true;
      break;
    }
  }
  // The last frame handed over is in the file only once this returns; if
  // it fails, that frame's write failed.
  if (writer.finish() != 0) return r;
  writer.close();
  r.outcome = aborted ? BuildOutcome::Aborted : BuildOutcome::Completed;
  return r;
}

}  // namespace builder
