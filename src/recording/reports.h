#pragma once
// What a recording tells the user about itself: how it ended, its health
// while it runs, why its file cannot be made, and the frame rate it takes.
#include <QString>
#include <QtGlobal>

namespace recording {

// The frame rates a recording accepts: one frame a second up to one a
// millisecond.
constexpr int kMinFrameRate = 1;
constexpr int kMaxFrameRate = 1000;

// The one reading of frame-rate text, for every window that takes one: a
// whole number from 1 to 1000, read the way the rest of the program reads
// whole numbers. False with a sentence for the user that says what is
// wrong and ends "press <button> again".
bool parseFrameRate(const QString& text, int& rate, QString& problem,
                    const QString& button = QStringLiteral("Start"));

// How a recording ended.
enum class EndCause {
  Stopped,         // Stop, or the program closing
  Cancelled,       // Cancel: what was written stays
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
  // The recording ended on its own, not by the user's Stop or Cancel.
  bool failed() const { return cause != EndCause::Stopped && cause != EndCause::Cancelled; }
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
  quint64 lostFrames = 0;  // frames that could not be had or written in time
  bool sound = false;      // the recording takes sound
  int soundDb = -90;       // its loudest sample over the last second, dB of full scale
  int soundDevicesGone = 0;
};

// "REC 01:23 - 2,490 fr - 1.2 GB - 38 GB free" (and " - sound -18 dB",
// " (1 gone)"), at most 62 characters.
QString healthText(const Health& h);

// "1.2 GB", "38 GB", "640 kB".
QString bytesText(qint64 bytes);

// " (1 frame lost)", " (3 frames lost)"; empty for none.
QString lostText(quint64 lost);

}  // namespace recording
