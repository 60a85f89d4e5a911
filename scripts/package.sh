#!/usr/bin/env bash
# Builds the Debian package into build/ and checks it (extra arguments go to cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh "$@"
(cd build && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(Stonecall VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
scripts/check-package.sh "build/stonecall_${version}_$(dpkg --print-architecture).deb"
