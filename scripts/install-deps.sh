#!/usr/bin/env bash
# Installs the Debian packages that romwright needs to build, test and run.
# Does nothing when everything is already there.
#   scripts/install-deps.sh          what scripts/test.sh and scripts/demo.sh need
#   scripts/install-deps.sh --all    also what the fuzz, package and Windows scripts need
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

case "${1:-}" in
  "") ensure_packages "${base_packages[@]}" ;;
  --all) ensure_packages "${base_packages[@]}" "${fuzz_packages[@]}" "${packaging_packages[@]}" \
           "${windows_packages[@]}" googletest "${windows_packaging_packages[@]}" ;;
  *) echo "usage: $0 [--all]" >&2; exit 2 ;;
esac
