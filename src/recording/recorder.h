#pragma once
// The recorder: one real-time recording, from the file's name to its close.
//
// Grabs arrive from outside (frameGrabbed); a timer of the recorder's own
// writes the newest one as the next key frame at the asked rate. Commands
// are named for what they do; every change a window shows (state, status
// text, the frame being written, the timers' interval) is reported through
// signals. The recorder never reads or touches a window.
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"
#include "recording/aviwriter.h"

namespace framework {
class Timer;
}

namespace recording {

// The frame rates a recording accepts: one frame a second up to one a
// millisecond, the finest interval the timers have.
constexpr int kMinFrameRate = 1;
constexpr int kMaxFrameRate = 1000;

// Reads the frame-rate text the way the rest of the program reads whole
// numbers. True with the rate when it is a whole number from 1 to 1000;
// otherwise false, with a sentence for the user that says what is wrong.
bool parseFrameRate(const QString& text, int& rate, QString& problem);

enum class RecordState {
  Idle,          // no recording, or one that ended
  Recording,     // the writer timer writes frames
  Paused,        // the file stays open, nothing is written
  WritingFrame,  // a frame is being written (messages are pumped meanwhile)
  Stopping,      // Stop is closing the file
};

// Whether the newest grab may be written.
enum class FrameGate {
  NoGrab,  // nothing grabbed since the program started
  Ready,   // a complete grab waits
  Busy,    // a grab or a write is under way
};

enum class StartOutcome {
  Started,
  AlreadyOpen,  // a file is open already; nothing changed
  NoFrame,      // no grab to take the frame format from; nothing created
  Failed,       // the library refused the file or the stream
};

class Recorder : public QObject {
  Q_OBJECT
 public:
  explicit Recorder(QObject* parent = nullptr);
  ~Recorder() override;

  // The file the next recording is written to.
  void setOutputFile(const QString& fileName) { outputFile_ = fileName; }
  const QString& outputFile() const { return outputFile_; }

  // A grab begins: nothing is written until it has delivered its picture.
  void grabStarted() { gate_ = FrameGate::Busy; }
  // A grab's picture, the frame the next write takes.
  void frameGrabbed(const gdi::Bitmap& frame);
  const gdi::Bitmap& latestFrame() const { return latest_; }
  // Grabs delivered so far.
  std::uint64_t grabCount() const { return grabs_; }

  // The packed format of the newest grab, for choosing a compressor; false
  // when there is no grab yet.
  bool frameFormat(std::vector<std::uint8_t>& format) const;

  // Creates the file with the chosen compressor at `rate` frames a second.
  // With `retime` the writer timer (and, through intervalChanged, the grab)
  // takes the rate's interval. The writer timer is not started here.
  StartOutcome start(int rate, const vfw::COMPVARS& compressor, bool retime);
  void pause();
  void resume();
  // Ends the recording and completes the file. False, and nothing changes,
  // while no frame has been written yet.
  bool stop();
  // Ends the recording; whatever was written stays in the file.
  void cancel();
  // Run before the program ends: an open recording's file is completed.
  void closeOnExit();
  // Writes the newest grab as the next key frame (the writer timer's tick).
  void writeFrame();

  RecordState state() const { return state_; }
  FrameGate frameGate() const { return gate_; }
  // The index of the last frame written; -1 while none was.
  int frameIndex() const { return frameIndex_; }
  // True while a file belongs to the recorder: a recording was started and
  // not yet closed, also before its first frame and after a failed write.
  bool isFileOpen() const { return frameIndex_ != -1 || writer_.isOpen(); }
  // True while the file's stream can take frames.
  bool isWriting() const { return writer_.isOpen(); }
  // The writer's last result (0: no failure).
  std::int32_t result() const { return writer_.result(); }
  // The timer that writes frames (objectName "Timer1").
  framework::Timer* writeTimer() const { return writeTimer_; }

 signals:
  void stateChanged(recording::RecordState state);
  void statusChanged(const QString& text);
  // Frame `index` is about to be written ("Writing Frame #index").
  void frameWriting(int index);
  // The recording's frame interval in milliseconds, for the grab to follow.
  void intervalChanged(int ms);

 private:
  void setState(RecordState s);
  void close();
  void tick();

  AviWriter writer_;
  framework::Timer* writeTimer_;
  QString outputFile_;
  gdi::Bitmap latest_;
  std::uint64_t grabs_ = 0;
  RecordState state_ = RecordState::Idle;
  FrameGate gate_ = FrameGate::NoGrab;
  int frameIndex_ = -1;
};

}  // namespace recording
