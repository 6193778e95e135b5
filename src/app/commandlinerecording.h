#pragma once
// A recording the command line asks for (kestrel --record): made by the
// program's own session, with its remote control and tray icon, but
// without the dialogs that name the file and choose the rectangle and the
// compressor. The frames go to FILE.unfinished, which becomes FILE when
// the recording ends, as --build-avi does.
#include <QString>
#include <optional>

#include "platform/vfw/codec.h"
#include "platform/window/windows.h"

namespace app {

class Windows;

struct RecordRequest {
  QString file;
  std::optional<wnd::RECT> area;  // none: the window in front, followed as it moves
  int rate = 1;
  const vfw::CompressorInfo* compressor = nullptr;
  int quality = -1;    // 0-100, -1 for the compressor's own
  int seconds = 0;     // of recorded time (pauses cut out); 0 until it is stopped
  bool remote = true;  // the remote control below the rectangle
  bool pointer = false;  // the mouse pointer drawn into the frames
  bool quiet = false;  // no health lines and no summary
};

// Records as asked, running the event loop until the recording ends on
// --seconds, Ctrl+C (or a TERM signal), a Stop (the remote control's,
// `kestrel --stop`'s) or a failure. The exit status: 0 done (Stop, Cancel,
// --seconds), 1 failed (with the reason on standard error), 128 + the
// signal's number when a signal ended it.
int recordFromCommandLine(Windows& windows, const RecordRequest& request);

}  // namespace app
