#!/usr/bin/env bash
# Starts a headless Wayland desktop of its own with XWayland, PipeWire with
# WirePlumber, the desktop portal with that desktop's back end, and a
# session bus; runs the given command inside it and stops them all
# afterwards.
#   scripts/wayland-session.sh [--desktop sway|gnome|kde] [--size WxH] [--scale S]
#                              [--writable DIR]... command...
# Desktops (all from Debian 12, without a GPU):
#   sway   sway, xdg-desktop-portal-wlr set to share the one output without
#          asking (the default);
#   gnome  mutter headless with a virtual monitor, xdg-desktop-portal-gnome;
#   kde    kwin_wayland on its virtual back end, xdg-desktop-portal-kde
#          (its global shortcuts work; its screen cast does not: the share
#          dialog needs Plasma's QML modules, and with them Debian 12's
#          portal will not share kwin's virtual output; see README).
# On gnome and kde the desktop's share dialog is answered through the
# accessibility bus as a person would (scripts/portal-answer.py); each
# answer is a line in $KESTREL_PORTAL_DIALOGS, and while the file
# $KESTREL_PORTAL_ANSWER holds "cancel" the dialog is declined.
# The command gets WAYLAND_DISPLAY, DISPLAY (XWayland), XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, XDG_CURRENT_DESKTOP, KESTREL_DESKTOP, the bus
# name of the portal's back end in KESTREL_PORTAL_BACKEND, SWAYSOCK on
# sway, and QT_QPA_PLATFORM=xcb; its exit status is the script's.
# The portal reads only that desktop's back end, whatever else is installed.
#
# sway will not run as root. Run as root, the desktop and the command belong
# to an unprivileged user made for it (kestrel-wayland): the portal serves
# only programs of the desktop's own user. The command must be able to read
# what it runs; each --writable folder is made and handed to that user.
set -euo pipefail
size=1280x720
scale=1
desktop=sway
writable=()
while [ $# -gt 0 ]; do
  case "$1" in
    --desktop) desktop=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    --writable) writable+=("$2"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--desktop sway|gnome|kde] [--size WxH] [--scale S] command..." >&2; exit 2; }
case "$desktop" in
  sway | gnome | kde) ;;
  *) echo "wayland-session: no desktop called $desktop (sway, gnome or kde)" >&2; exit 2 ;;
esac

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

here=$(cd "$(dirname "$0")" && pwd)
rt=$(mktemp -d /tmp/kestrel-wayland.XXXXXX)
chmod 700 "$rt"
mkdir -p "$rt/config" "$rt/home" "$rt/data/dbus-1/services" "$rt/portals"
case "$desktop" in
  sway)
    current=sway
    backend_name=org.freedesktop.impl.portal.desktop.wlr
    cp /usr/share/xdg-desktop-portal/portals/wlr.portal "$rt/portals/"
    backend=$(bash "$here/portal-wlr-shm.sh")
    # The bus starts the portal's wlroots back end from here (see
    # portal-wlr-shm.sh), again after it went away.
    cat >"$rt/data/dbus-1/services/$backend_name.service" <<EOF
[D-BUS Service]
Name=$backend_name
Exec=$backend
EOF
    mkdir -p "$rt/config/xdg-desktop-portal-wlr"
    cat >"$rt/sway.conf" <<EOF
output HEADLESS-1 resolution $size position 0 0 scale $scale
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
    ;;
  gnome)
    current=GNOME
    backend_name=org.freedesktop.impl.portal.desktop.gnome
    # The GTK back end serves the GNOME one's settings.
    cp /usr/share/xdg-desktop-portal/portals/{gnome,gtk}.portal "$rt/portals/"
    ;;
  kde)
    current=KDE
    backend_name=org.freedesktop.impl.portal.desktop.kde
    cp /usr/share/xdg-desktop-portal/portals/kde.portal "$rt/portals/"
    # Debian gives kwin_wayland a file capability (cap_sys_resource) that
    # a container without it in its bounding set cannot run at all; a copy
    # without the capability is the same program.
    kwin=/usr/bin/kwin_wayland
    if [ -n "$(getcap "$kwin" 2>/dev/null)" ]; then
      copy=/var/tmp/kestrel-kwin-$(dpkg-query -W -f='${Version}' kwin-wayland | tr ':~' '__')/kwin_wayland
      if [ ! -x "$copy" ]; then
        mkdir -p "$(dirname "$copy")"
        cp "$kwin" "$copy.new"
        mv "$copy.new" "$copy"
      fi
      kwin=$copy
    fi
    # The dialog's list of screens cannot be chosen through the accessibility
    # bus: portal-answer.py clicks it with kwin-click, which KWin lets
    # inject input as its desktop entry asks. The dialog is put at the
    # screen's origin without a frame, so its own coordinates are the
    # screen's.
    click=$(bash "$here/kwin-click.sh")
    mkdir -p "$rt/data/applications" "$rt/config"
    cat >"$rt/data/applications/kestrel-kwin-click.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Kestrel test clicks
Exec=$click
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
EOF
    cat >"$rt/config/kwinrulesrc" <<EOF
[General]
count=1
rules=1

[1]
Description=The portal's dialog at the origin, without a frame
title=Screen Sharing
titlematch=1
position=0,0
positionrule=2
noborder=true
noborderrule=2
EOF
    ;;
esac
# mutter refuses an X socket folder that others cannot write to (sway's
# XWayland, run as its user, may have made it so).
if [ "$(id -u)" -eq 0 ] && [ "$desktop" != sway ]; then
  mkdir -p /tmp/.X11-unix
  chown root:root /tmp/.X11-unix
  chmod 1777 /tmp/.X11-unix
fi
[ "$owner" != "$(id -un)" ] && chown -R "$owner:" "$rt"

pids=()
cleanup() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  # The portal and its back ends were started by the bus and leave with it.
  [ -n "${buspid:-}" ] && kill "$buspid" 2>/dev/null || true
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$rt"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$rt XDG_CONFIG_HOME=$rt/config XDG_DATA_HOME=$rt/data XDG_CURRENT_DESKTOP=$current
export XDG_SESSION_TYPE=wayland WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
unset WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS
# The portal reads this desktop's back ends only (XDG_DESKTOP_PORTAL_DIR),
# whichever others are installed.
userenv=(env HOME="$rt/home" XDG_RUNTIME_DIR="$rt" XDG_CONFIG_HOME="$rt/config" XDG_DATA_HOME="$rt/data"
  XDG_CURRENT_DESKTOP="$current" XDG_SESSION_TYPE=wayland XDG_DESKTOP_PORTAL_DIR="$rt/portals"
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)

# The session bus first: mutter and kwin offer their own services on it.
# What the services it starts print goes to its log; they get the displays
# once the desktop runs.
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

# The desktop; a program it starts writes XWayland's display and its
# authority file (mutter's XWayland asks for one) to $rt, and stays while
# the session's folder does: mutter ends with it.
cat >"$rt/tell.sh" <<'EOF'
#!/bin/sh
echo "${XAUTHORITY:-}" > "$XDG_RUNTIME_DIR/xauthority"
echo "$DISPLAY" > "$XDG_RUNTIME_DIR/xdisplay"
while [ -d "$XDG_RUNTIME_DIR" ]; do sleep 1; done
EOF
chmod 755 "$rt/tell.sh"
[ "$owner" != "$(id -un)" ] && chown "$owner:" "$rt/tell.sh"
case "$desktop" in
  sway) "${as_user[@]}" "${userenv[@]}" sway -c "$rt/sway.conf" >"$rt/desktop.log" 2>&1 & ;;
  gnome)
    "${as_user[@]}" "${userenv[@]}" mutter --headless --wayland --virtual-monitor "$size" --sm-disable \
      -- "$rt/tell.sh" >"$rt/desktop.log" 2>&1 &
    ;;
  kde)
    "${as_user[@]}" "${userenv[@]}" "$kwin" --virtual --xwayland --no-lockscreen --socket wayland-0 \
      --width "${size%x*}" --height "${size#*x}" --scale "$scale" "$rt/tell.sh" >"$rt/desktop.log" 2>&1 &
    ;;
esac
pids+=($!)

for _ in $(seq 1 300); do
  [ -s "$rt/xdisplay" ] && ls "$rt"/wayland-* >/dev/null 2>&1 && break
  sleep 0.05
done
sock=$(cd "$rt" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | head -n1 || true)
if [ -z "$sock" ] || [ ! -s "$rt/xdisplay" ]; then
  echo "wayland-session: $desktop did not start; its log:" >&2
  cat "$rt/desktop.log" >&2
  exit 1
fi
export WAYLAND_DISPLAY=$sock DISPLAY=$(cat "$rt/xdisplay")
if [ "$desktop" = sway ]; then export SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock | head -n1); fi
xsock="/tmp/.X11-unix/X${DISPLAY#:}"
for _ in $(seq 1 100); do [ -S "$xsock" ] && break; sleep 0.05; done
userenv+=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY" DISPLAY="$DISPLAY")
if [ -s "$rt/xauthority" ] && [ -n "$(cat "$rt/xauthority")" ]; then
  export XAUTHORITY=$(cat "$rt/xauthority")
  userenv+=(XAUTHORITY="$XAUTHORITY")
fi
# What the bus starts from now on finds the displays; Qt back ends (KDE's
# portal) run on Wayland and answer on the accessibility bus.
"${as_user[@]}" "${userenv[@]}" dbus-update-activation-environment WAYLAND_DISPLAY="$WAYLAND_DISPLAY" \
  DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# The portal's back end first, then the portal, each asked until it offers
# monitors: the portal reads what its back end offers once, when it starts,
# so a back end that is not answering yet would leave it without any.
portal_offers() {  # portal_offers BUS-NAME INTERFACE
  "${as_user[@]}" "${userenv[@]}" gdbus call --session -d "$1" -o /org/freedesktop/portal/desktop \
    -m org.freedesktop.DBus.Properties.Get "$2" AvailableSourceTypes 2>/dev/null | grep -q 'uint32 [1-7]'
}
ready=0
for _ in $(seq 1 60); do
  if portal_offers "$backend_name" org.freedesktop.impl.portal.ScreenCast &&
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
export KESTREL_DESKTOP=$desktop KESTREL_PORTAL_BACKEND=$backend_name
if [ "$desktop" != sway ]; then
  export KESTREL_PORTAL_DIALOGS=$rt/portal-dialogs KESTREL_PORTAL_ANSWER=$rt/portal-answer
  [ "$desktop" = kde ] && export KESTREL_KWIN_CLICK=$click
  "${as_user[@]}" "${userenv[@]}" KESTREL_KWIN_CLICK="${click:-}" /usr/bin/python3 "$here/portal-answer.py" "$KESTREL_PORTAL_DIALOGS" \
    "$KESTREL_PORTAL_ANSWER" >"$rt/portal-answer.log" 2>&1 &
  pids+=($!)
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
