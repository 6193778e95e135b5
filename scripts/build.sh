#!/usr/bin/env bash
# Configures and builds Kestrel into a build folder, showing the build's
# progress and errors.
#   scripts/build.sh BUILD_DIR [cmake options...]
# Every option is passed on every configure: a value left in the folder's
# CMake cache by an earlier run never decides what this run builds.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja "$@"
cmake --build "$dir" -j"$(nproc)"
