#!/usr/bin/env bash
# Installs the Debian 12 packages RavekVoice needs to build, test and run its demo.
# Runs apt-get as root, or through sudo when started by another user.
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libglib2.0-dev libsqlite3-dev libmpg123-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  dbus dbus-daemon
  lame sox espeak-ng
  qt6-base-dev qt6-qpa-plugins xvfb xauth at-spi2-core python3-pyatspi fonts-dejavu-core
  speech-dispatcher alsa-utils python3-gi gir1.2-glib-2.0
  debhelper lintian
  libzip-dev zip unzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "install-deps: need root (or sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
fi
echo "install-deps: installing ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
