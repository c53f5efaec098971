#!/bin/sh
# The README's usage block of romwright-cli is the program's own --help text.
#   readme_usage.sh <bin dir> <README.md>
# ROMWRIGHT_RUN runs the program (Wine for a Windows build), whose file name
# ends in ROMWRIGHT_EXE (.exe).
set -eu
bin=$1
readme=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/romwright-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The fenced block after the line "`romwright-cli --help`:".
awk '/^`romwright-cli --help`:$/ { found = 1; next }
     found && /^```/ { if (inside) exit; inside = 1; next }
     inside { print }' "$readme" >"$work/readme"
# The program ends its usage with an empty line, which the block leaves out.
# shellcheck disable=SC2086
${ROMWRIGHT_RUN:-} "$bin/romwright-cli${ROMWRIGHT_EXE:-}" --help | tr -d '\r' | sed '${/^$/d;}' >"$work/help"
[ -s "$work/readme" ] || { echo "FAIL: the README has no romwright-cli --help block" >&2; exit 1; }
diff -u "$work/help" "$work/readme" || { echo "FAIL: the README's block differs from --help" >&2; exit 1; }
echo PASS
