#pragma once
// The AVI builder: an ordered list of bitmap files becomes one video of key
// frames at a given rate, not in real time. No window is involved: the
// builder panel and the command line drive it alike.
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/gdi/bitmap.h"
#include "platform/vfw/vfw.h"

namespace builder {

struct BuildJob {
  QStringList files;   // in frame order; every file of one size and format
  int rate = 1;        // frames per second
  vfw::COMPVARS compressor{};
  QString outputFile;
};

enum class BuildOutcome {
  Completed,  // every file is a frame of the file
  Aborted,    // the abort flag was seen; the frames so far are in the file
  Failed,     // a frame could not be written; the frames before it are kept
  NotOpened,  // the first file gave no frame format; nothing was created
};

struct BuildResult {
  BuildOutcome outcome = BuildOutcome::Failed;
  int framesWritten = 0;
  // For Failed: "ERROR: Image Format" when a file does not match the first
  // (or the compressor refuses its format); empty for other failures.
  QString error;
};

class AviBuilder {
 public:
  // Runs once the file and its stream are open, before the first frame.
  std::function<void()> onOpened;
  // Runs after each file is loaded, before its frame is written: the
  // picture (for a preview) and its index. A place to pump messages.
  std::function<void(const gdi::Bitmap& frame, int index)> onFrameLoaded;
  // Runs after each frame is handed to the writer; returning true aborts
  // the build there.
  std::function<bool(int framesWritten)> onFrameWritten;

  // Builds the file. A file that cannot be read raises the loader's error
  // (platform::EFOpenError, gdi::InvalidBitmap) after the frames before it
  // were completed in the file.
  BuildResult build(const BuildJob& job);
};

}  // namespace builder
