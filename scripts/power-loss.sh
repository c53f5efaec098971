#!/usr/bin/env bash
# Power-loss runs: romwright-cli is killed with SIGKILL at seeded random
# moments of a page-mode and of a sector-mode update on the simulated machine
# (ZEN5110 with a 1 MiB image, ZEN5160 with a 512 KiB image), and run again
# after each kill. Every rerun must complete with the image in the flash; the
# killed run's log must hold whole lines only; the boards' flash files must
# keep their size. The moments are drawn, from a fixed seed, within the
# length of a clean update measured first.
#
# These are the tests Boards/PowerLoss.* of tests/cli/power_loss_test.cpp,
# which scripts/test.sh runs with 10 moments per board; here with 50, the
# two boards side by side.
#
#   scripts/power-loss.sh             50 moments per board (normal build in build/)
#   RUNS=200 scripts/power-loss.sh    another number of moments
#
# 50 moments take about a minute and a half on two cores: the sector-mode
# board is the slow one. What happened at each board (how many kills found
# the flash untouched, half-written or already updated) is printed at the end
# and kept in build/test-artifacts/power-loss-<board>.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-50}

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DROMWRIGHT_WERROR=ON >/dev/null
cmake --build build --parallel "$(nproc)" --target cli_tests romwright-cli romwright-mkimage

# The two boards side by side, each with its own output; no time limit.
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
pids=()
for board in page_mode sector_mode; do
  ROMWRIGHT_POWER_LOSS_RUNS=$runs build/bin/cli_tests --gtest_filter="Boards/PowerLoss.*/$board" \
    >"$out/$board.txt" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for board in page_mode sector_mode; do
  if grep -q '^\[  FAILED  \]' "$out/$board.txt"; then
    # Failures only: the progress bars of hundreds of runs say nothing.
    grep -a -v '^\[ RUN\|board 0 of 1' "$out/$board.txt" | tail -n 60
  fi
done
echo
cat build/test-artifacts/power-loss-page_mode.txt build/test-artifacts/power-loss-sector_mode.txt
[ $status -eq 0 ] && echo "power loss: every rerun restored the image" || echo "power loss: FAILED"
exit $status
