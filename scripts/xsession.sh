#!/usr/bin/env bash
# Starts an X server (Xvfb) with a window manager (openbox) and a session
# bus, runs the given command inside, and stops them all afterwards.
#   scripts/xsession.sh [--screen WxHxD] [--no-wm] command...
set -euo pipefail
screen=1280x1024x24
wm=1
while [ $# -gt 0 ]; do
  case "$1" in
    --screen) screen=$2; shift 2 ;;
    --no-wm) wm=0; shift ;;
    *) break ;;
  esac
done
# Find a free display number.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 "$screen" -nolisten tcp +extension MIT-SHM >/tmp/xvfb-$n.log 2>&1 &
xpid=$!
cleanup() {
  [ -n "${wmpid:-}" ] && kill "$wmpid" 2>/dev/null || true
  kill "$xpid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
export DISPLAY=":$n"
if [ "$wm" = 1 ]; then
  openbox --sm-disable >/tmp/openbox-$n.log 2>&1 &
  wmpid=$!
  for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done
fi
set +e
dbus-run-session -- "$@"
rc=$?
exit $rc
