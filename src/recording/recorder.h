#pragma once
// The recorder: one real-time recording, from the file's name to its close.
//
// Grabs arrive from outside (frameGrabbed); a timer of the recorder's own
// writes the newest one as the next key frame at the asked rate. Commands
// are named for what they do; every change a window shows (state, status
// text, the frame being written, the timers' interval) is reported through
// signals. The recorder never reads or touches a window.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"
#include "recording/aviwriter.h"
#include "recording/framequeue.h"

class QTimer;
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

// Why a recording ended that the user did not end.
enum class EndCause {
  DiskFull,        // a write found no space left (ENOSPC)
  DiskAlmostFull,  // the free space fell below the reserve; stopped in time
  FileTooLarge,    // the largest file this process or file system allows (EFBIG)
  WriteError,      // any other failed write (EIO, ...)
  GrabFailing,     // the screen could not be read for a while
  CloseFailed,     // the indexes could not be written at the end
};

struct RecordingEnd {
  EndCause cause = EndCause::WriteError;
  QString file;
  int framesKept = 0;
  int rate = 1;
  int error = 0;        // errno, where one is known
  QString detail;       // the grab's message, or the free space left
  bool plays = true;    // the file was completed (headers and indexes)
};

// "Recording stopped: the disk is full. take one.avi holds 28 frames
// (2.8 s) and plays."
QString describe(const RecordingEnd& end);

// Why a file cannot be created at `path`, in words ("the folder /x does
// not exist"); empty when nothing is known against it.
QString whyCannotCreate(const QString& path);

// A recording's state once a second, for the tray icon's tooltip.
struct Health {
  qint64 elapsedMs = 0;
  int frames = 0;
  qint64 fileBytes = 0;
  qint64 freeBytes = -1;   // -1 while not known yet
  quint64 lostFrames = 0;  // ticks the writer could not keep up with
};

// "REC 01:23 - 2,490 fr - 1.2 GB - 38 GB free", at most 62 characters.
QString healthText(const Health& h);

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
  // A write due meanwhile waits for that picture rather than being lost:
  // the grab's pixels may take a while to arrive from the X server, and
  // the user-interface thread goes on with its events in between.
  void grabStarted() {
    gate_ = FrameGate::Busy;
    grabInFlight_ = true;
  }
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
  // Ends the recording and completes the file, also before its first
  // frame. False when there was no file.
  bool stop();
  // Ends the recording; whatever was written stays in the file.
  void cancel();
  // Run before the program ends: an open recording's file is completed.
  void closeOnExit();
  // Writes the newest grab as the next key frame (the writer timer's tick).
  void writeFrame();
  // A grab failed with `message`. While a file is open and grabs keep
  // failing for kGrabFailureMs, the recording ends (endedByFailure).
  void grabFailed(const QString& message);
  static constexpr int kGrabFailureMs = 2000;

  // Free space kept for the indexes and a few seconds of frames: below it
  // the recording stops as Stop does, so the file is complete.
  static qint64 reserveBytes(qint64 bytesPerSecond, int frames);

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
  // Writer ticks lost since this recording started.
  quint64 lostFrames() const;

 signals:
  void stateChanged(recording::RecordState state);
  void statusChanged(const QString& text);
  // Frame `index` is about to be written ("Writing Frame #index").
  void frameWriting(int index);
  // The recording's frame interval in milliseconds, for the grab to follow.
  void intervalChanged(int ms);
  // The recording ended on its own; the file is closed, nothing is open.
  void endedByFailure(const recording::RecordingEnd& end);
  // Once a second while a file is open.
  void health(const recording::Health& h);

 private:
  struct Sample {
    qint64 freeBytes = -1;
    qint64 fileBytes = 0;
  };
  void setState(RecordState s);
  bool close();
  void tick();
  void writeDue();
  void endWithFailure(EndCause cause, int error, const QString& detail, int framesKept = -1);
  std::optional<FrameQueue::Failure> settleQueue();
  void writerFailed();
  void endWithFailedWrite();
  void watch();
  void stopWatching();

  AviWriter writer_;
  std::unique_ptr<FrameQueue> queue_;  // while a file is open; gone before the writer closes
  std::int64_t framesWritten_ = 0;     // by the last queue, once it was settled
  quint64 ticksGivenUp_ = 0;           // ticks that wrote nothing: the writer was a queue behind, or no picture came
  framework::Timer* writeTimer_;
  QString outputFile_;
  gdi::Bitmap latest_;
  std::uint64_t grabs_ = 0;
  RecordState state_ = RecordState::Idle;
  FrameGate gate_ = FrameGate::NoGrab;
  int frameIndex_ = -1;
  int rate_ = 1;
  QTimer* watchTimer_;
  QElapsedTimer started_;
  std::future<Sample> sample_;
  qint64 lastFileBytes_ = 0;
  qint64 bytesPerSecond_ = 0;
  quint64 lostAtStart_ = 0;
  QElapsedTimer grabFailingSince_;
  bool grabInFlight_ = false;
  // Ticks owed a frame: they came while a grab was on its way, or while
  // a write pumped messages. Each writes once the picture is in.
  int writesDue_ = 0;
  bool writingDue_ = false;
};

}  // namespace recording
