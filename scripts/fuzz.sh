#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (clang-14, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer), writes their seed corpora with the image
# maker and runs the targets, one per core at a time.
#
#   scripts/fuzz.sh --seconds 8         each target for 8 s: the short run, 48 s of fuzzing in all
#   scripts/fuzz.sh [--runs N]          each target for N executions (default 10000000)
#   scripts/fuzz.sh --runs N --seconds S   whichever comes first
#   options: --targets a,b   only these targets (pof_reader raw_image page_layout image_check planner
#                            bundle_reader)
#            --raw-small-files   keep raw files small (by default a file the loader must
#                                refuse may be up to 4 GiB long, to show it costs no memory)
#            --build-dir DIR     build there instead of build-fuzz
#
# A sanitizer report, a crash, a time-out, an allocation above 256 MB or a
# resident size above 2 GB stops that target; the input that did it is left
# in build-fuzz/findings/<target>/ and the script exits with 1 after the
# remaining targets have run. Inputs that found new coverage are kept in
# build-fuzz/findings/<target>/corpus/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(pof_reader raw_image page_layout image_check planner bundle_reader)
declare -A max_len=([pof_reader]=4096 [raw_image]=4096 [page_layout]=1024 [image_check]=1024 [planner]=4096
  [bundle_reader]=4096)
runs=""
seconds=""
targets=("${all_targets[@]}")
raw_large=1
build=build-fuzz

usage() { sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit "${1:-0}"; }
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --targets) IFS=, read -r -a targets <<< "$2"; shift 2 ;;
    --raw-small-files) raw_large=0; shift ;;
    --build-dir) build="$2"; shift 2 ;;
    -h|--help) usage 0 ;;
    *) echo "fuzz.sh: unknown option $1" >&2; usage 2 >&2 ;;
  esac
done
if [ -z "$runs" ] && [ -z "$seconds" ]; then runs=10000000; fi
for target in "${targets[@]}"; do
  [ -n "${max_len[$target]:-}" ] || { echo "fuzz.sh: unknown target $target" >&2; exit 2; }
done

source scripts/lib/packages.sh
ensure_packages "${base_packages[@]}" "${fuzz_packages[@]}"

milliseconds() { echo $(( $(date +%s%N) / 1000000 )); }
seconds_since() { local ms=$(( $(milliseconds) - $1 )); printf '%d.%01d' $((ms / 1000)) $((ms % 1000 / 100)); }
build_start=$(milliseconds)
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DROMWRIGHT_WERROR=ON -DROMWRIGHT_BUILD_FUZZ=ON \
  -DROMWRIGHT_BUILD_GUI=OFF -DROMWRIGHT_BUILD_TESTS=OFF -DROMWRIGHT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_targets
rm -rf "$build/corpus"
"$build/bin/romwright-fuzz-seeds" "$build/corpus"
echo "build and seeds: $(seconds_since "$build_start") s"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# One line of the final statistics or of libFuzzer's status lines.
stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }
coverage() { grep -Eo "($1) +cov: [0-9]+" "$2" | grep -Eo '[0-9]+$' | tail -1; }

# run_target T: runs one target and leaves its summary line in
# findings/T/summary; returns non-zero on a report.
run_target() {
  local target=$1
  local findings="$build/findings/$target" log limits environment start status elapsed cpu result
  mkdir -p "$findings/corpus"
  log="$findings/last-run.log"
  limits=(-max_len="${max_len[$target]}" -malloc_limit_mb=256 -rss_limit_mb=2048 -timeout=10)
  [ -n "$runs" ] && limits+=(-runs="$runs")
  [ -n "$seconds" ] && limits+=(-max_total_time="$seconds")
  environment=()
  [ "$target" = raw_image ] && [ "$raw_large" = 0 ] && environment=(ROMWRIGHT_FUZZ_LARGE_RAW=0)
  echo "== $target (${limits[*]})"
  start=$(milliseconds)
  status=0
  # The processor time too: on a shared machine it tells the target's own speed.
  TIMEFORMAT='%U %S'
  { time env "${environment[@]}" "$build/bin/${target}_fuzz" "${limits[@]}" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$findings/corpus" "$build/corpus/$target" >"$log" 2>&1; } \
    2>"$findings/cpu-time" || status=$?
  elapsed=$(seconds_since "$start")
  cpu=$(awk '{ printf "%.1f", $1 + $2 }' "$findings/cpu-time")
  result=clean
  if [ "$status" -ne 0 ]; then
    result="REPORT (exit $status), see $log"
    grep -E '^==[0-9]+==ERROR|^SUMMARY|runtime error|romwright-fuzz|Test unit written' "$log" | head -5 || true
  fi
  printf '%-12s %12s %9s %8s %8s %8s %5s -> %-5s %6s  %s' "$target" \
    "$(stat number_of_executed_units "$log")" "$elapsed" "$cpu" "$(stat average_exec_per_sec "$log")" \
    "$(stat peak_rss_mb "$log")" "$(coverage INITED "$log")" "$(coverage 'DONE|pulse|NEW|REDUCE' "$log")" \
    "$(stat new_units_added "$log")" "$result" >"$findings/summary"
  [ "$status" -eq 0 ]
}

# One target per core at a time: each is a single process.
failed=0
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done

printf '\n%-12s %12s %9s %8s %8s %8s %14s %6s  %s\n' target executions 'time (s)' 'CPU (s)' exec/s 'RSS (MB)' \
  coverage new result
for target in "${targets[@]}"; do cat "$build/findings/$target/summary"; echo; done
exit "$failed"
