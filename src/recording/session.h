#pragma once
// One recording session: the rectangle it watches, the preview grabs, and
// from Start to Stop the file. It owns the clock (frames fall due on a
// monotonic schedule, paused spans cut out), the grabber, the frame queue
// and the writer. Windows, the command line and tests drive it through its
// commands and see it through its signals; it never reads a window, and it
// never runs the event loop itself: a command has done what it does when
// it returns.
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"
#include "platform/window/windows.h"
#include "recording/aviwriter.h"
#include "recording/framequeue.h"
#include "recording/grabber.h"
#include "recording/reports.h"
#include "recording/schedule.h"
#include "recording/soundtrack.h"

class QTimer;

namespace recording {

// What a recording is started with.
struct RecordingSettings {
  QString file;
  // The rectangle recorded (screen coordinates, device pixels); an empty
  // one keeps the rectangle the session previews.
  wnd::RECT area;
  int rate = 1;
  vfw::COMPVARS compressor{};
  // The mouse pointer drawn into the frames where it lies over the rectangle.
  bool pointer = false;
  // The recording stops by itself, as Stop stops it, once this many frames
  // fell due (written, or lost); 0 for none. Paused time adds none.
  std::int64_t frameLimit = 0;
  // Sound beside the frames, on the recording's clock; both mixed into
  // one stereo track.
  bool desktopSound = false;
  bool microphone = false;
  // Stored as MP3 at 128 kbit/s rather than as PCM.
  bool soundCompressed = false;
};

enum class RecordState {
  Idle,            // nothing under way
  ChoosingTarget,  // a file is named; its rectangle is being chosen
  Ready,           // the rectangle is fixed and previewed: Start may follow
  Recording,       // frames are written as they fall due
  Paused,          // the file stays open; time stops for it
  Stopping,        // the file is being completed
};

enum class StartOutcome {
  Started,
  AlreadyOpen,  // a file is open already; nothing changed
  NoFrame,      // no grab to take the frame format from; nothing created
  Failed,       // the library refused the file or the stream
};

class Session : public QObject {
  Q_OBJECT
 public:
  // `clock` must outlive the session.
  explicit Session(std::unique_ptr<Grabber> grabber, const Clock& clock = Clock::steady(), QObject* parent = nullptr);
  ~Session() override;

  // The windows' way to a recording: a file is named, then its rectangle
  // is chosen and fixed (the preview starts), then Start.
  void nameFile(const QString& fileName);
  void fixTarget(const wnd::RECT& area);
  // The rectangle moved or changed size.
  void setArea(const wnd::RECT& area);
  const wnd::RECT& area() const { return area_; }
  const QString& outputFile() const { return outputFile_; }
  // Takes its pictures from `grabber` from the next grab on; a copy on its
  // way from the one before is dropped.
  void setGrabber(std::unique_ptr<Grabber> grabber);
  // Whether the grabs from the next on, preview and file alike, show the
  // mouse pointer (off at first; a Start sets it from its settings).
  void showPointer(bool on);
  bool pointerShown() const { return pointer_; }
  // Where a recording with sound gets its devices (the sound server's
  // unless told otherwise).
  using SoundInputs = std::function<std::unique_ptr<SoundInput>(SoundDevice)>;
  void setSoundInputs(SoundInputs inputs) { soundInputs_ = std::move(inputs); }

  // The preview: a grab of the rectangle every previewInterval ms while
  // no recording runs (a recording grabs as its frames fall due, and
  // its preview shows those grabs).
  void startPreview();
  void stopPreview();
  bool previewing() const { return previewOn_; }
  int previewInterval() const { return previewMs_; }
  void setPreviewInterval(int ms);

  // Creates the file and starts writing frames as they fall due, the first
  // at once. Needs a grab of the rectangle for the frame's format.
  StartOutcome start(const RecordingSettings& settings);
  void pause();
  void resume();
  // Ends the recording and completes the file (also before its first
  // frame); the preview goes on every 700 ms. False when no file was open.
  bool stop();
  // Ends whatever is under way and the preview; what was written stays.
  void cancel();
  // Run before the program ends: an open recording's file is completed.
  void closeOnExit();

  // The newest grab, and its packed format for choosing a compressor
  // (false before the first grab).
  const gdi::Bitmap& latestFrame() const { return latest_; }
  bool frameFormat(std::vector<std::uint8_t>& format) const;
  std::uint64_t grabCount() const { return grabs_; }

  RecordState state() const { return state_; }
  // The index of the last frame written; -1 while none was.
  int frameIndex() const { return frameIndex_; }
  // A recording holds its file: from a successful Start until it ends.
  bool isFileOpen() const { return frameIndex_ != -1 || writer_.isOpen(); }
  // The writer's last result (0: no failure).
  std::int32_t result() const { return writer_.result(); }
  // Frames of this recording that could not be had (the grab failed) or
  // written in time (the writer a whole queue behind).
  quint64 lostFrames() const { return lost_; }
  int rate() const { return schedule_.rate(); }

  // The timers' work, public for tests that keep time themselves: a beat
  // starts the next grab when one is due; poll takes a grab that arrived.
  void beat();
  void poll();

  // Free space kept for the indexes and a few seconds of frames: below it
  // the recording stops as Stop does, so the file is complete.
  static qint64 reserveBytes(qint64 bytesPerSecond, int frames);
  // How long grabs may keep failing before a recording ends.
  static constexpr int kGrabFailureMs = 2000;
  // The preview's interval after a Stop.
  static constexpr int kAfterStopPreviewMs = 700;
  // From Start to the recording's first frame: the dialog that started it
  // leaves the screen meanwhile, and frame 0's copy waits for a picture of
  // the screen from then on (Grabber::awaitNewPicture).
  static constexpr int kSettleMs = 100;

 signals:
  void stateChanged(recording::RecordState state);
  void statusChanged(const QString& text);
  // Frame `index` was handed to the writer ("Writing Frame #index").
  void frameWritten(int index);
  // A grab, for the preview (while the preview is on).
  void grabbed(const gdi::Bitmap& frame);
  // A grab failed while no recording runs (one that does decides itself).
  void grabError(const QString& message);
  // The recording ended, how, and what the file keeps. After a Stop or
  // Cancel too; failed() tells a recording that ended on its own.
  void ended(const recording::RecordingEnd& end);
  // Once a second while a file is open.
  void health(const recording::Health& h);

 private:
  struct Sample {
    qint64 freeBytes = -1;
    qint64 fileBytes = 0;
  };
  std::int64_t now() const { return clock_.nowNs(); }
  void setState(RecordState s);
  bool grabsRun() const;
  void arm();
  void finishGrab();
  void frameGrabbed(const gdi::Bitmap& frame);
  void grabFailed(const QString& message);
  void writeDue();
  std::int64_t dueNow() const;
  void stopAtLimit();
  bool close();
  void complete(EndCause how);
  void finished(EndCause cause, int framesKept);
  void endWithFailure(EndCause cause, int error, const QString& detail, int framesKept = -1);
  std::optional<FrameQueue::Failure> settleQueue();
  void writerFailed();
  void endWithFailedWrite();
  void watch();
  void stopWatching();
  void startSound(const RecordingSettings& settings);
  void endSound();
  void soundGone(SoundDevice device);

  std::unique_ptr<Grabber> grabber_;
  const Clock& clock_;
  AviWriter writer_;
  std::unique_ptr<FrameQueue> queue_;  // while a file is open; gone before the writer closes
  std::int64_t framesWritten_ = 0;     // by the last queue, once it was settled
  FrameSchedule schedule_;
  std::int64_t scheduled_ = 0;  // schedule frames dealt with: written or lost
  std::int64_t frameLimit_ = 0;  // of scheduled_; 0 for none
  quint64 lost_ = 0;
  QTimer* beat_;
  QTimer* poll_;
  QTimer* watchTimer_;
  QString outputFile_;
  wnd::RECT area_;
  gdi::Bitmap latest_;
  std::uint64_t grabs_ = 0;
  RecordState state_ = RecordState::Idle;
  int frameIndex_ = -1;
  int previewMs_ = 300;
  bool previewOn_ = false;
  bool pointer_ = false;
  bool grabbing_ = false;       // a copy is on its way
  std::int64_t lastGrabAt_ = 0;  // when the last copy was asked for
  std::int64_t startedAt_ = 0;   // the recording's frame 0, on the clock
  bool latestRecordable_ = false;  // latest_ was asked for after the recording's start
  std::future<Sample> sample_;
  qint64 lastFileBytes_ = 0;
  qint64 bytesPerSecond_ = 0;
  std::int64_t grabFailingSince_ = -1;  // since grabs began failing; -1 while they work
  SoundInputs soundInputs_ = systemSoundInput;
  std::unique_ptr<SoundTrack> track_;                // while a recording with sound runs
  std::vector<std::unique_ptr<SoundInput>> inputs_;  // stopped before the track goes
  bool soundGoneTold_ = false;
  unsigned soundGone_ = 0;  // a bit per device gone
};

}  // namespace recording
