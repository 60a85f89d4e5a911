#!/usr/bin/env bash
# Soak check. (i) The whole client (real windows offscreen, real socket) logs in to a real
# stonecall-lobbyd, chats, hosts and leaves a hut and logs out, 1,000 times; (ii) the server
# takes 500 clients at once that chat, host and join huts and leave, round after round.
#
#   scripts/soak.sh            full run (a few minutes)
#   scripts/soak.sh --short    100 log-ins, 100 clients: the CI smoke run
#
# Memory is judged in the normal build (build/), between the end of the warm-up (the server:
# its first round) and the end: the C heap in use may grow by at most CLIENT_HEAP_KIB /
# SERVER_HEAP_KIB, and open files must be as many as before. The client's resident set may
# grow by at most CLIENT_RSS_KIB. The server's resident set is only held under SERVER_RSS_MIB:
# its allocator may keep the freed pages of the busiest moment of a round (a round of 500
# leaves it at about 5 MiB) while the heap in use goes back to a few hundred KiB after every
# round. Leaks are judged by LeakSanitizer in the sanitizer build (build-asan/, as
# scripts/sanitize.sh makes it): both programs end normally and any leak report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cycles=1000 warmup=50 users=500 rounds=5
if [ "${1:-}" = "--short" ]; then
    cycles=100 warmup=20 users=100 rounds=3
fi
CLIENT_HEAP_KIB=1536 # the chat log and its lines' kept glyphs swing by up to about 800 KiB between clears
CLIENT_RSS_KIB=4096
SERVER_HEAP_KIB=256
SERVER_RSS_MIB=64

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp

scripts/setup.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake -S . -B build -DSTONECALL_BUILD_TESTS=ON >/dev/null
cmake --build build --target stonecall-lobbyd soak_client
[ -f build-asan/build.ninja ] || cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DSTONECALL_SANITIZE=ON -DSTONECALL_WERROR=ON >/dev/null
cmake -S . -B build-asan -DSTONECALL_BUILD_TESTS=ON >/dev/null
cmake --build build-asan --target stonecall-lobbyd soak_client

work=$(mktemp -d)
server_pid=""
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# Reads "RESULT key=value ..." from a file into variables r_key.
read_result() {
    local line
    line=$(grep '^RESULT ' "$1" | tail -1) || return 1
    for pair in ${line#RESULT }; do
        printf -v "r_${pair%%=*}" '%s' "${pair#*=}"
    done
}

# The client against a server of the same build; the server is stopped with SIGTERM so that
# it ends normally (and reports leaks in the sanitizer build).
client_soak() {
    local build=$1 out=$work/client-$1.txt
    "$build/stonecall-lobbyd" --port 0 --ping-interval 1 >"$work/port" 2>"$work/server-$1.log" &
    server_pid=$!
    for _ in $(seq 300); do grep -q listening "$work/port" 2>/dev/null && break; sleep 0.1; done
    local port
    port=$(awk '/listening/ {print $NF}' "$work/port")
    local code=0
    "$build/tests/soak/soak_client" --port "$port" --cycles "$cycles" --warmup "$warmup" \
        >"$out" 2>&1 || code=$?
    kill -TERM "$server_pid"
    local server_code=0
    wait "$server_pid" || server_code=$?
    server_pid=""
    grep -v '^RESULT\|XDG_RUNTIME_DIR' "$out" || true
    [ "$code" -eq 0 ] || fail "client soak in $build: exit $code (see above)"
    [ "$server_code" -eq 0 ] || {
        tail -40 "$work/server-$1.log"
        fail "lobby server in $build: exit $server_code"
    }
    read_result "$out"
}

server_soak() {
    local build=$1 out=$work/server-soak-$1.txt code=0
    python3 server/tools/soakload.py "$build/stonecall-lobbyd" "$users" "$rounds" >"$out" 2>&1 ||
        code=$?
    grep -v '^RESULT' "$out" || true
    [ "$code" -eq 0 ] || fail "server soak in $build: exit $code (see above)"
    read_result "$out"
}

echo "== client soak, build/: $cycles log-ins, memory read after $warmup"
if client_soak build; then
    rss=$((r_rss_end_kib - r_rss_start_kib))
    heap=$(((r_heap_end - r_heap_start) / 1024))
    echo "client open files: ${r_fds_start} after warm-up, ${r_fds_end} at the end"
    [ "$r_fds_end" -le "$r_fds_start" ] || fail "the client holds more open files"
    echo "client RSS: ${r_rss_start_kib} KiB after warm-up, ${r_rss_middle_kib} KiB halfway," \
        "${r_rss_end_kib} KiB at the end (${rss} KiB, limit +${CLIENT_RSS_KIB})"
    echo "client heap in use: $((r_heap_start / 1024)) KiB after warm-up," \
        "$((r_heap_end / 1024)) KiB at the end (${heap} KiB, limit +${CLIENT_HEAP_KIB})"
    [ "$rss" -le "$CLIENT_RSS_KIB" ] || fail "client resident memory grew by $rss KiB"
    [ "$heap" -le "$CLIENT_HEAP_KIB" ] || fail "client heap grew by $heap KiB"
fi

echo "== server soak, build/: $rounds rounds of $users clients"
if server_soak build; then
    heap=$((r_heap_end_kib - r_heap_start_kib))
    limit=$((SERVER_RSS_MIB * 1024))
    echo "server open files: ${r_fds_idle} before the first round, ${r_fds_end} after the last"
    [ "$r_fds_end" -le "$r_fds_idle" ] || fail "the server holds more open files"
    echo "server RSS: ${r_rss_idle_kib} KiB idle, ${r_rss_start_kib} KiB after the first round," \
        "${r_rss_end_kib} KiB after the last (limit ${limit})"
    echo "server heap in use: ${r_heap_start_kib} KiB after the first round," \
        "${r_heap_end_kib} KiB after the last (${heap} KiB, limit +${SERVER_HEAP_KIB})"
    [ "$r_rss_end_kib" -le "$limit" ] || fail "server resident memory grew past $limit KiB"
    [ "$heap" -le "$SERVER_HEAP_KIB" ] || fail "server heap grew by $heap KiB"
fi

echo "== client soak, build-asan/ (LeakSanitizer): $cycles log-ins"
client_soak build-asan && echo "no leak reported by the client or the server"
echo "== server soak, build-asan/ (LeakSanitizer): $rounds rounds of $users clients"
server_soak build-asan && echo "no leak reported by the server"

[ "$failed" -eq 0 ] || exit 1
echo "soak passed"
