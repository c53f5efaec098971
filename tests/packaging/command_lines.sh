#!/bin/sh
# --help, --version and a wrong command line of romwright-gui and
# romwright-mkimage, run as a user runs them.
#   command_lines.sh <bin dir>
# ROMWRIGHT_RUN runs the programs (Wine for a Windows build), whose file
# names end in ROMWRIGHT_EXE (.exe).
set -eu
bin=$1
run_with=${ROMWRIGHT_RUN:-}
exe=${ROMWRIGHT_EXE:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/romwright-command-lines.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# run <program> <args...>: sets status, out and err (CR LF read as LF).
run() {
    status=0
    # shellcheck disable=SC2086
    $run_with "$@" >"$work/out" 2>"$work/err" || status=$?
    out=$(tr -d '\r' <"$work/out")
    err=$(tr -d '\r' <"$work/err")
}

if [ -x "$bin/romwright-gui" ]; then
    # No display platform at all: the answers must come before any window.
    export QT_QPA_PLATFORM=no-such-platform
    run "$bin/romwright-gui" --version
    [ "$status" = 0 ] && [ "$out" = "romwright-gui 3.5.3" ] || fail "romwright-gui --version: $status $out $err"
    for option in --help -h; do
        run "$bin/romwright-gui" "$option"
        [ "$status" = 0 ] || fail "romwright-gui $option exits $status: $err"
        echo "$out" | grep -q '^Usage: .*romwright-gui \[options\]$' || fail "romwright-gui $option: $out"
        echo "$out" | grep -q -- '-v, --version' || fail "romwright-gui $option lists no --version: $out"
    done
    unset QT_QPA_PLATFORM
fi

run "$bin/romwright-mkimage$exe" --version
[ "$status" = 0 ] && [ "$out" = "romwright-mkimage version 3.5.3" ] || fail "romwright-mkimage --version: $status $out"
run "$bin/romwright-mkimage$exe" --help
echo "$out" | grep -q -- '--version ' || fail "romwright-mkimage --help does not list --version"

# A wrong command line: the reason and a hint, two lines on standard error.
run "$bin/romwright-mkimage$exe" --board ZEN5110 --frobnicate
[ "$status" = 2 ] || fail "romwright-mkimage with a wrong option exits $status"
[ -z "$out" ] || fail "romwright-mkimage wrote to standard output: $out"
expected="romwright-mkimage: unknown option \"--frobnicate\"
Try 'romwright-mkimage --help'."
[ "$err" = "$expected" ] || fail "romwright-mkimage's complaint: $err"
echo PASS
