#!/usr/bin/env bash
# Screenshots of both windows, with the real client under a virtual X server talking to a
# scripted lobby (scripts/screenshot-lobby.py) on the lobby port of this machine:
#
#   scripts/screenshots.sh <folder>
#
# writes <folder>/login.png, <folder>/lobby.png and <folder>/lobby-create.png. Builds the
# client first when build/stonecall is missing. Needs xvfb-run, xdotool, ImageMagick's import
# and python3 (scripts/setup.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

fail() {
    echo "screenshots: $*" >&2
    exit 1
}

# Waits up to 20 s for a visible window whose title matches, and prints its id.
window() {
    local id
    id=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1) ||
        fail "no window \"$1\" appeared"
    [ -n "$id" ] || fail "no window \"$1\" appeared"
    echo "$id"
}

shoot() {
    # Let the last events and repaints settle, with the pointer away from every picture.
    xdotool mousemove 1270 1010
    sleep 0.7
    import -window "$1" "$2"
    echo "wrote $2"
}

peer="" client="" log=""

stop() {
    # The client first, so that it does not outlive the X server.
    [ -z "$client" ] || kill "$client" 2>/dev/null || true
    [ -z "$peer" ] || kill "$peer" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -z "$log" ] || rm -f "$log"
}

inside() {
    local out=$1 login lobby
    log=$(mktemp)
    python3 "$root/scripts/screenshot-lobby.py" 13511 >"$log" 2>&1 &
    peer=$!
    trap 'stop' EXIT
    for _ in $(seq 50); do
        grep -q listening "$log" && break
        kill -0 "$peer" 2>/dev/null || fail "$(cat "$log")"
        sleep 0.1
    done
    "$root/build/stonecall" &
    client=$!

    login=$(window '^Login$')
    xdotool windowfocus --sync "$login"
    xdotool type --delay 30 "Wren"
    shoot "$login" "$out/login.png"

    # cmdLogin sits at 104,424 (87 x 29) at 96 DPI.
    xdotool mousemove --window "$login" 147 438 click 1
    lobby=$(window 'Fernhollow$')
    # The log-in is complete once the login window has gone.
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^Login$' >/dev/null 2>&1 || break
        sleep 0.1
    done
    shoot "$lobby" "$out/lobby.png"

    # cmdCreate: FraMain at 8,40, the button at 8,568 within it (63 x 22).
    xdotool mousemove --window "$lobby" 47 619 click 1
    shoot "$lobby" "$out/lobby-create.png"
}

if [ "${1:-}" = "--inside" ]; then
    inside "$2"
    exit 0
fi

[ $# -eq 1 ] || fail "usage: scripts/screenshots.sh <folder>"
for tool in xvfb-run xdotool import python3; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
mkdir -p "$1"
out=$(cd "$1" && pwd)
[ -x "$root/build/stonecall" ] || "$root/scripts/build.sh"
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$0" --inside "$out"
