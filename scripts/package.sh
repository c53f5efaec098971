#!/usr/bin/env bash
# Builds the Debian package (romwright_<version>-1_<arch>.deb in build/) with
# CPack and checks it with lintian. Uses build/ as scripts/test.sh and
# scripts/demo.sh configure it, so after either it compiles nothing new.
# Installs lintian, desktop-file-utils and scdoc with apt when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
ensure_packages "${base_packages[@]}" "${packaging_packages[@]}"
cmake -S . -B build -G Ninja -DROMWRIGHT_WERROR=ON >/dev/null
cmake --build build --parallel "$(nproc)" --target romwright-cli romwright-gui romwright-mkimage Zenapi \
  man_pages desktop_icons debian_changelog
desktop-file-validate gui/romwright-gui.desktop

rm -f build/romwright_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/romwright_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
# Errors fail the script; warnings and the rest are shown.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "Package: $deb"
