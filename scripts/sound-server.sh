#!/usr/bin/env bash
# Starts a sound server of its own (PipeWire with WirePlumber and
# pipewire-pulse, on a private XDG_RUNTIME_DIR and session bus) whose
# default output is a null sink, runs the given command inside, and stops
# them all afterwards. What is played into the output can be recorded from
# its monitor, as on a desktop.
#   scripts/sound-server.sh command...
# The command gets XDG_RUNTIME_DIR (PulseAudio clients find the server
# there) and KESTREL_SINK, the null sink's name.
set -euo pipefail
rt=$(mktemp -d /tmp/kestrel-sound.XXXXXX)
chmod 700 "$rt"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  for i in "${pids[@]}"; do wait "$i" 2>/dev/null || true; done
  rm -rf "$rt"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$rt HOME=$rt XDG_CONFIG_HOME=$rt/config
unset DBUS_SESSION_BUS_ADDRESS PULSE_SERVER
dbus-daemon --session --nofork --print-address=1 --address="unix:path=$rt/bus" >"$rt/busaddr" 2>"$rt/bus.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$rt/busaddr" ] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$rt/busaddr")

pipewire >"$rt/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -S "$rt/pipewire-0" ] && break; sleep 0.05; done
wireplumber >"$rt/wireplumber.log" 2>&1 &
pids+=($!)
pipewire-pulse >"$rt/pipewire-pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
export KESTREL_SINK=kestrel_null
pactl load-module module-null-sink sink_name="$KESTREL_SINK" >/dev/null
# WirePlumber makes it the default output once it has seen it.
for _ in $(seq 1 100); do
  pactl info 2>/dev/null | grep -q "Default Sink: $KESTREL_SINK" && break
  pactl set-default-sink "$KESTREL_SINK" 2>/dev/null || true
  sleep 0.05
done

set +e
"$@"
exit $?
