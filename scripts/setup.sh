#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (only what is missing).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev libasio-dev libcli11-dev libtomlplusplus-dev liburing-dev
    xvfb x11-apps imagemagick xauth xdotool python3
    dpkg-dev x11-utils desktop-file-utils groff-base lintian systemd
    locales-all
    at-spi2-core python3-pyatspi dbus iproute2
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
