#!/usr/bin/env bash
# Builds romwright, makes firmware files with the project's image maker, and
# updates every board of the simulated machine (the built-in default) with
# romwright-cli: two boards through the driver's firmware-upgrade service, one
# through the flash-sector service, and four that the engine programs itself
# (two in page mode, two in sector mode).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh
# Configured as scripts/test.sh configures it, so the tests after the demo
# compile only what the demo did not need.
cmake -S . -B build -G Ninja -DROMWRIGHT_WERROR=ON >/dev/null
cmake --build build --parallel "$(nproc)" --target romwright-cli romwright-mkimage Zenapi

demo="$root/build/demo"
mkdir -p "$demo"
# The simulated boards' flash lives with the build and goes with it.
export ZENAPI_SIM_STATE_DIR="$demo/state"
# So does the update history of the demo's runs (romwright history shows it).
export ROMWRIGHT_HISTORY="$demo/history.sqlite"
cd "$demo"
mkimage="$root/build/bin/romwright-mkimage"
cli="$root/build/bin/romwright-cli"

"$mkimage" --board ZEN5190 --out firmware-ZEN5190.rpd --size 2M --seed 11
"$mkimage" --board ZEN5191 --out firmware-ZEN5191.pof --size 1M --seed 12
"$mkimage" --board ZEN5120 --out firmware-ZEN5120.pof --word2 90 --secondary --seed 13
"$mkimage" --board ZEN5110 --out firmware-ZEN5110.rpd --seed 14
"$mkimage" --board ZEN5160 --out firmware-ZEN5160.pof --seed 15
"$mkimage" --board ZEN5170 --out firmware-ZEN5170.rpd --word2 3 --seed 16

run() {
  echo
  echo "\$ romwright-cli $*"
  "$cli" "$@"
}

run update --system 1 firmware-ZEN5190.rpd
run update --system 2 firmware-ZEN5191.pof
run update --system 3 --board 1 firmware-ZEN5120.pof
run update --system 3 --board 2 firmware-ZEN5110.rpd
run update --system 3 --board 3 firmware-ZEN5160.pof
run update --system 3 --board 4 firmware-ZEN5170.rpd

echo
echo "Log: $demo/romwright-cli.log"
echo "Simulated flash: $ZENAPI_SIM_STATE_DIR"
echo "Update history: $ROMWRIGHT_HISTORY"
