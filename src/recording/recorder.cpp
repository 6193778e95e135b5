#include "recording/recorder.h"

#include "framework/application.h"
#include "framework/errors.h"
#include "framework/timer.h"

namespace recording {

namespace {
const QString kUseConversionTool = QStringLiteral("Use Image Conversion Tool");
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
    : QObject(parent), writeTimer_(new framework::Timer(this, QStringLiteral("Timer1"), 1000, false)) {
  writeTimer_->OnTimer = [this] { tick(); };
}

Recorder::~Recorder() = default;

void Recorder::setState(RecordState s) {
  if (s == state_) return;
  state_ = s;
  emit stateChanged(s);
}

void Recorder::frameGrabbed(const gdi::Bitmap& frame) {
  latest_ = frame;
  ++grabs_;
  gate_ = FrameGate::Ready;
}

bool Recorder::frameFormat(std::vector<std::uint8_t>& format) const { return recording::frameFormat(latest_, format); }

StartOutcome Recorder::start(int rate, const vfw::COMPVARS& compressor, bool retime) {
  if (isFileOpen()) return StartOutcome::AlreadyOpen;
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
      gate_ = FrameGate::Ready;
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
  if (frameIndex_ == -1) return false;
  setState(RecordState::Stopping);
  writeTimer_->setEnabled(false);
  close();
  frameIndex_ = -1;
  return true;
}

void Recorder::cancel() {
  // A recording started but without a frame yet also holds a file; leaving
  // it open would lose it and let the next start open a second one over it.
  if (isFileOpen()) {
    writeTimer_->setEnabled(false);
    framework::ProcessMessages();
    close();
  }
  writeTimer_->setEnabled(false);
  setState(RecordState::Idle);
  frameIndex_ = -1;
}

void Recorder::closeOnExit() {
  writeTimer_->setEnabled(false);
  if (!isFileOpen()) return;
  setState(RecordState::Stopping);
  close();
  frameIndex_ = -1;
}

void Recorder::close() {
  framework::ProcessMessages();
  emit statusChanged(QStringLiteral("AVI Completed"));
  // After a failed write the stream was released already; it must not be
  // released twice.
  if (writer_.isOpen()) writer_.close();
  if (writer_.result() != 0) emit statusChanged(kUseConversionTool);
  setState(RecordState::Idle);
}

void Recorder::tick() {
  // A failed start or a failed write leaves no stream: Pause and UnPause
  // there set the state again without anything to write into.
  if (state_ == RecordState::Recording && gate_ == FrameGate::Ready && writer_.isOpen()) writeFrame();
}

// The two pumps let clicks, remote commands and grabs run during a write;
// the WritingFrame state and the gate keep a second write from starting
// inside them, and a Stop or Cancel that ran inside a pump has closed the
// file, which is then left alone.
void Recorder::writeFrame() {
  if (gate_ == FrameGate::Busy || !writer_.isOpen()) return;
  gate_ = FrameGate::Busy;
  setState(RecordState::WritingFrame);
  ++frameIndex_;
  emit frameWriting(frameIndex_);
  framework::ProcessMessages();
  if (!writer_.isOpen()) return;  // closed by a Stop or Cancel inside the pump
  // A grab inside the pump has replaced the frame and opened the gate; the
  // newest complete grab is the one written, and the gate stays shut.
  gate_ = FrameGate::Busy;
  const gdi::Bitmap frame = latest_;
  if (writer_.write(frame, frameIndex_) == 0) {
    framework::ProcessMessages();
    gate_ = FrameGate::Ready;
    // A Pause, Stop or Cancel inside the pump has set its own state.
    if (state_ == RecordState::WritingFrame) setState(RecordState::Recording);
    return;
  }
  writer_.close();
  emit statusChanged(kUseConversionTool);
  setState(RecordState::Idle);
}

}  // namespace recording
