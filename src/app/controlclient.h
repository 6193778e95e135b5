#pragma once
// The other end of app::ControlService: `kestrel --pause`, --resume,
// --stop, --cancel and --status ask the running Kestrel over the session
// bus. Needs no display.
#include <QString>

namespace app {

enum class ControlCommand { Pause, Resume, Stop, Cancel, Status };

struct ControlAnswer {
  bool reached = false;  // a Kestrel answered (whatever it said)
  bool done = false;     // it did what was asked
  QString text;          // --status: the lines to print; otherwise why it was not done
};

// Sends the command and waits for the answer (a Stop returns once the file
// is complete).
ControlAnswer sendControlCommand(ControlCommand command);

}  // namespace app
