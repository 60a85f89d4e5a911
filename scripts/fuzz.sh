#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 60 s each).
# Any crash or failed property stops with a non-zero exit and leaves the input in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dpkg-query -W -f='${Status}' clang libclang-rt-14-dev 2>/dev/null | grep -c "install ok installed" | grep -q 2 || {
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSTONECALL_BUILD_FUZZ=ON -DSTONECALL_BUILD_TESTS=OFF -DSTONECALL_WERROR=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined" >/dev/null
targets=$(sed -n 's/^stonecall_add_fuzzer(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
cmake --build build-fuzz -j "$(nproc)" --target $targets
for target in $targets; do
    work=build-fuzz/corpus/$target
    mkdir -p "$work"
    [ -d fuzz/corpus/$target ] && cp -n fuzz/corpus/$target/* "$work"/ 2>/dev/null || true
    echo "== $target: ${seconds}s"
    (cd build-fuzz && ./fuzz/$target -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
        corpus/$target 2>&1 | grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY|property failed|Done)" || true)
    (cd build-fuzz && ./fuzz/$target -runs=0 corpus/$target >/dev/null 2>&1) || { echo "FAILED: $target"; exit 1; }
done
echo "fuzzing passed"
