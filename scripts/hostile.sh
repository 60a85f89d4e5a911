#!/usr/bin/env bash
# Hostile-server check: the whole client (real windows offscreen, real socket) against a
# scripted server (tests/soak/hostile_server.py) that sends 100 MB without a message end, a
# million USER messages with indexes up to 32767, a USERSTATE with random words and arguments
# for every index, random bytes, four single arrivals of a line or name of a million
# characters (MSG prefix, PUBMSG, a MSG decoding to 500,000 characters, a USER who then hosts),
# an arrival of chat lines that each just fit the log,
# PING after PING while it reads nothing, and 1,000 USER messages with a 500 KB name and a
# 500 KB further text and 600 USERSTATEs with a 900 KB state word, each followed by short
# entries for the same numbers, one connection each; the driver presses the login button
# again after each.
#
#   scripts/hostile.sh
#
# Judged in the normal build (build/): the client never crashes, drops the endless message as
# oversized, answers the PING behind every flood, its event loop never comes round more than
# MAX_STALL_MS late (a 50 ms timer measures it), and its resident memory stays under
# MAX_RSS_MIB. The socket hands the client at most 1 MiB per arrival and a tree settles at
# most once per arrival, so the longest stall is one such arrival: about 250 ms with 32768 users on a
# quiet 2-core machine, 400 ms with two compilers running beside it; the bound leaves room
# for a loaded CI machine and still catches a step that grows with the flood. One arrival
# holding a single long line or name must hold the loop no more than MAX_LINE_STALL_MS: the
# chat never lays out a line it would throw away and a tree row shows at most 256 characters.
# The server that stops reading must be dropped once the client's unsent output passes its
# 1 MiB cap. Through the huge fields memory stays under the same bound, and once the short
# entries have replaced them the client holds at most MAX_SETTLED_MIB more than it did before
# them: the table keeps at most 512 bytes of a field and gives back the memory of a long one
# that a short one replaces. The same run in the sanitizer build
# (build-asan/) must finish without a sanitizer report; its timings are not judged.
set -euo pipefail
cd "$(dirname "$0")/.."

MAX_STALL_MS=750
MAX_LINE_STALL_MS=250
MAX_RSS_MIB=256
MAX_SETTLED_MIB=64

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp

scripts/setup.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake -S . -B build -DSTONECALL_BUILD_TESTS=ON >/dev/null
cmake --build build --target hostile_client
[ -f build-asan/build.ninja ] || cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DSTONECALL_SANITIZE=ON -DSTONECALL_WERROR=ON >/dev/null
cmake -S . -B build-asan -DSTONECALL_BUILD_TESTS=ON >/dev/null
cmake --build build-asan --target hostile_client

work=$(mktemp -d)
server_pid=""
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
failed=0

# One run of the attacks against the client of the given build.
attack() {
    local build=$1 stall=$2 rss=$3 line_stall=${4:-$MAX_LINE_STALL_MS} settled=${5:-$MAX_SETTLED_MIB}
    python3 tests/soak/hostile_server.py >"$work/server.txt" 2>&1 &
    server_pid=$!
    for _ in $(seq 600); do grep -q listening "$work/server.txt" 2>/dev/null && break; sleep 0.1; done
    local port code=0 server_code=0
    port=$(awk '/listening/ {print $NF}' "$work/server.txt")
    "$build/tests/soak/hostile_client" --port "$port" --max-stall-ms "$stall" \
        --max-line-stall-ms "$line_stall" --max-rss-mib "$rss" --max-settled-mib "$settled" \
        >"$work/client.txt" 2>&1 || code=$?
    if [ "$code" -ne 0 ]; then
        kill "$server_pid" 2>/dev/null || true
    fi
    wait "$server_pid" || server_code=$?
    server_pid=""
    grep -v 'listening\|XDG_RUNTIME_DIR' "$work/server.txt" || true
    grep -v 'XDG_RUNTIME_DIR' "$work/client.txt" || true
    if [ "$code" -ne 0 ] || [ "$server_code" -ne 0 ]; then
        echo "FAILED in $build: client exit $code, hostile server exit $server_code"
        failed=1
    fi
}

echo "== hostile server against build/ (stall bound ${MAX_STALL_MS} ms, ${MAX_LINE_STALL_MS} ms for one long line, memory bound ${MAX_RSS_MIB} MiB, ${MAX_SETTLED_MIB} MiB after the huge fields)"
attack build "$MAX_STALL_MS" "$MAX_RSS_MIB"
echo "== hostile server against build-asan/ (sanitizer reports only)"
attack build-asan 60000 4096 60000 4096

[ "$failed" -eq 0 ] || exit 1
echo "hostile check passed"
