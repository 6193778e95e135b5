#!/usr/bin/env bash
# Prints the path of kwin-click (scripts/kwin-click.c), building it first
# if needed, against KWin's protocol description from
# plasma-wayland-protocols.
set -euo pipefail
src=$(cd "$(dirname "$0")" && pwd)/kwin-click.c
xml=/usr/share/plasma-wayland-protocols/fake-input.xml
out=/var/tmp/kestrel-kwin-click-$(cat "$src" "$xml" | sha256sum | cut -c1-12)
if [ ! -x "$out/kwin-click" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  wayland-scanner client-header "$xml" "$work/fake-input-client-protocol.h"
  wayland-scanner private-code "$xml" "$work/fake-input.c"
  cc -O2 -Wall -Wextra -I"$work" -o "$work/kwin-click" "$src" "$work/fake-input.c" -lwayland-client >&2
  mkdir -p "$out"
  install -m 755 "$work/kwin-click" "$out/kwin-click"
  chmod 755 "$out"
fi
echo "$out/kwin-click"
