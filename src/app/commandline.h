#pragma once
// Kestrel's command line: the options that answer without any window
// (--help, --version, --build-avi, --list-compressors). Only without any
// argument does Kestrel start as a desktop program; anything it does not
// know is refused with a usage message.
#include <optional>

namespace app {

// Runs the command the arguments ask for and returns its exit status (0
// done, 1 failed, 2 bad usage, 130 stopped by Ctrl+C); nothing when they
// ask for the desktop program. Needs no display.
std::optional<int> runCommandLine(int argc, char** argv);

}  // namespace app
