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
bash scripts/build.sh build -DKESTREL_TESTS=OFF >/dev/null
exec ./build/kestrel "$@"
