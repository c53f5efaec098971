#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh              normal build in build/: every test, then the
#                                short run of the fuzz targets (build-fuzz/)
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
sanitize=0
cmake_args=(-G Ninja -DROMWRIGHT_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  sanitize=1
  build_dir=build-asan
  # -O1: the sanitized simulator and engine run the update tests three times
  # as fast as at -O0; line tables are enough for the reports' stack traces.
  cmake_args+=(-DROMWRIGHT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
               -DROMWRIGHT_BUILD_BENCH=OFF)
  # clang 14 (the fuzz targets' compiler): measured on two cores, it builds
  # this tree in 160 s where g++ takes 224, and its instrumented tests run in
  # 116 s where g++'s take 150. The normal build stays g++'s, so the code is
  # kept free of both compilers' warnings.
  export CC=clang-14 CXX=clang++-14
fi

scripts/install-deps.sh
if [ "$sanitize" = 1 ]; then
  source scripts/lib/packages.sh
  ensure_packages "${fuzz_packages[@]}"
fi
cmake -S . -B "$build_dir" "${cmake_args[@]}"
cmake --build "$build_dir" --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
# Five frames of each allocation's stack, not thirty: every allocation of
# every program the tests start records them, which cost a tenth of the
# sanitizer pass's time; a report still shows its own stack whole.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:malloc_context_size=5}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Three times as many tests as cores: many wait on the simulated hardware or
# on a program they started, and leave the processor idle meanwhile. Four
# times under the sanitizers, whose programs start and stop more slowly: on
# two cores that ran them in 129 s instead of 150.
jobs=$(( $(nproc) * (sanitize ? 4 : 3) ))
ctest --test-dir "$build_dir" --output-on-failure --parallel "$jobs" --timeout 300

if [ "$sanitize" = 0 ]; then
  scripts/fuzz.sh --seconds 8
fi
