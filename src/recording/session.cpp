#include "recording/session.h"

#include <sys/statvfs.h>

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cerrno>
#include <exception>
#include <system_error>
#include <utility>

namespace recording {

namespace {

const QString kUseConversionTool = QStringLiteral("Use Image Conversion Tool");
constexpr std::int64_t kNsPerMs = 1'000'000;

EndCause causeOf(int error) {
  if (error == ENOSPC || error == EDQUOT) return EndCause::DiskFull;
  if (error == EFBIG) return EndCause::FileTooLarge;
  return EndCause::WriteError;
}

}  // namespace

qint64 Session::reserveBytes(qint64 bytesPerSecond, int frames) {
  // Room for the indexes (idx1 and the OpenDML ones take 24 bytes a frame
  // between them) and five seconds at the current data rate, never less
  // than 64 MiB: a file system that is full may leave the file without its
  // index, and one that is nearly full is often about to be.
  constexpr qint64 kMinimum = qint64(64) << 20;
  return std::max(kMinimum, 5 * bytesPerSecond + 32 * qint64(frames) + (qint64(1) << 20));
}

Session::Session(std::unique_ptr<Grabber> grabber, const Clock& clock, QObject* parent)
    : QObject(parent),
      grabber_(std::move(grabber)),
      clock_(clock),
      beat_(new QTimer(this)),
      poll_(new QTimer(this)),
      watchTimer_(new QTimer(this)) {
  // The grab timer: armed for the next frame's due time, never a fixed
  // interval, so whole milliseconds do not add up into a wrong length.
  beat_->setObjectName(QStringLiteral("getpic"));
  beat_->setSingleShot(true);
  beat_->setTimerType(Qt::PreciseTimer);
  connect(beat_, &QTimer::timeout, this, &Session::beat);
  // At 4K a busy X server took up to 130 ms to copy: the thread answers
  // clicks meanwhile and looks for the pixels every millisecond.
  poll_->setInterval(1);
  poll_->setTimerType(Qt::PreciseTimer);
  connect(poll_, &QTimer::timeout, this, &Session::poll);
  watchTimer_->setInterval(1000);
  connect(watchTimer_, &QTimer::timeout, this, &Session::watch);
}

Session::~Session() {
  for (auto& input : inputs_) input->stop();
  if (sample_.valid()) sample_.wait();
}

void Session::setState(RecordState s) {
  if (s == state_) return;
  state_ = s;
  emit stateChanged(s);
}

void Session::nameFile(const QString& fileName) {
  if (isFileOpen()) return;
  outputFile_ = fileName;
  setState(RecordState::ChoosingTarget);
}

void Session::fixTarget(const wnd::RECT& area) {
  area_ = area;
  if (!isFileOpen()) setState(RecordState::Ready);
  startPreview();
}

void Session::setArea(const wnd::RECT& area) { area_ = area; }

void Session::setGrabber(std::unique_ptr<Grabber> grabber) {
  grabber_ = std::move(grabber);
  if (grabber_) grabber_->showPointer(pointer_);
  if (!grabbing_) return;
  poll_->stop();
  grabbing_ = false;
  arm();
}

void Session::showPointer(bool on) {
  pointer_ = on;
  if (grabber_) grabber_->showPointer(on);
}

// ---- Grabs ---------------------------------------------------------------

bool Session::grabsRun() const {
  return previewOn_ || state_ == RecordState::Recording || state_ == RecordState::Paused;
}

void Session::startPreview() {
  previewOn_ = true;
  if (!grabbing_ && !beat_->isActive()) arm();
}

void Session::stopPreview() {
  previewOn_ = false;
  if (!grabsRun()) beat_->stop();
}

void Session::setPreviewInterval(int ms) {
  previewMs_ = std::max(1, ms);
  if (!grabbing_ && beat_->isActive()) arm();
}

// The next grab: while recording, when the next frame falls due; else one
// preview interval after the last grab was asked for. One copy at a time:
// while one is on its way nothing is armed, and its arrival arms the next.
void Session::arm() {
  if (!grabsRun() || grabbing_) {
    beat_->stop();
    return;
  }
  const std::int64_t t = now();
  const std::int64_t next = state_ == RecordState::Recording ? schedule_.dueAt(scheduled_)
                                                             : lastGrabAt_ + previewMs_ * kNsPerMs;
  const std::int64_t wait = std::max<std::int64_t>(0, next - t);
  beat_->start(int((wait + kNsPerMs - 1) / kNsPerMs));
}

void Session::beat() {
  if (!grabsRun() || grabbing_) return;
  lastGrabAt_ = now();
  try {
    // Frame 0 is the screen once Start has left it: not a compositor's
    // frame that still shows the dialog that started the recording.
    if (state_ == RecordState::Recording && !latestRecordable_ && scheduled_ == 0) grabber_->awaitNewPicture();
    grabber_->start(area_);
  } catch (const std::exception& e) {
    grabFailed(QString::fromUtf8(e.what()));
    arm();
    return;
  }
  grabbing_ = true;
  if (grabber_->arrived())
    finishGrab();
  else
    poll_->start();
}

void Session::poll() {
  if (!grabbing_) {
    poll_->stop();
    return;
  }
  if (grabber_->arrived()) finishGrab();
}

void Session::finishGrab() {
  poll_->stop();
  grabbing_ = false;
  gdi::Bitmap frame;
  try {
    frame = grabber_->finish();
  } catch (const std::exception& e) {
    grabFailed(QString::fromUtf8(e.what()));
    arm();
    return;
  }
  if (frame.empty())
    grabFailed(QString());  // the screen source was replaced while the copy was on its way
  else
    frameGrabbed(frame);
  arm();
}

void Session::frameGrabbed(const gdi::Bitmap& frame) {
  grabFailingSince_ = -1;
  latest_ = frame;
  // A copy asked for before the recording's start may show what Start
  // closed: the preview may have it, the file may not.
  latestRecordable_ = isFileOpen() && lastGrabAt_ >= startedAt_;
  ++grabs_;
  writeDue();
  // A preview stopped while the copy was on its way shows nothing more.
  if (previewOn_) emit grabbed(frame);
}

void Session::grabFailed(const QString& message) {
  if (!isFileOpen()) {
    emit grabError(message);
    return;
  }
  // No picture: the frames due by now are lost, as every frame is while
  // grabs fail; a screen that stays unreadable ends the recording.
  if (state_ == RecordState::Recording) {
    const std::int64_t due = dueNow();
    if (due > scheduled_) lost_ += quint64(due - scheduled_);
    scheduled_ = std::max(scheduled_, due);
  }
  const std::int64_t t = now();
  if (grabFailingSince_ < 0) grabFailingSince_ = t;
  if (t - grabFailingSince_ >= kGrabFailureMs * kNsPerMs) {
    endWithFailure(EndCause::GrabFailing, 0, message);
    return;
  }
  stopAtLimit();
}

std::int64_t Session::dueNow() const {
  const std::int64_t due = schedule_.dueBy(now());
  return frameLimit_ > 0 ? std::min(due, frameLimit_) : due;
}

// A recording of a set length ends as Stop ends it once its last frame fell due.
void Session::stopAtLimit() {
  if (frameLimit_ > 0 && scheduled_ >= frameLimit_ && state_ == RecordState::Recording) stop();
}

// Every frame due by now gets the newest grab: one most of the time, none
// when the grab came early, several when it came late (a busy X server, a
// slow compositor), so the file keeps its length in time. A frame the
// writer cannot take, a whole queue behind, is given up and counted.
void Session::writeDue() {
  if (state_ != RecordState::Recording || !queue_ || latest_.empty() || !latestRecordable_) return;
  if (!writer_.accepts(latest_)) {
    // Another size or depth than the file's: refused before the queue.
    endWithFailure(EndCause::WriteError, 0, QString());
    return;
  }
  const std::int64_t due = dueNow();
  const int before = frameIndex_;
  // The sound come in by now goes first: it is as old as the frames.
  if (track_) queue_->pushSound(track_->take(now()));
  for (; scheduled_ < due; ++scheduled_) {
    if (queue_->full() || !queue_->push(latest_, frameIndex_ + 1)) {
      ++lost_;
      continue;
    }
    ++frameIndex_;
  }
  if (frameIndex_ != before) emit frameWritten(frameIndex_);
  stopAtLimit();
}

bool Session::frameFormat(std::vector<std::uint8_t>& format) const { return recording::frameFormat(latest_, format); }

// ---- Commands ------------------------------------------------------------

StartOutcome Session::start(const RecordingSettings& settings) {
  if (isFileOpen()) return StartOutcome::AlreadyOpen;
  if (settings.area.width() > 0 && settings.area.height() > 0) area_ = settings.area;
  if (!settings.file.isEmpty()) outputFile_ = settings.file;
  showPointer(settings.pointer);
  const int rate = std::clamp(settings.rate, kMinFrameRate, kMaxFrameRate);
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
  const bool sound = settings.desktopSound || settings.microphone;
  writer_.setSound(sound, SoundTrack::kRate, SoundTrack::kChannels, settings.soundCompressed);
  const OpenOutcome outcome = writer_.open(latest_, settings.compressor, outputFile_,
                                           [rate](vfw::AVISTREAMINFO& info) { info.dwRate = vfw::DWORD(rate); });
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
      framesWritten_ = 0;
      lost_ = 0;
      scheduled_ = 0;
      frameLimit_ = std::max<std::int64_t>(0, settings.frameLimit);
      grabFailingSince_ = -1;
      startedAt_ = now() + kSettleMs * kNsPerMs;
      schedule_.start(startedAt_, rate);
      startSound(settings);
      latestRecordable_ = false;
      // The preview follows the recording's frames, and goes on at their
      // pace while paused.
      previewMs_ = std::max(1, 1000 / rate);
      setState(RecordState::Recording);
      watchTimer_->start();
      watch();
      arm();
      return StartOutcome::Started;
    case OpenOutcome::FrameDataFailed:
      return StartOutcome::NoFrame;
    case OpenOutcome::LibraryFailure:
      break;
  }
  if (writer_.result() != 0) emit statusChanged(kUseConversionTool);
  return StartOutcome::Failed;
}

void Session::pause() {
  if (state_ != RecordState::Recording) return;
  schedule_.pause(now());
  if (track_) track_->pause(now());
  emit statusChanged(QStringLiteral("AVI is Paused"));
  setState(RecordState::Paused);
  arm();
}

void Session::resume() {
  if (state_ != RecordState::Paused) return;
  schedule_.resume(now());
  if (track_) track_->resume(now());
  setState(RecordState::Recording);
  if (!grabbing_) arm();
}

bool Session::stop() {
  setPreviewInterval(kAfterStopPreviewMs);
  if (!isFileOpen()) return false;
  complete(EndCause::Stopped);
  return true;
}

void Session::cancel() {
  stopPreview();
  // A recording started but without a frame yet also holds a file; leaving
  // it open would lose it and let the next start open a second one over it.
  if (isFileOpen())
    complete(EndCause::Cancelled);
  else
    setState(RecordState::Idle);
}

// Stop's and Cancel's end: the frames handed over go into the file, which
// is completed; a write or a close that fails ends it as a failure does.
void Session::complete(EndCause how) {
  setState(RecordState::Stopping);
  endSound();
  if (settleQueue()) {
    endWithFailedWrite();
    return;
  }
  if (!close()) {
    endWithFailure(EndCause::CloseFailed, writer_.lastErrno(), QString());
    return;
  }
  finished(how, frameIndex_ + 1);
}

void Session::closeOnExit() {
  stopPreview();
  if (!isFileOpen()) return;
  setState(RecordState::Stopping);
  endSound();
  settleQueue();
  const int frames = frameIndex_ + 1;
  close();
  finished(EndCause::Stopped, frames);
}

void Session::finished(EndCause cause, int framesKept) {
  frameIndex_ = -1;
  setState(RecordState::Idle);
  RecordingEnd end;
  end.cause = cause;
  end.file = outputFile_;
  end.framesKept = framesKept;
  end.rate = schedule_.rate();
  emit ended(end);
}

bool Session::close() {
  stopWatching();
  // "AVI Completed" only once the indexes are on disk.
  const bool completed = !writer_.isOpen() || writer_.close();
  emit statusChanged(completed && writer_.result() == 0 ? QStringLiteral("AVI Completed") : kUseConversionTool);
  return completed;
}

// ---- Failures ------------------------------------------------------------

// Waits until the frames handed to the queue are in the file, then ends
// its thread. The write that failed among them, if one did.
std::optional<FrameQueue::Failure> Session::settleQueue() {
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

// The queue's thread found a write failing; this runs on the session's.
void Session::writerFailed() {
  if (!queue_) return;  // settled already by a Stop or another end
  if (settleQueue()) endWithFailedWrite();
}

// The frame that failed is not in the file; the ones before it are (the
// file's own count: frames written late by the encoder included).
void Session::endWithFailedWrite() {
  const int error = writer_.lastErrno();
  endWithFailure(causeOf(error), error, QString(), int(framesWritten_));
}

// The recording ends as Stop ends it, whatever was under way: the file is
// completed with the frames written so far and nothing stays open.
void Session::endWithFailure(EndCause cause, int error, const QString& detail, int framesKept) {
  const bool queued = queue_ != nullptr;
  endSound();
  const auto failed = settleQueue();
  RecordingEnd end;
  end.cause = cause;
  end.file = outputFile_;
  end.rate = schedule_.rate();
  end.error = error;
  end.detail = detail;
  // Frames handed over are kept, up to a write that failed.
  if (framesKept < 0) framesKept = queued || failed ? int(framesWritten_) : frameIndex_ + 1;
  end.framesKept = framesKept;
  stopWatching();
  grabFailingSince_ = -1;
  const bool completed = !writer_.isOpen() || writer_.close();
  end.plays = completed && cause != EndCause::CloseFailed;
  if (!completed && cause != EndCause::CloseFailed) end.error = end.error ? end.error : writer_.lastErrno();
  frameIndex_ = -1;
  emit statusChanged(kUseConversionTool);
  setState(RecordState::Idle);
  arm();
  emit ended(end);
}

// Once a second while a file is open: the file's size and the free space
// of its file system, measured on a worker thread (a slow or network disk
// must not hold up the grab), looked at one second later.
void Session::watch() {
  if (!isFileOpen()) return;
  Health h;
  // Recorded time, as the file will hold it: paused spans left out.
  h.elapsedMs = schedule_.recordedNs(now()) / kNsPerMs;
  h.frames = frameIndex_ + 1;
  h.lostFrames = lost_;
  h.fileBytes = lastFileBytes_;
  if (track_) {
    h.sound = true;
    const int peak = track_->takePeak();
    h.soundDb = peak > 0 ? std::max(-90, int(std::lround(20 * std::log10(peak / 32768.0)))) : -90;
    h.soundDevicesGone = std::popcount(soundGone_);
  }
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

void Session::stopWatching() {
  watchTimer_->stop();
  if (sample_.valid()) sample_.wait();
  sample_ = {};
  lastFileBytes_ = 0;
  bytesPerSecond_ = 0;
}

// ---- Sound ---------------------------------------------------------------

// The devices start at Start, before frame 0, so that they deliver by
// then; what they capture before it is dropped by the track. A device that
// cannot be had records silence, as one that goes away does.
void Session::startSound(const RecordingSettings& settings) {
  soundGoneTold_ = false;
  soundGone_ = 0;
  std::vector<SoundDevice> devices;
  if (settings.desktopSound) devices.push_back(SoundDevice::Desktop);
  if (settings.microphone) devices.push_back(SoundDevice::Microphone);
  if (devices.empty() || !writer_.hasSound()) return;
  track_ = std::make_unique<SoundTrack>(int(devices.size()));
  track_->start(startedAt_);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const SoundDevice device = devices[i];
    std::unique_ptr<SoundInput> input = soundInputs_ ? soundInputs_(device) : nullptr;
    SoundTrack* track = track_.get();
    const auto gone = [this, device] {
      QMetaObject::invokeMethod(this, [this, device] { soundGone(device); }, Qt::QueuedConnection);
    };
    const auto samples = [track, i](std::span<const std::int16_t> s, std::int64_t endNs) {
      track->add(int(i), s, endNs);
    };
    if (!input || !input->start(samples, gone)) {
      soundGone(device);
      continue;
    }
    inputs_.push_back(std::move(input));
  }
}

// The devices stop, and the track is handed over to its end: as long as
// the frames handed over, silence where nothing came.
void Session::endSound() {
  for (auto& input : inputs_) input->stop();
  inputs_.clear();
  if (track_ && queue_) {
    const std::int64_t total = std::int64_t(frameIndex_ + 1) * SoundTrack::kRate / schedule_.rate();
    queue_->pushSound(track_->finish(total));
  }
  track_.reset();
}

void Session::soundGone(SoundDevice device) {
  if (!track_) return;
  soundGone_ |= 1u << unsigned(device);
  if (soundGoneTold_) return;
  soundGoneTold_ = true;
  emit statusChanged(device == SoundDevice::Desktop
                         ? QStringLiteral("No sound from the desktop: the recording goes on with silence")
                         : QStringLiteral("No sound from the microphone: the recording goes on with silence"));
}

}  // namespace recording
