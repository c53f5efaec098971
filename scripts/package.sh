#!/usr/bin/env bash
# Builds the Debian package (romwright_<version>-1_<arch>.deb in build/) with
# CPack and checks it with lintian. Uses build/ as scripts/test.sh and
# scripts/demo.sh configure it, so after either it compiles nothing new.
# Installs lintian, desktop-file-utils and scdoc with apt when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

tools=(lintian desktop-file-utils scdoc dpkg-dev fakeroot file)
missing=()
for p in "${tools[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

scripts/install-deps.sh
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
