#!/bin/sh
# Installs the built tree into a temporary prefix, as a user would, and checks
# what a user of the installed programs meets.
#   install_test.sh layout     <build dir>  the files and their places, no RUNPATH,
#                                           a man page per program, pages that render
#   install_test.sh simulated  <build dir>  --version, and an update through romwright-sim
#   install_test.sh no-switch  <build dir>  without romwright-sim the simulator is not loaded
set -eu

mode=$1
build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/romwright-install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The update history of the runs below stays in the test's folder.
export ROMWRIGHT_HISTORY="$work/history.sqlite"
prefix=$work/prefix
# Board locks of the test's own, not the machine's.
ROMWRIGHT_LOCK_DIR=$work/locks
export ROMWRIGHT_LOCK_DIR
fail() { echo "FAIL: $*" >&2; exit 1; }

"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "cmake --install"; }
simulator=$(find "$prefix" -name libZenapi.so)
[ "$(echo "$simulator" | wc -l)" = 1 ] || fail "libZenapi.so installed more than once: $simulator"
case "$simulator" in
    "$prefix"/lib*/romwright/sim/libZenapi.so) ;;
    *) fail "the simulator is not in its private folder: $simulator" ;;
esac

# A firmware file and a simulated machine of our own, for the update runs.
firmware() {
    mkdir -p "$work/run"
    "$prefix/bin/romwright-mkimage" --board ZEN5190 --out "$work/run/firmware-ZEN5190.rpd" --size 2M >/dev/null
    export ZENAPI_SIM_STATE_DIR="$work/state"
    unset ZENAPI_SIM_CONFIG ZENAPI_SIM_TRACE
}

# The log line that names the device library, from the log of one run.
library_line() { grep '^Device library = ' "$work/run/romwright-cli.log" | tail -n 1; }

case "$mode" in
layout)
    for file in bin/romwright-cli bin/romwright-sim bin/romwright-mkimage \
                include/romwright/romwright.h include/zenapi/Zenapi.h \
                share/doc/romwright/copyright share/doc/romwright/changelog.Debian.gz; do
        [ -e "$prefix/$file" ] || fail "$file is not installed"
    done
    [ -z "$(find "$prefix" -name zenapi_sim.h)" ] || fail "the simulator's test control header is installed"
    if [ -e "$build/bin/romwright-gui" ]; then
        for file in bin/romwright-gui share/applications/romwright-gui.desktop \
                    share/icons/hicolor/48x48/apps/romwright-gui.png; do
            [ -e "$prefix/$file" ] || fail "$file is not installed"
        done
    fi
    # No installed program or library may carry a search path of its own.
    for file in "$prefix"/bin/* "$simulator"; do
        if head -c 4 "$file" | grep -q ELF; then
            ! readelf -d "$file" | grep -E 'RPATH|RUNPATH' || fail "$file has a library search path"
        fi
    done
    # Every program has its man page, and every page renders.
    command -v scdoc >/dev/null || { echo "SKIP: scdoc is not installed, no man pages"; exit 0; }
    for program in "$prefix"/bin/*; do
        page=$prefix/share/man/man1/$(basename "$program").1.gz
        [ -e "$page" ] || fail "$(basename "$program") has no man page"
        if command -v man >/dev/null; then
            text=$(MANWIDTH=80 man -l "$page" 2>"$work/man.err") || fail "man -l $page"
            [ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man -l $page warns"; }
            echo "$text" | grep -q "^NAME" || fail "$page has no NAME section"
        fi
    done
    ;;
simulated)
    version=$(env -u LD_LIBRARY_PATH "$prefix/bin/romwright-sim" romwright-cli --version)
    [ "$version" = "romwright-cli version 3.5.3" ] || fail "romwright-cli --version said: $version"
    firmware
    (cd "$work/run" && env -u LD_LIBRARY_PATH "$prefix/bin/romwright-sim" romwright-cli update --system 1 --board 1 \
        firmware-ZEN5190.rpd) >"$work/out" 2>&1 || { cat "$work/out" >&2; fail "the simulated update"; }
    grep -q "Update of 1 board successful" "$work/out" || fail "no success line: $(cat "$work/out")"
    [ "$(library_line)" = "Device library = $simulator (simulated: Zenapi simulator 3.5.3)" ] ||
        fail "the log does not show the simulator: $(library_line)"
    [ -n "$(find "$work/state" -name '*.flash')" ] || fail "no simulated flash in ZENAPI_SIM_STATE_DIR"
    ;;
no-switch)
    # With no libZenapi.so where the loader looks, the program cannot start:
    # its RUNPATH does not lead it to the simulator.
    if ldconfig -p 2>/dev/null | grep -q 'libZenapi\.so'; then
        echo "this computer has a libZenapi.so in a system folder; the check without one is skipped"
    else
        status=0
        env -u LD_LIBRARY_PATH "$prefix/bin/romwright-cli" --version >"$work/out" 2>&1 || status=$?
        [ "$status" = 127 ] || fail "romwright-cli started without a device library (exit $status): $(cat "$work/out")"
        grep -q 'libZenapi\.so' "$work/out" || fail "the loader's message does not name libZenapi.so: $(cat "$work/out")"
    fi
    # A library where the maker's one would be found is the one loaded.
    mkdir -p "$work/system-lib"
    cp "$simulator" "$work/system-lib/libZenapi.so"
    firmware
    (cd "$work/run" && LD_LIBRARY_PATH="$work/system-lib" "$prefix/bin/romwright-cli" update --system 1 --board 1 \
        firmware-ZEN5190.rpd) >"$work/out" 2>&1 || { cat "$work/out" >&2; fail "the update on the stand-in library"; }
    case "$(library_line)" in
        "Device library = $(readlink -f "$work/system-lib")/libZenapi.so "*) ;;
        *) fail "not the library of LD_LIBRARY_PATH: $(library_line)" ;;
    esac
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
echo "PASS $mode"
