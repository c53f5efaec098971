#!/usr/bin/env bash
# Builds and runs the benchmarks (optimised build in build-bench/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DROMWRIGHT_BUILD_GUI=OFF -DROMWRIGHT_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target bench_update bench_tool
build-bench/bin/bench_update
build-bench/bin/bench_tool
