#!/usr/bin/env bash
# Sets up, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DSTONECALL_WERROR=ON -DSTONECALL_BUILD_TESTS=ON
ctest --test-dir build --output-on-failure -j "$(nproc)"
