#!/usr/bin/env bash
# Sets up, builds and starts the client (and the lobby server on localhost, when it is built).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [ -x build/stonecall-lobbyd ]; then
    build/stonecall-lobbyd &
    server=$!
    trap 'kill $server 2>/dev/null' EXIT
fi
build/stonecall
