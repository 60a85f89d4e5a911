#!/usr/bin/env bash
# Configures and builds into build/. Arguments before "--" go to cmake's configure step;
# after it, the targets to build (all of them when none is named).
set -euo pipefail
cd "$(dirname "$0")/.."
configure=()
while (($#)) && [ "$1" != "--" ]; do configure+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
targets=("$@")
echo "== configuring build/ ${configure[*]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" | grep -E '^(CMake |-- (Configuring|Generating) done)' || true
echo "== building ${targets[*]:-everything}"
if ((${#targets[@]})); then
    cmake --build build -j "$(nproc)" --target "${targets[@]}"
else
    cmake --build build -j "$(nproc)"
fi
