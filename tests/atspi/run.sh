#!/usr/bin/env bash
# Runs screen_reader.py with the real client and lobby server, in a network of its own (the
# client reaches its server at the lobby port of localhost, so no other test or server on this
# machine is in the way), under a virtual X server and a private D-Bus session with the
# accessibility bus.
#
#   tests/atspi/run.sh CLIENT SERVER
#
# Exits 77 (skipped) where no network namespace can be made, except under CI, where that fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = "--inside" ]; then
    ip link set lo up
    # An X server of its own, on a display far from the low numbers other programs take
    # first; a display in use, or a server that does not answer within 5 s, is tried anew.
    # It must not reset when its first client (the check here) leaves, or the next finds it
    # gone for a moment.
    display="" xvfb=""
    trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true' EXIT
    for _ in 1 2 3 4 5; do
        n=$((200 + RANDOM % 700))
        [ ! -e "/tmp/.X$n-lock" ] || continue
        Xvfb ":$n" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset 2>/dev/null &
        xvfb=$!
        for _ in $(seq 100); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then display=$n; break 2; fi
            kill -0 "$xvfb" 2>/dev/null || break
            sleep 0.05
        done
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
        xvfb=""
    done
    [ -n "$display" ] || { echo "the X server did not start" >&2; exit 1; }
    export DISPLAY=":$display"
    dbus-run-session -- /usr/bin/python3 "$here/screen_reader.py" "$2" "$3" 13511
    exit
fi

[ $# -eq 2 ] || { echo "usage: $0 CLIENT SERVER" >&2; exit 2; }
for tool in unshare ip Xvfb xdpyinfo dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
/usr/bin/python3 -c 'import pyatspi' || { echo "python3-pyatspi is missing" >&2; exit 1; }
if ! unshare -n true 2>/dev/null; then
    echo "cannot make a network namespace (needs root)" >&2
    [ -n "${CI:-}" ] && exit 1
    exit 77
fi
exec timeout -k 5 90 unshare -n "$0" --inside "$1" "$2"
