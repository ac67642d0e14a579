#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tavrec need.
# Only what is missing is installed; a second run does nothing but check.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-damage0-dev libxcb-keysyms1-dev libxcb-shape0-dev
  libx11-dev libxext-dev libxfixes-dev libxi-dev
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev libswresample-dev
  libpulse-dev qt6-base-dev
  xvfb openbox trayer xdotool x11-utils x11-xkb-utils x11-xserver-utils x11-apps xfonts-base
  pulseaudio pulseaudio-utils sox ffmpeg xdg-utils file xcompmgr
  xserver-xephyr librsvg2-bin
  libdbus-1-dev libpipewire-0.3-dev
  sway xwayland pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr
  dbus-daemon dbus-bin util-linux procps
  xdg-desktop-portal-kde libkf5globalaccel-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: not root and no sudo; install: ${missing[*]}" >&2; exit 1; }
  SUDO=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
