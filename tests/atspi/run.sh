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
    # The X server picks a free display itself and says which.
    coproc XVFB { exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 2>/dev/null; }
    trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
    read -r -t 10 display <&"${XVFB[0]}" || { echo "the X server did not start" >&2; exit 1; }
    export DISPLAY=":$display"
    dbus-run-session -- /usr/bin/python3 "$here/screen_reader.py" "$2" "$3" 13511
    exit
fi

[ $# -eq 2 ] || { echo "usage: $0 CLIENT SERVER" >&2; exit 2; }
for tool in unshare ip Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
/usr/bin/python3 -c 'import pyatspi' || { echo "python3-pyatspi is missing" >&2; exit 1; }
if ! unshare -n true 2>/dev/null; then
    echo "cannot make a network namespace (needs root)" >&2
    [ -n "${CI:-}" ] && exit 1
    exit 77
fi
exec timeout -k 5 90 unshare -n "$0" --inside "$1" "$2"
