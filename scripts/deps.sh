#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrel needs to build, run and test.
# Only what is missing is installed, so a second run costs a second or two.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6opengl6-dev
  libavcodec-dev libavutil-dev libswscale-dev libyuv-dev libjpeg62-turbo-dev
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libx11-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xserver-xephyr x11-xserver-utils openbox xdotool x11-utils x11-apps xterm trayer wmctrl
  ffmpeg imagemagick
  dbus dbus-x11 at-spi2-core python3 python3-pyatspi python3-gi gir1.2-atspi-2.0
  fonts-dejavu-core xdg-utils
  desktop-file-utils appstream dpkg-dev groff-base man-db file lintian
  # Wayland sessions: the screen-cast portal's frames over PipeWire, XWayland's monitors
  libpipewire-0.3-dev libxcb-randr0-dev
  # Sound: PulseAudio's client library (PipeWire answers it through pipewire-pulse), and the
  # sound server of the tests with the tone they play
  libpulse-dev pipewire-pulse pulseaudio-utils
  # Readers of the files besides FFmpeg
  gstreamer1.0-tools gstreamer1.0-plugins-good mediainfo
  # The test desktop (scripts/wayland-session.sh) and a native Wayland client of the tests
  sway xwayland pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr qt6-wayland
  libglib2.0-bin util-linux
  # GNOME's test desktop (wayland-session.sh --desktop gnome): mutter headless and its portal
  mutter xdg-desktop-portal-gnome
  # KDE Plasma's test desktop (--desktop kde): kwin, its portal (which runs on Qt 5's Wayland
  # plugin) and shortcut daemon, and KWin's input protocol that scripts/kwin-click.c speaks
  kwin-wayland xdg-desktop-portal-kde libkf5globalaccel-bin qtwayland5 plasma-wayland-protocols
  # Debian's source of the portal's wlroots back end, built by scripts/portal-wlr-shm.sh
  meson libdrm-dev libinih-dev libgbm-dev libwayland-dev wayland-protocols libsystemd-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
