#!/usr/bin/env bash
# Builds romwright for 64-bit Windows with Debian's MinGW-w64 cross compiler
# and runs it under Wine. Installs what is missing with apt.
#
#   scripts/test-windows.sh           every program and test program, each test
#                                     run by ctest under Wine, the installer's
#                                     test among them (build-windows/)
#   scripts/test-windows.sh --smoke   romwright-cli.exe, romwright.exe,
#                                     romwright-mkimage.exe and Zenapi.dll, built
#                                     lightly (build-windows-smoke/): two firmware
#                                     files, a page-mode and a sector-mode board
#                                     of a small simulated machine updated through
#                                     romwright-cli.exe, then romwright.exe's list,
#                                     read, verify, an update that finds the board
#                                     holding the image, and a restore, with the
#                                     exit codes, the flash and the history checked
#   scripts/test-windows.sh --smoke --compile-tests
#                                     the same, and every test program's sources
#                                     and romwright-gui's compiled for Windows,
#                                     syntax only: CI's guard against a call that
#                                     only POSIX has
#
# Wine runs in a prefix of its own, <build>/wineprefix, made on the first
# run; its server is stopped again when the script ends.
# ROMWRIGHT_WINDOWS_BUILD=<folder> builds there instead.
# SQLite, which the update history needs and Debian has no MinGW build of, is
# compiled in from its amalgamation, fetched once into build-windows-deps/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

smoke=false
compile_tests=false
for argument in "$@"; do
  case $argument in
    --smoke) smoke=true ;;
    --compile-tests) compile_tests=true ;;
    *) echo "usage: $0 [--smoke [--compile-tests]]" >&2; exit 2 ;;
  esac
done
if $compile_tests && ! $smoke; then
  echo "usage: $0 [--smoke [--compile-tests]]" >&2
  exit 2
fi

started=$SECONDS
say() { echo "test-windows: $* ($((SECONDS - started)) s)"; }
source scripts/lib/windows.sh

# --- Packages ---------------------------------------------------------------
# googletest for every build: the smoke build is configured with the tests
# too, so that it serves --compile-tests and scripts/package-windows.sh
# --smoke alike without configuring anew.
if ! $smoke; then
  windows_packages googletest "${windows_packaging_packages[@]}"
elif $compile_tests; then
  windows_packages googletest qt6-base-dev  # Qt's headers, to compile romwright-gui's sources against
else
  windows_packages googletest
fi

# check_test_sources <build>: every test program's sources (not the boundary
# test's, which must fail to compile) through the cross compiler with their
# own flags and the shared precompiled header, syntax only: a call that only
# POSIX has fails there as surely as in a whole build, in a quarter of the
# time, since code generation is most of a test file's compile. Linking and
# running them is the full run's.
check_test_sources() {
  local build=$1
  mapfile -t objects < <(ninja -C "$build" -t targets all | sed -n 's|^\(tests/[^:]*\.obj\): .*|\1|p' |
    grep -v '/front_end_include_boundary\.dir/')
  [ "${#objects[@]}" -gt 0 ] || { echo "test-windows: no test sources found" >&2; exit 1; }
  local pch
  pch=$(ninja -C "$build" -t targets all | sed -n 's|^\(tests/[^:]*cmake_pch\.hxx\.gch\): .*|\1|p')
  [ -n "$pch" ] && cmake --build "$build" --target $pch
  # Each object's own compile command, made to check and write nothing.
  (cd "$build" && for object in "${objects[@]}"; do ninja -t commands "$object" | tail -n 1; done) |
    sed -e 's/ -o [^ ]*\.obj / -fsyntax-only /' -e 's/ -c / /' -e 's/ -MD -MT [^ ]* -MF [^ ]*//' \
      -e 's/ -MD -MT [^ ]* -MF [^ ]*$//' |
    (cd "$build" && xargs -d '\n' -P "$(nproc)" -I{} sh -c '{}' || exit 1) ||
    { echo "test-windows: a test source does not compile for Windows (above)" >&2; exit 1; }
  say "${#objects[@]} test sources compiled for Windows, syntax only"
}

# --- Build ------------------------------------------------------------------
default_build=build-windows
$smoke && default_build=build-windows-smoke  # another build type: its own folder
build=${ROMWRIGHT_WINDOWS_BUILD:-$default_build}
case $build in /*) ;; *) build=$root/$build ;; esac
if ! $smoke; then
  windows_configure "$build" -DCMAKE_BUILD_TYPE=Release -DROMWRIGHT_BUILD_TESTS=ON
  cmake --build "$build" --parallel "$(nproc)"
else
  windows_configure "$build" "${windows_smoke_flags[@]}" -DROMWRIGHT_BUILD_TESTS=ON
  targets=(romwright-cli romwright romwright-mkimage Zenapi)
  # romwright-gui's sources, compiled for Windows syntax only (cmake/windows/gui_syntax.cmake).
  $compile_tests && targets+=(gui_windows_syntax)
  cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
  if $compile_tests; then
    check_test_sources "$build"
  fi
fi
say "built"

# --- Wine -------------------------------------------------------------------
start_wine "$build"

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
# The update history through the SQLite compiled into the programs.
export ROMWRIGHT_HISTORY="Z:$smoke_dir/history.sqlite"
unset ZENAPI_SIM_TRACE ZENAPI_SIM_CALL_COUNTS ROMWRIGHT_ZENAPI_DLL

mkimage() { "$wine" "$bin/romwright-mkimage.exe" --blank-fraction 0 "$@"; }
mkimage --board ZEN5110 --size "$page_size" --seed 21 --out firmware-ZEN5110.rpd
mkimage --board ZEN5160 --size "$sector_size" --seed 22 --out firmware-ZEN5160.pof
# The same picture as a raw file, to compare the flash with.
mkimage --board ZEN5160 --size "$sector_size" --seed 22 --out expected-ZEN5160.rpd
mkimage --board ZEN5160 --size "$sector_size" --seed 23 --out other-ZEN5160.pof

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

# --- Smoke: romwright.exe on the same boards ---------------------------------
# romwright_exe <what> <expected status> <args...>: runs romwright.exe; its
# standard output (CR LF read as LF) is left in $out.
romwright_exe() {
  local what=$1 expected=$2 status=0
  shift 2
  out=$("$wine" "$bin/romwright.exe" "$@" | tr -d '\r') || status=$?
  if [ "$status" -ne "$expected" ]; then
    fail "$what: romwright.exe $* exited with $status, not $expected"
    return 1
  fi
  passed=$((passed + 1))
}
# json <document> <python expression over d>: the expression's value.
json() { python3 -c 'import json, sys; d = json.loads(sys.argv[1]); print(eval(sys.argv[2]))' "$1" "$2" 2>&1; }

if romwright_exe "list" 0 list --json; then
  boards=$(json "$out" "[(b['system_id'], b['board_id'], b['model'], b['update_path']) for b in d['boards']]")
  [ "$boards" = "[(1, 1, 'ZEN5110', 'page mode'), (1, 2, 'ZEN5160', 'sector mode')]" ] ||
    fail "romwright.exe list --json shows $boards"
fi
if romwright_exe "read" 0 read --system 1 --board 2 backup-5160.bin; then
  cmp -s backup-5160.bin state/sector-5160.flash || fail "the backup is not the board's flash"
  [ -s backup-5160.bin.json ] || fail "the backup has no description"
fi
romwright_exe "verify of what the board holds" 0 verify firmware-ZEN5160.pof --system 1 --board 2 || true
# The board holds the image already: the update erases and writes nothing.
if romwright_exe "update of what the board holds" 0 update --system 1 --board 2 --json firmware-ZEN5160.pof; then
  counts=$(json "$out" "[(b['result'], b['sectors_erased'], b['sectors_written']) for b in d['boards']]")
  [ "$counts" = "[('succeeded', 0, 0)]" ] || fail "the update of what the board holds did $counts"
  cmp -s backup-5160.bin state/sector-5160.flash || fail "the update of what the board holds changed the flash"
fi
romwright_exe "update with another image" 0 update --quiet --system 1 --board 2 other-ZEN5160.pof || true
romwright_exe "verify of what the board no longer holds" 1 verify firmware-ZEN5160.pof --system 1 --board 2 || true
if romwright_exe "restore" 0 restore backup-5160.bin --system 1 --board 2 --quiet; then
  cmp -s backup-5160.bin state/sector-5160.flash || fail "the restored flash is not the backup"
fi

# A signed bundle of both boards' files, made and signed with the host's
# minisign: the page-mode board already holds its file, the sector-mode board
# gets the other image; the signature is checked by the libgcrypt compiled
# into romwright.exe.
if romwright_exe "bundle create" 0 bundle create smoke.rwb firmware-ZEN5110.rpd other-ZEN5160.pof --name=smoke --version=1; then
  minisign -G -W -p smoke.pub -s smoke.key >/dev/null &&
    minisign -S -s smoke.key -m smoke.rwb -t "smoke bundle" >/dev/null || fail "minisign could not sign the bundle"
  romwright_exe "update with a bundle" 0 update --quiet --trusted-key=smoke.pub smoke.rwb || true
  romwright_exe "verify of the bundle's file" 0 verify other-ZEN5160.pof --system 1 --board 2 || true
  printf 'x' >> smoke.rwb
  romwright_exe "update with a changed bundle" 1 update --quiet --trusted-key=smoke.pub smoke.rwb || true
fi

# The update history holds a whole record of each attempt, read here by the
# host's own SQLite.
records=$(python3 -c '
import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
print(c.execute("PRAGMA integrity_check").fetchone()[0])
for row in c.execute("SELECT program, result, system, board, model, path, bundle_file, signature_trusted_comment"
                     " FROM attempts ORDER BY id"): print(*row)
' "$smoke_dir/history.sqlite" 2>&1 || true)
expected_records="ok
romwright-cli succeeded 1 1 ZEN5110 page mode None None
romwright-cli succeeded 1 2 ZEN5160 sector mode None None
romwright succeeded 1 2 ZEN5160 sector mode None None
romwright succeeded 1 2 ZEN5160 sector mode None None
romwright succeeded 1 2 ZEN5160 sector mode None None
romwright succeeded 1 1 ZEN5110 page mode firmware-ZEN5110.rpd smoke bundle
romwright succeeded 1 2 ZEN5160 sector mode other-ZEN5160.pof smoke bundle
romwright refused None None None None None None"
[ "$records" = "$expected_records" ] || fail "the update history holds, not the four updates, the restore, the bundle's two and its refusal:
$records"
say "smoke done; log: $smoke_dir/romwright-cli.log"
echo "smoke: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
