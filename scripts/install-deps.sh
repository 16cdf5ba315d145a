#!/usr/bin/env bash
# Installs the Debian packages Orbitune needs to build, run and test, only those
# that are missing. Works as root or as a user with sudo.
set -euo pipefail

build_pkgs=(
  cmake g++ make ninja-build pkg-config lld
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libgl-dev libxkbcommon-dev
  libplist-dev libuchardet-dev libogg-dev libtag1-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  libgupnp-1.6-dev libgupnp-av-1.0-dev libebur128-dev qtkeychain-qt6-dev libavahi-client-dev
)
runtime_pkgs=(
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-pulseaudio
  fonts-dejavu-core fonts-wqy-microhei libqt6sql6-sqlite libogg0 libtag1v5 libebur128-1
  libqt6keychain1 libavahi-client3
)
test_pkgs=(
  libgtest-dev googletest
  gstreamer1.0-tools icecast2 pulseaudio pulseaudio-utils
  xvfb xauth dbus dbus-bin python3 playerctl
  at-spi2-core python3-pyatspi python3-xlib qt6-base-private-dev
  clang libclang-rt-14-dev clang-format
  desktop-file-utils appstream dpkg-dev file binutils librsvg2-bin
  gmediarender gnome-keyring avahi-daemon openssl
)

want=("${build_pkgs[@]}" "${runtime_pkgs[@]}")
if [[ "${1:-}" == "--test" ]]; then
  want+=("${test_pkgs[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  SUDO="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
