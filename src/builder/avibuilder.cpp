#include "builder/avibuilder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <future>

#include "platform/gdi/bmpfile.h"
#include "platform/path.h"
#include "recording/aviwriter.h"
#include "recording/unfinishedfile.h"

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

// The writer completes the file however this ends, an exception from the
// loader included, before the file is moved into place.
void writeFrames(const AviBuilder& b, const BuildJob& job, ReadAhead& ahead, gdi::Bitmap frame, const QString& file,
                 BuildResult& r) {
  // A frame compresses while the next one is converted; nothing needs a
  // frame in the file before the build is over.
  recording::AviWriter writer;
  writer.setOverlap(true);
  const auto opened = writer.open(frame, job.compressor, file,
                                  [&job](vfw::AVISTREAMINFO& si) { si.dwRate = vfw::DWORD(job.rate); });
  if (opened == recording::OpenOutcome::FrameDataFailed) {
    r.outcome = BuildOutcome::NotOpened;
    return;
  }
  // The frames that reached the file are those the writer counts once the
  // ones still being compressed have been written or have failed.
  const auto failed = [&writer, &r] {
    (void)writer.finish();
    r.framesWritten = int(std::min<std::int64_t>(r.framesWritten, writer.framesInFile()));
    r.errorNumber = writer.lastErrno();
    writer.close();
    if (r.errorNumber == 0) r.errorNumber = writer.lastErrno();
  };
  if (opened == recording::OpenOutcome::LibraryFailure) return failed();
  if (b.onOpened) b.onOpened();

  bool aborted = false;
  for (int i = 0; i < job.files.size(); ++i) {
    if (i > 0) frame = ahead.next();
    if (b.onFrameLoaded) b.onFrameLoaded(frame, i);

    std::uint32_t hs = 0, is = 0;
    if (!recording::DIBFrameSizes(frame, hs, is) || hs != writer.headerSize() || is != writer.imageSize()) {
      r.error = kImageFormat;
      return failed();
    }
    const std::int32_t result = writer.write(frame, i);
    if (result != 0) {
      if (isFormatRefusal(result)) r.error = kImageFormat;
      return failed();
    }
    ++r.framesWritten;
    if (b.onFrameWritten && b.onFrameWritten(r.framesWritten)) {
      aborted = true;
      break;
    }
  }
  // The last frame handed over is in the file only once this returns; if
  // it fails, that frame's write failed. A close that fails leaves the
  // frames without the indexes players need.
  if (writer.finish() != 0 || !writer.close()) return failed();
  r.outcome = aborted ? BuildOutcome::Aborted : BuildOutcome::Completed;
}

bool sameFile(const QByteArray& a, const struct stat& sa, const QByteArray& b) {
  if (QDir::cleanPath(platform::decodePath(a)) == QDir::cleanPath(platform::decodePath(b))) return true;
  struct stat sb {};
  return ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

QString inputThatIsOutput(const QString& outputFile, const QStringList& files) {
  const QByteArray out = platform::encodePath(outputFile);
  struct stat st {};
  // An output that does not exist yet can only clash by its name.
  const bool exists = ::stat(out.constData(), &st) == 0;
  for (const QString& f : files) {
    const QByteArray in = platform::encodePath(f);
    if (exists ? sameFile(out, st, in)
               : QDir::cleanPath(QDir(QDir::currentPath()).absoluteFilePath(f)) ==
                     QDir::cleanPath(QDir(QDir::currentPath()).absoluteFilePath(outputFile)))
      return f;
  }
  return {};
}

QString outputIsInputText(const QString& outputFile, const QString& input) {
  return input == outputFile
             ? QStringLiteral("%1 is one of the files to build from; building would destroy it. Choose another "
                              "name for the AVI file.")
                   .arg(outputFile)
             : QStringLiteral("%1 is the same file as %2, one of the files to build from; building would destroy "
                              "it. Choose another name for the AVI file.")
                   .arg(outputFile, input);
}

QString unfinishedName(const QString& outputFile) { return recording::unfinishedName(outputFile); }

BuildResult AviBuilder::build(const BuildJob& job) {
  BuildResult r;
  if (job.files.isEmpty()) {
    r.outcome = BuildOutcome::NotOpened;
    return r;
  }
  ReadAhead ahead(job.files);
  gdi::Bitmap first = ahead.next();
  if (std::uint32_t hs = 0, is = 0; !recording::DIBFrameSizes(first, hs, is)) {
    r.outcome = BuildOutcome::NotOpened;
    return r;
  }
  recording::UnfinishedFile unfinished(job.outputFile);
  if (!unfinished.created()) {
    r.errorNumber = unfinished.error();
    return r;
  }
  // Once the writer has let go of it, the file replaces the output when it
  // holds frames; one without frames goes.
  const auto end = [&unfinished, &r] {
    if (r.framesWritten == 0) return;
    r.keptIn = unfinished.keep();
    if (r.keptIn != unfinished.target() && r.errorNumber == 0) r.errorNumber = unfinished.error();
  };
  try {
    writeFrames(*this, job, ahead, std::move(first), unfinished.path(), r);
  } catch (...) {
    end();
    throw;
  }
  end();
  return r;
}

}  // namespace builder
