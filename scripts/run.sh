#!/usr/bin/env bash
# Sets up, builds the two programs (nothing else) and starts the lobby server on localhost and
# the client; closing the client stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== installing what is missing (apt)"
scripts/setup.sh
scripts/build.sh -- stonecall stonecall-lobbyd
echo "== starting the lobby server (build/stonecall-lobbyd) on localhost:13511"
build/stonecall-lobbyd &
server=$!
trap 'kill $server 2>/dev/null' EXIT
echo "== starting the client (build/stonecall)"
build/stonecall
