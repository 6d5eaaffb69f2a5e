#!/usr/bin/env bash
# Installs the Debian packages Quillet needs to build, run and test.
# Does nothing when every package is already present.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config clang-format
  qt6-base-dev qt6-image-formats-plugins libqt6svg6 qt6-translations-l10n
  qt6-tools-dev qt6-l10n-tools
  libsqlite3-dev libzip-dev zlib1g-dev liblua5.2-dev libpq-dev postgresql
  libmosquitto-dev mosquitto libicu-dev
  libcpp-httplib-dev libmicrohttpd-dev libssl-dev libsodium-dev openssl
  libx11-dev libxtst-dev
  xvfb xclip xdotool fonts-wqy-microhei trayer dbus-daemon
  libbenchmark-dev
  dpkg-dev file lintian librsvg2-bin desktop-file-utils appstream adduser
  haproxy
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=sudo
  else
    echo "Quillet needs these Debian packages, which are not installed:" >&2
    echo "  ${missing[*]}" >&2
    echo "Install them as root with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
