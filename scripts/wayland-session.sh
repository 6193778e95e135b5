#!/usr/bin/env bash
# Starts a headless Wayland desktop of its own (sway with XWayland, PipeWire
# with WirePlumber, the desktop portal with its wlroots back end set to share
# the one output without asking, and a session bus), runs the given command
# inside it and stops them all afterwards.
#   scripts/wayland-session.sh [--size WxH] [--writable DIR]... command...
# The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, SWAYSOCK, XDG_CURRENT_DESKTOP=sway and
# QT_QPA_PLATFORM=xcb; its exit status is the script's.
#
# sway will not run as root. Run as root, the desktop and the command belong
# to an unprivileged user made for it (kestrel-wayland): the portal serves
# only programs of the desktop's own user. The command must be able to read
# what it runs; each --writable folder is made and handed to that user.
set -euo pipefail
size=1280x720
writable=()
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --writable) writable+=("$2"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--size WxH] command..." >&2; exit 2; }

as_user=()
owner=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  owner=kestrel-wayland
  id -u "$owner" >/dev/null 2>&1 || useradd --system --create-home --shell /usr/sbin/nologin "$owner"
  as_user=(runuser -u "$owner" --)
fi
if [ ${#as_user[@]} -gt 0 ] && ! "${as_user[@]}" test -r "$PWD" -a -x "$PWD"; then
  echo "wayland-session: the user $owner cannot read $PWD; run from a folder other users may read." >&2
  exit 1
fi
for d in "${writable[@]}"; do
  mkdir -p "$d"
  [ "$owner" != "$(id -un)" ] && chown -R "$owner:" "$d"
done

backend=$(bash "$(dirname "$0")/portal-wlr-shm.sh")

rt=$(mktemp -d /tmp/kestrel-wayland.XXXXXX)
chmod 700 "$rt"
mkdir -p "$rt/config/xdg-desktop-portal-wlr" "$rt/home" "$rt/data/dbus-1/services"
# The bus starts the portal's wlroots back end from here (see
# portal-wlr-shm.sh), again after it went away.
cat >"$rt/data/dbus-1/services/org.freedesktop.impl.portal.desktop.wlr.service" <<EOF
[D-BUS Service]
Name=org.freedesktop.impl.portal.desktop.wlr
Exec=$backend
EOF
cat >"$rt/sway.conf" <<EOF
output HEADLESS-1 resolution $size position 0 0 scale 1
xwayland force
default_border none
default_floating_border none
focus_follows_mouse no
for_window [shell="xwayland"] floating enable
exec sh -c 'echo "\$DISPLAY" > "\$XDG_RUNTIME_DIR/xdisplay"'
EOF
cat >"$rt/config/xdg-desktop-portal-wlr/config" <<EOF
[screencast]
chooser_type=none
output_name=HEADLESS-1
max_fps=60
EOF
[ "$owner" != "$(id -un)" ] && chown -R "$owner:" "$rt"

pids=()
cleanup() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  # The portal and its back end were started by the bus and leave with it.
  [ -n "${buspid:-}" ] && kill "$buspid" 2>/dev/null || true
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$rt"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$rt XDG_CONFIG_HOME=$rt/config XDG_DATA_HOME=$rt/data XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
unset WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS
userenv=(env HOME="$rt/home" XDG_RUNTIME_DIR="$rt" XDG_CONFIG_HOME="$rt/config" XDG_DATA_HOME="$rt/data" XDG_CURRENT_DESKTOP=sway
  XDG_SESSION_TYPE=wayland WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)

"${as_user[@]}" "${userenv[@]}" sway -c "$rt/sway.conf" >"$rt/sway.log" 2>&1 &
pids+=($!)

for _ in $(seq 1 200); do
  [ -s "$rt/xdisplay" ] && ls "$rt"/wayland-* >/dev/null 2>&1 && break
  sleep 0.05
done
sock=$(cd "$rt" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | head -n1 || true)
if [ -z "$sock" ] || [ ! -s "$rt/xdisplay" ]; then
  echo "wayland-session: sway did not start; its log:" >&2
  cat "$rt/sway.log" >&2
  exit 1
fi
export WAYLAND_DISPLAY=$sock DISPLAY=$(cat "$rt/xdisplay")
export SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock | head -n1)
xsock="/tmp/.X11-unix/X${DISPLAY#:}"
for _ in $(seq 1 100); do [ -S "$xsock" ] && break; sleep 0.05; done
# The session bus, the user's, started once the displays exist: the portal
# and its back end, which the bus starts whenever someone first calls them,
# inherit its environment and must find the displays.
userenv+=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY" DISPLAY="$DISPLAY")
# What the services it starts print goes to its log.
"${as_user[@]}" "${userenv[@]}" dbus-daemon --session --nofork --print-address=1 \
  --address="unix:path=$rt/bus" >"$rt/busaddr" 2>"$rt/bus.log" &
buspid=$!
for _ in $(seq 1 100); do [ -s "$rt/busaddr" ] && break; sleep 0.05; done
busaddr=$(head -n1 "$rt/busaddr")
export DBUS_SESSION_BUS_ADDRESS=$busaddr
userenv+=(DBUS_SESSION_BUS_ADDRESS="$busaddr")

"${as_user[@]}" "${userenv[@]}" pipewire >"$rt/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -S "$rt/pipewire-0" ] && break; sleep 0.05; done
"${as_user[@]}" "${userenv[@]}" wireplumber >"$rt/wireplumber.log" 2>&1 &
pids+=($!)
# WirePlumber is ready when PipeWire lists a session manager's node.
for _ in $(seq 1 100); do
  "${as_user[@]}" "${userenv[@]}" pw-cli ls Client 2>/dev/null | grep -qi wireplumber && break
  sleep 0.05
done

# The portal's back end first, then the portal, each asked until it offers
# monitors: the portal reads what its back end offers once, when it starts,
# so a back end that is not answering yet would leave it without any.
portal_offers() {  # portal_offers BUS-NAME INTERFACE
  "${as_user[@]}" "${userenv[@]}" gdbus call --session -d "$1" -o /org/freedesktop/portal/desktop \
    -m org.freedesktop.DBus.Properties.Get "$2" AvailableSourceTypes 2>/dev/null | grep -q 'uint32 [1-7]'
}
ready=0
for _ in $(seq 1 40); do
  if portal_offers org.freedesktop.impl.portal.desktop.wlr org.freedesktop.impl.portal.ScreenCast &&
    portal_offers org.freedesktop.portal.Desktop org.freedesktop.portal.ScreenCast; then
    ready=1
    break
  fi
  sleep 0.5
done
if [ "$ready" != 1 ]; then
  echo "wayland-session: the screen-cast portal does not offer monitors; the logs:" >&2
  for f in "$rt"/*.log; do echo "== $f"; tail -n 20 "$f"; done >&2
  exit 1
fi

# Qt programs started inside (the tests' own) use XWayland, as Kestrel does.
export QT_QPA_PLATFORM=xcb
set +e
"${as_user[@]}" "$@"
rc=$?
if [ "$rc" -ne 0 ] && [ -n "${KESTREL_WAYLAND_LOGS:-}" ]; then
  for f in "$rt"/*.log; do echo "== $f"; tail -n 40 "$f"; done >&2
fi
exit $rc
