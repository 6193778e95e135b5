#include "recording/recorder.h"

#include <sys/statvfs.h>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "framework/application.h"
#include "framework/errors.h"
#include "framework/timer.h"

namespace recording {

namespace {

const QString kUseConversionTool = QStringLiteral("Use Image Conversion Tool");

QString bytesText(qint64 bytes) {
  const double b = double(bytes);
  // One decimal while it says something (1.2 GB), none above (38 GB).
  if (b >= 1e9) return QStringLiteral("%1 GB").arg(b / 1e9, 0, 'f', b >= 1e10 ? 0 : 1);
  if (b >= 1e6) return QStringLiteral("%1 MB").arg(b / 1e6, 0, 'f', b >= 1e7 ? 0 : 1);
  return QStringLiteral("%1 kB").arg(qRound(b / 1e3));
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

EndCause causeOf(int error) {
  if (error == ENOSPC || error == EDQUOT) return EndCause::DiskFull;
  if (error == EFBIG) return EndCause::FileTooLarge;
  return EndCause::WriteError;
}

}  // namespace

QString describe(const RecordingEnd& end) {
  QString why;
  switch (end.cause) {
    case EndCause::DiskFull:
      why = QStringLiteral("the disk is full");
      break;
    case EndCause::DiskAlmostFull:
      why = QStringLiteral("the disk is almost full (%1 left)").arg(end.detail);
      break;
    case EndCause::FileTooLarge:
      why = QStringLiteral("the file reached the largest size this system allows");
      break;
    case EndCause::WriteError:
      why = end.error ? QStringLiteral("the file could not be written (%1)").arg(errnoText(end.error))
                      : QStringLiteral("the file could not be written");
      break;
    case EndCause::GrabFailing:
      why = QStringLiteral("the screen could not be read (%1)").arg(end.detail);
      break;
    case EndCause::CloseFailed:
      why = end.error ? QStringLiteral("the file's index could not be written (%1)").arg(errnoText(end.error))
                      : QStringLiteral("the file's index could not be written");
      break;
  }
  const QString name = QFileInfo(end.file).fileName();
  const QString frames = end.framesKept == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(end.framesKept);
  const QString length = QStringLiteral("%1 s").arg(double(end.framesKept) / std::max(1, end.rate), 0, 'f', 1);
  const QString kept = end.plays ? QStringLiteral("%1 holds %2 (%3) and plays.").arg(name, frames, length)
                                 : QStringLiteral("%1 holds %2 (%3), but players may not open it.").arg(name, frames, length);
  return QStringLiteral("Recording stopped: %1. %2").arg(why, kept);
}

QString whyCannotCreate(const QString& path) {
  const QFileInfo f(path);
  const QFileInfo folder(f.absolutePath());
  if (!folder.exists()) return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
  if (!folder.isDir()) return QStringLiteral("%1 is not a folder").arg(folder.filePath());
  if (f.isDir()) return QStringLiteral("%1 is a folder").arg(f.filePath());
  if (f.exists() && !f.isFile()) return QStringLiteral("%1 is not an ordinary file").arg(f.filePath());
  if (f.exists() ? !f.isWritable() : !folder.isWritable())
    return QStringLiteral("permission to write %1 is denied").arg(f.exists() ? f.filePath() : folder.filePath());
  return {};
}

QString healthText(const Health& h) {
  const qint64 s = h.elapsedMs / 1000;
  QString t = s >= 3600 ? QStringLiteral("REC %1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(s % 60, 2, 10, QLatin1Char('0'))
                        : QStringLiteral("REC %1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
  const QLocale c(QLocale::English);
  t += QStringLiteral(" - %1 fr - %2").arg(c.toString(h.frames), bytesText(h.fileBytes));
  if (h.freeBytes >= 0) t += QStringLiteral(" - %1 free").arg(bytesText(h.freeBytes));
  if (h.lostFrames > 0) t += QStringLiteral(" - %1 lost").arg(c.toString(h.lostFrames));
  return t.left(62);
}

qint64 Recorder::reserveBytes(qint64 bytesPerSecond, int frames) {
  // Room for the indexes (idx1 and the OpenDML ones take 24 bytes a frame
  // between them) and five seconds at the current data rate, never less
  // than 64 MiB: a file system that is full may leave the file without its
  // index, and one that is nearly full is often about to be.
  constexpr qint64 kMinimum = qint64(64) << 20;
  return std::max(kMinimum, 5 * bytesPerSecond + 32 * qint64(frames) + (qint64(1) << 20));
}

bool parseFrameRate(const QString& text, int& rate, QString& problem) {
  bool ok = false;
  const int value = framework::StrToIntDef(text, 0, &ok);
  if (!ok) {
    problem = QStringLiteral("The frame rate \"%1\" is not a whole number. Enter the number of frames per "
                             "second, from %2 to %3, and press Start again.")
                  .arg(text.trimmed())
                  .arg(kMinFrameRate)
                  .arg(kMaxFrameRate);
    return false;
  }
  if (value < kMinFrameRate || value > kMaxFrameRate) {
    problem = QStringLiteral("A frame rate of %1 frames per second cannot be recorded. Enter a number from %2 "
                             "to %3 and press Start again.")
                  .arg(value)
                  .arg(kMinFrameRate)
                  .arg(kMaxFrameRate);
    return false;
  }
  rate = value;
  return true;
}

Recorder::Recorder(QObject* parent)
    : QObject(parent),
      writeTimer_(new framework::Timer(this, QStringLiteral("Timer1"), 1000, false)),
      watchTimer_(new QTimer(this)) {
  writeTimer_->OnTimer = [this] { tick(); };
  watchTimer_->setInterval(1000);
  connect(watchTimer_, &QTimer::timeout, this, &Recorder::watch);
}

Recorder::~Recorder() {
  if (sample_.valid()) sample_.wait();
}

quint64 Recorder::lostFrames() const { return writeTimer_->lostTicks() - lostAtStart_ + ticksGivenUp_; }

// Once a second while a file is open: the file's size and the free space
// of its file system, measured on a worker thread (a slow or network disk
// must not hold up the grab), looked at one second later.
void Recorder::watch() {
  if (!isFileOpen()) return;
  Health h;
  h.elapsedMs = started_.elapsed();
  h.frames = frameIndex_ + 1;
  h.lostFrames = lostFrames();
  h.fileBytes = lastFileBytes_;
  if (sample_.valid() && sample_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
    const Sample s = sample_.get();
    bytesPerSecond_ = std::max<qint64>(0, s.fileBytes - lastFileBytes_);
    lastFileBytes_ = h.fileBytes = s.fileBytes;
    h.freeBytes = s.freeBytes;
    if (s.freeBytes >= 0 && s.freeBytes < reserveBytes(bytesPerSecond_, h.frames) && writer_.isOpen()) {
      emit health(h);
      endWithFailure(EndCause::DiskAlmostFull, 0, bytesText(s.freeBytes));
      return;
    }
  }
  emit health(h);
  if (!sample_.valid())
    sample_ = std::async(std::launch::async, [path = outputFile_] {
      Sample s;
      struct statvfs v {};
      const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
      if (::statvfs(folder.constData(), &v) == 0) s.freeBytes = qint64(v.f_bavail) * qint64(v.f_frsize);
      s.fileBytes = QFileInfo(path).size();
      return s;
    });
}

void Recorder::stopWatching() {
  watchTimer_->stop();
  if (sample_.valid()) sample_.wait();
  sample_ = {};
  lastFileBytes_ = 0;
  bytesPerSecond_ = 0;
}

void Recorder::grabFailed(const QString& message) {
  // No picture: the writes that waited for it are lost, as every write is
  // while grabs fail.
  grabInFlight_ = false;
  const int owed = std::exchange(writesDue_, 0);
  if (!isFileOpen()) return;
  ticksGivenUp_ += static_cast<quint64>(owed);
  if (!grabFailingSince_.isValid()) grabFailingSince_.start();
  if (grabFailingSince_.elapsed() >= kGrabFailureMs) endWithFailure(EndCause::GrabFailing, 0, message);
}

// Waits until the frames handed to the queue are in the file, then ends
// its thread. The write that failed among them, if one did.
std::optional<FrameQueue::Failure> Recorder::settleQueue() {
  if (!queue_) return std::nullopt;
  queue_->drain();
  auto failed = queue_->failure();
  queue_.reset();
  // The frames the encoder still holds go into the file now.
  if (const std::int32_t r = writer_.finish(); r != 0 && !failed)
    failed = FrameQueue::Failure{std::int32_t(writer_.framesInFile()), r};
  framesWritten_ = writer_.framesInFile();
  return failed;
}

// The queue's thread found a write failing; this runs on the recorder's.
void Recorder::writerFailed() {
  if (!queue_) return;  // settled already by a Stop or another end
  if (const auto failed = settleQueue()) endWithFailedWrite();
}

// The frame that failed is not in the file; the ones before it are (the
// file's own count: frames written late by the encoder included).
void Recorder::endWithFailedWrite() {
  const int error = writer_.lastErrno();
  endWithFailure(causeOf(error), error, QString(), int(framesWritten_));
}

// The recording ends as Stop ends it, whatever was under way: the file is
// completed with the frames written so far and nothing stays open.
void Recorder::endWithFailure(EndCause cause, int error, const QString& detail, int framesKept) {
  const bool queued = queue_ != nullptr;
  const auto failed = settleQueue();
  RecordingEnd end;
  end.cause = cause;
  end.file = outputFile_;
  end.rate = rate_;
  end.error = error;
  end.detail = detail;
  // A frame announced but not yet handed over when the end came is not
  // kept; those handed over are, up to a write that failed.
  if (framesKept < 0) framesKept = queued || failed ? int(framesWritten_) : frameIndex_ + 1;
  end.framesKept = framesKept;
  writeTimer_->setEnabled(false);
  stopWatching();
  grabFailingSince_.invalidate();
  const bool completed = !writer_.isOpen() || writer_.close();
  end.plays = completed && cause != EndCause::CloseFailed;
  if (!completed && cause != EndCause::CloseFailed) end.error = end.error ? end.error : writer_.lastErrno();
  frameIndex_ = -1;
  emit statusChanged(kUseConversionTool);
  setState(RecordState::Idle);
  emit endedByFailure(end);
}

void Recorder::setState(RecordState s) {
  if (s == state_) return;
  state_ = s;
  emit stateChanged(s);
}

void Recorder::frameGrabbed(const gdi::Bitmap& frame) {
  grabFailingSince_.invalidate();
  latest_ = frame;
  ++grabs_;
  gate_ = FrameGate::Ready;
  grabInFlight_ = false;
  writeDue();
}

bool Recorder::frameFormat(std::vector<std::uint8_t>& format) const { return recording::frameFormat(latest_, format); }

StartOutcome Recorder::start(int rate, const vfw::COMPVARS& compressor, bool retime) {
  if (isFileOpen()) return StartOutcome::AlreadyOpen;
  // Frames are written on the queue's thread, so none needs to be in the
  // file the moment its write returns.
  writer_.setOverlap(true);
  // A recording streams at its rate and is not read while it grows: its
  // frames skip the page cache (an 8 MB frame at 1080p costs 0.1 ms of
  // CPU that way against about 3 through the cache).
  writer_.setDirectWrites(true);
  // Frames come at the recording's rate: the compressor keeps up with that
  // on as few threads, and as little memory, as it can.
  writer_.setPaced(true);
  const OpenOutcome outcome =
      writer_.open(latest_, compressor, outputFile_, [this, rate, retime](vfw::AVISTREAMINFO& info) {
        info.dwRate = static_cast<vfw::DWORD>(rate);
        if (retime) {
          writeTimer_->setInterval(1000 / rate);
          emit intervalChanged(1000 / rate);
        }
      });
  switch (outcome) {
    case OpenOutcome::Opened:
      try {
        queue_ = std::make_unique<FrameQueue>(writer_, writer_.imageSize(), [this] {
          QMetaObject::invokeMethod(this, [this] { writerFailed(); }, Qt::QueuedConnection);
        });
      } catch (const std::system_error&) {
        // No thread to be had: nothing can be recorded.
        writer_.close();
        break;
      }
      ticksGivenUp_ = 0;
      writesDue_ = 0;
      framesWritten_ = 0;
      gate_ = FrameGate::Ready;
      rate_ = rate;
      started_.start();
      lostAtStart_ = writeTimer_->lostTicks();
      grabFailingSince_.invalidate();
      watchTimer_->start();
      watch();
      setState(RecordState::Recording);
      return StartOutcome::Started;
    case OpenOutcome::FrameDataFailed:
      return StartOutcome::NoFrame;
    case OpenOutcome::LibraryFailure:
      break;
  }
  if (writer_.result() != 0) emit statusChanged(kUseConversionTool);
  setState(RecordState::Idle);
  return StartOutcome::Failed;
}

void Recorder::pause() {
  writesDue_ = 0;
  emit statusChanged(QStringLiteral("AVI is Paused"));
  setState(RecordState::Paused);
  framework::ProcessMessages();
  writeTimer_->setEnabled(false);
}

void Recorder::resume() {
  setState(RecordState::Recording);
  writeTimer_->setEnabled(true);
  framework::ProcessMessages();
}

bool Recorder::stop() {
  if (!isFileOpen()) return false;
  setState(RecordState::Stopping);
  writeTimer_->setEnabled(false);
  if (const auto failed = settleQueue()) {
    endWithFailedWrite();
    return true;
  }
  const int frames = frameIndex_ + 1;
  if (!close()) {
    frameIndex_ = frames - 1;
    endWithFailure(EndCause::CloseFailed, writer_.lastErrno(), QString());
    return true;
  }
  frameIndex_ = -1;
  return true;
}

void Recorder::cancel() {
  // A recording started but without a frame yet also holds a file; leaving
  // it open would lose it and let the next start open a second one over it.
  if (isFileOpen()) {
    writeTimer_->setEnabled(false);
    framework::ProcessMessages();
    if (const auto failed = settleQueue()) {
      endWithFailedWrite();
      return;
    }
    if (!close()) {
      endWithFailure(EndCause::CloseFailed, writer_.lastErrno(), QString());
      return;
    }
  }
  writeTimer_->setEnabled(false);
  setState(RecordState::Idle);
  frameIndex_ = -1;
}

void Recorder::closeOnExit() {
  writeTimer_->setEnabled(false);
  if (!isFileOpen()) return;
  setState(RecordState::Stopping);
  settleQueue();
  close();
  frameIndex_ = -1;
}

bool Recorder::close() {
  framework::ProcessMessages();
  stopWatching();
  // "AVI Completed" only once the indexes are on disk.
  const bool completed = !writer_.isOpen() || writer_.close();
  emit statusChanged(completed && writer_.result() == 0 ? QStringLiteral("AVI Completed") : kUseConversionTool);
  setState(RecordState::Idle);
  return completed;
}

void Recorder::tick() {
  // A failed start or a failed write leaves no stream: Pause and UnPause
  // there set the state again without anything to write into.
  if (!writer_.isOpen()) return;
  if (state_ == RecordState::WritingFrame) {
    // Inside the last write's pump: this frame follows that one.
    ++writesDue_;
    return;
  }
  if (state_ != RecordState::Recording) return;
  if (gate_ == FrameGate::Ready)
    writeFrame();
  else if (grabInFlight_)
    // At 4K a busy X server can take longer than a tick to deliver: every
    // tick meanwhile gets the picture when it comes, so the file keeps its
    // length in time.
    ++writesDue_;
  else
    ++ticksGivenUp_;  // the last grab failed: nothing to write
}

void Recorder::writeDue() {
  if (writingDue_) return;  // inside a write below: the loop goes on after it
  writingDue_ = true;
  while (writesDue_ > 0 && state_ == RecordState::Recording && gate_ == FrameGate::Ready && writer_.isOpen()) {
    --writesDue_;
    writeFrame();
  }
  writingDue_ = false;
}

// The frame goes to the queue, whose thread compresses and writes it; a
// write that fails there ends the recording from writerFailed. The pump
// lets clicks, remote commands and grabs run between announcing a frame and
// handing it over; the WritingFrame state and the gate keep a second write
// from starting inside it, and a Stop or Cancel that ran inside it has
// closed the file, which is then left alone.
void Recorder::writeFrame() {
  if (gate_ == FrameGate::Busy || !writer_.isOpen() || !queue_) return;
  if (queue_->full()) {
    // The writer is a whole queue behind: this tick's frame is given up,
    // and counted, rather than memory growing without end.
    ++ticksGivenUp_;
    return;
  }
  gate_ = FrameGate::Busy;
  setState(RecordState::WritingFrame);
  ++frameIndex_;
  emit frameWriting(frameIndex_);
  framework::ProcessMessages();
  if (!writer_.isOpen() || !queue_) return;  // closed by a Stop or Cancel inside the pump
  // A grab inside the pump has replaced the frame and opened the gate; the
  // newest complete grab is the one written.
  const gdi::Bitmap frame = latest_;
  if (!writer_.accepts(frame)) {
    // Another size or depth than the file's: refused before the queue.
    endWithFailure(EndCause::WriteError, 0, QString());
    return;
  }
  queue_->push(frame, frameIndex_);  // refused only after a failed write, whose report is on its way
  // A grab started inside the pump and still on its way holds the gate.
  gate_ = grabInFlight_ ? FrameGate::Busy : FrameGate::Ready;
  // A Pause, Stop or Cancel inside the pump has set its own state.
  if (state_ == RecordState::WritingFrame) setState(RecordState::Recording);
  writeDue();
}

}  // namespace recording
