#!/usr/bin/env bash
# Builds the Debian packages into build/ (stonecall, and stonecall-lobbyd where the source
# tree has the server) and checks them (extra arguments go to cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh "$@"
rm -f build/stonecall_*.deb build/stonecall-lobbyd_*.deb
(cd build && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(Stonecall VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
debs=("build/stonecall_${version}_${arch}.deb")
[ -f server/CMakeLists.txt ] && debs+=("build/stonecall-lobbyd_${version}_${arch}.deb")
scripts/check-package.sh "${debs[@]}"
