#!/usr/bin/env bash
# Builds romwright for 64-bit Windows with Debian's MinGW-w64 cross compiler
# and runs it under Wine. Installs what is missing with apt.
#
#   scripts/test-windows.sh           every test program that builds for Windows,
#                                     run by ctest under Wine (build-windows/)
#   scripts/test-windows.sh --smoke   only romwright-cli.exe, romwright-mkimage.exe and
#                                     Zenapi.dll: two firmware files, then one page-mode
#                                     and one sector-mode board of a small simulated
#                                     machine updated through romwright-cli.exe, with
#                                     the exit codes and the flash checked
#
# Wine runs in a prefix of its own, build-windows/wineprefix, made on the
# first run; its server is stopped again when the script ends.
# ROMWRIGHT_WINDOWS_BUILD=<folder> builds there instead of build-windows/.
# SQLite, which the update history needs and Debian has no MinGW build of, is
# compiled in from its amalgamation, fetched once into build-windows-deps/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

smoke=false
case "${1:-}" in
  --smoke) smoke=true ;;
  "") ;;
  *) echo "usage: $0 [--smoke]" >&2; exit 2 ;;
esac

started=$SECONDS
say() { echo "test-windows: $* ($((SECONDS - started)) s)"; }

# --- Packages ---------------------------------------------------------------
source scripts/lib/packages.sh
packages=("${windows_packages[@]}")
$smoke || packages+=(googletest)
ensure_packages "${packages[@]}"

# --- SQLite's amalgamation ---------------------------------------------------
# sqlite3.c and sqlite3.h as the npm package better-sqlite3 carries them in
# deps/sqlite3/, at a pinned version whose tarball and SQLite version are
# checked; only unpacked, never installed or run. SQLite is in the public
# domain, better-sqlite3 under the MIT licence.
sqlite_package=better-sqlite3@12.8.0
sqlite_tarball_sha256=2602a5726d0a9d8e6be407c59bc125e605110eda8e3b04e7ef8d6ddf762c9122
sqlite_version=3.51.3
deps=${ROMWRIGHT_WINDOWS_DEPS:-$root/build-windows-deps}
sqlite_dir=$deps/${sqlite_package/@/-}/deps/sqlite3
if [ ! -f "$sqlite_dir/sqlite3.c" ] || [ ! -f "$sqlite_dir/sqlite3.h" ]; then
  command -v npm >/dev/null || ensure_packages "${npm_packages[@]}"
  mkdir -p "$deps"
  tarball=$(cd "$deps" && npm pack --silent "$sqlite_package" | tail -n 1)
  if ! echo "$sqlite_tarball_sha256  $deps/$tarball" | sha256sum --check --status; then
    echo "test-windows: $deps/$tarball is not the pinned $sqlite_package" >&2
    exit 1
  fi
  rm -rf "$deps/${sqlite_package/@/-}"
  mkdir -p "$deps/${sqlite_package/@/-}"
  tar -xzf "$deps/$tarball" -C "$deps/${sqlite_package/@/-}" --strip-components=1 \
    package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h package/LICENSE
  rm -f "$deps/$tarball"
  say "SQLite fetched"
fi
if ! grep -q "^#define SQLITE_VERSION  *\"$sqlite_version\"" "$sqlite_dir/sqlite3.h"; then
  echo "test-windows: $sqlite_dir/sqlite3.h is not SQLite $sqlite_version" >&2
  exit 1
fi

# --- Build ------------------------------------------------------------------
default_build=build-windows
$smoke && default_build=build-windows-smoke  # another build type: its own folder
build=${ROMWRIGHT_WINDOWS_BUILD:-$default_build}
case $build in /*) ;; *) build=$root/$build ;; esac
tests=ON
targets=()
unity=()
smoke_cxx_flags=-O1
build_type=Release
if $smoke; then
  tests=OFF
  targets=(--target romwright-cli romwright-mkimage Zenapi)
  # Optimised lightly: the smoke run moves little data, and -O1 compiles the
  # three programs in a fraction of -O3's time.
  build_type=Smoke
  # One compiler run per few source files: fmt is header-only in this build,
  # and parsing it again for every file was most of the compile time. A type
  # from a file's anonymous namespace then looks, to the compiler, as if a
  # header declared it: that warning means nothing in a unity build.
  unity=(-DCMAKE_UNITY_BUILD=ON)
  smoke_cxx_flags="-O1 -Wno-subobject-linkage"
fi
cmake -S . -B "$build" -G Ninja --log-level=WARNING \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE="$build_type" "-DCMAKE_CXX_FLAGS_SMOKE=$smoke_cxx_flags" "-DCMAKE_C_FLAGS_SMOKE=-O1" \
  -DROMWRIGHT_WERROR=ON -DROMWRIGHT_BUILD_GUI=OFF -DROMWRIGHT_BUILD_BENCH=OFF -DROMWRIGHT_BUILD_TESTS="$tests" "${unity[@]}" \
  -DROMWRIGHT_SQLITE_SOURCE_DIR="$sqlite_dir"
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
say "built"

# --- Wine -------------------------------------------------------------------
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
wineserver="$(dirname "$(readlink -f "$wine")")/wineserver"
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
stop_wine() { "$wineserver" -k 2>/dev/null || true; }
trap stop_wine EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # No Mono or Gecko: nothing here needs .NET or a web view.
  WINEDLLOVERRIDES="mscoree=;mshtml=" "$wine" wineboot --init >/dev/null 2>&1
  say "Wine prefix made"
fi
# One server for the whole run instead of one per program started. Wine's
# own services (started with the first program and kept by the persistent
# server) are started here, away from any output: started by a test program
# they would hold its output pipe open, and ctest would wait for it.
"$wineserver" -p 2>/dev/null || true
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true

if ! $smoke; then
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 300
  say "tests run"
  exit 0
fi

# --- Smoke: two boards updated through romwright-cli.exe ---------------------
bin="$build/bin"
smoke_dir="$build/smoke"
rm -rf "$smoke_dir"
mkdir -p "$smoke_dir/state"
cd "$smoke_dir"

page_size=$((0x40000))    # page mode writes from 0x20000 up to the image's end
sector_size=$((0x80000))  # sector mode writes whole sectors from 0
cat > machine.toml <<EOF
[library]
version = "7.4.0"
driver_version = "7.4.0"

[[system]]

[[system.board]]
name = "page-5110"
kind = 11
revision = "2.0"
features = []
flash_size = $((page_size + 0x40000))

[system.board.timing]
page_erase_ms = 0

[[system.board]]
name = "sector-5160"
kind = 25
features = []
flash_size = $((sector_size + 0x40000))

[system.board.controller]
erase_ms = 0
program_ms = 0
read_burst_ms = 0
command_ms = 0
EOF
# Wine maps drive Z: to the root folder.
export ZENAPI_SIM_CONFIG="Z:$smoke_dir/machine.toml" ZENAPI_SIM_STATE_DIR="Z:$smoke_dir/state"
# The update history through the SQLite compiled into romwright-cli.exe.
export ROMWRIGHT_HISTORY="Z:$smoke_dir/history.sqlite"
unset ZENAPI_SIM_TRACE ZENAPI_SIM_CALL_COUNTS

mkimage() { "$wine" "$bin/romwright-mkimage.exe" --blank-fraction 0 "$@"; }
mkimage --board ZEN5110 --size "$page_size" --seed 21 --out firmware-ZEN5110.rpd
mkimage --board ZEN5160 --size "$sector_size" --seed 22 --out firmware-ZEN5160.pof
# The same picture as a raw file, to compare the flash with.
mkimage --board ZEN5160 --size "$sector_size" --seed 22 --out expected-ZEN5160.rpd

passed=0
failed=0
fail() {
  echo "test-windows: FAILED: $*"
  failed=$((failed + 1))
}
# check_board <board id> <firmware file> <flash file> <from> <reference> <what>:
# romwright-cli.exe updates the board and exits with 0; the flash then holds
# the reference file's bytes from offset <from> to its end, and erased bytes
# before.
check_board() {
  local board=$1 file=$2 flash=$3 from=$4 reference=$5 what=$6
  local status=0
  "$wine" "$bin/romwright-cli.exe" update --quiet --system 1 --board "$board" "$file" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "$what: romwright-cli.exe update $file exited with $status"
    return
  fi
  local length=$(($(stat -c %s "$reference") - from))
  if ! cmp -s -i "$from:$from" -n "$length" "$flash" "$reference"; then
    fail "$what: the flash differs from $reference"
    return
  fi
  if [ "$from" -gt 0 ] && ! cmp -s -n "$from" "$flash" <(head -c "$from" /dev/zero | tr '\0' '\377'); then
    fail "$what: the flash before $from is no longer erased"
    return
  fi
  passed=$((passed + 1))
}

check_board 1 firmware-ZEN5110.rpd state/page-5110.flash $((0x20000)) firmware-ZEN5110.rpd "page-mode board"
check_board 2 firmware-ZEN5160.pof state/sector-5160.flash 0 expected-ZEN5160.rpd "sector-mode board"
# The log is a Windows text file: its lines end in CR LF.
succeeded=$(tr -d '\r' < romwright-cli.log | grep -c '^Update succeeded\.$' || true)
[ "$succeeded" -eq "$passed" ] || fail "romwright-cli.log reports $succeeded successful updates, not $passed"
# The update history holds a whole record of each board, read here by the
# host's own SQLite.
records=$(python3 -c '
import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
print(c.execute("PRAGMA integrity_check").fetchone()[0])
for row in c.execute("SELECT result, system, board, model, path FROM attempts ORDER BY id"): print(*row)
' "$smoke_dir/history.sqlite" 2>&1 || true)
expected_records="ok
succeeded 1 1 ZEN5110 page mode
succeeded 1 2 ZEN5160 sector mode"
[ "$records" = "$expected_records" ] || fail "the update history holds, not the two updates:
$records"
say "smoke done; log: $smoke_dir/romwright-cli.log"
echo "smoke: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
