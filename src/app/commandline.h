#pragma once
// Kestrel's command line: the options that answer without any window
// (--help, --version, --build-avi, --list-compressors), those that ask the
// running Kestrel (--pause, --resume, --stop, --cancel, --status), and
// --record, which the desktop program carries out. Only without any
// argument, or with --record, does Kestrel start as a desktop program;
// anything it does not know is refused with a usage message.
#include <optional>

#include "app/commandlinerecording.h"

namespace app {

// Runs the command the arguments ask for and returns its exit status (0
// done, 1 failed, 2 bad usage, 130 stopped by Ctrl+C); nothing when they
// ask for the desktop program, with `record` set when it is to record
// (the request checked: its arguments are good). Needs no display.
std::optional<int> runCommandLine(int argc, char** argv, std::optional<RecordRequest>& record);

}  // namespace app
