#!/usr/bin/env bash
# Sets up everything Kestrel needs on Debian 12, builds it and starts it on
# the user's display.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "kestrel: no graphical display found (DISPLAY is not set); run this from a desktop session." >&2
  exit 1
fi
bash scripts/deps.sh
# A folder of its own: the test script's options never reach this build.
bash scripts/build.sh build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF \
  -DKESTREL_WERROR=OFF -DKESTREL_SANITIZE=OFF -DKESTREL_FUZZ=OFF
exec ./build-run/kestrel "$@"
