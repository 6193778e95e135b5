#pragma once
// Kestrel's command line: the options that answer without any window
// (--help, --version, --build-avi, --list-compressors). Without one of them
// Kestrel starts as a desktop program.
#include <optional>

namespace app {

// Runs the command the arguments ask for and returns its exit status (0
// done, 1 failed, 2 bad usage); nothing when they ask for the desktop
// program. Needs no display.
std::optional<int> runCommandLine(int argc, char** argv);

}  // namespace app
