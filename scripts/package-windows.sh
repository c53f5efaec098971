#!/usr/bin/env bash
# Builds the Windows installer and ZIP with CPack (NSIS and ZIP generators,
# cmake/RomwrightWindowsPackage.cmake) and tests them under Wine
# (tests/windows/installer_test.sh: a silent install into a fresh Wine prefix,
# the installed programs with and without the simulator, a silent uninstall
# that leaves nothing behind, the PATH option, the ZIP's files).
#
#   scripts/package-windows.sh          from the optimised build in build-windows/,
#                                       configured as scripts/test-windows.sh does
#                                       (after it, nothing new compiles):
#                                       build-windows/romwright-<version>-win64.exe
#                                       and .zip
#   scripts/package-windows.sh --smoke  from the light build of
#                                       scripts/test-windows.sh --smoke, in
#                                       build-windows-smoke/, as CI does: the
#                                       installer tested without a second build
#
# Installs the cross compiler, Wine, NSIS, scdoc and groff with apt when they
# are missing. ROMWRIGHT_WINDOWS_BUILD=<folder> builds there instead.
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
say() { echo "package-windows: $* ($((SECONDS - started)) s)"; }
source scripts/lib/windows.sh

windows_packages googletest "${windows_packaging_packages[@]}"
default_build=build-windows
$smoke && default_build=build-windows-smoke
build=${ROMWRIGHT_WINDOWS_BUILD:-$default_build}
case $build in /*) ;; *) build=$root/$build ;; esac
if $smoke; then
  windows_configure "$build" "${windows_smoke_flags[@]}" -DROMWRIGHT_BUILD_TESTS=ON
else
  windows_configure "$build" -DCMAKE_BUILD_TYPE=Release -DROMWRIGHT_BUILD_TESTS=ON
fi
cmake --build "$build" --parallel "$(nproc)" --target romwright-cli romwright romwright-mkimage Zenapi windows_manuals
say "built"

rm -f "$build"/romwright-*-win64.exe "$build"/romwright-*-win64.zip
(cd "$build" && cpack -G "NSIS;ZIP" >/dev/null)
installer=$(ls "$build"/romwright-*-win64.exe)
zip=$(ls "$build"/romwright-*-win64.zip)
say "packed: $(basename "$installer") $(($(stat -c %s "$installer") / 1024)) KiB, $(basename "$zip") $(($(stat -c %s "$zip") / 1024)) KiB"

sh tests/windows/installer_test.sh "$build" "$installer" "$zip"
say "installer tested"
echo "Installer: $installer"
echo "ZIP: $zip"
