#!/usr/bin/env bash
# ansible-test sanity on the Ansible collection (ansible/ansible_collections/romwright/fleet).
#   scripts/fleet-sanity.sh         the sanity tests that run offline, ansible-doc on each
#                                   module and the check of its options against its argument definitions
#   scripts/fleet-sanity.sh --all   every sanity test: most install pinned linters from PyPI
#                                   into virtual environments, so this needs the network
#   scripts/fleet-sanity.sh --test  the offline tests, for CTest: exit 77 (skipped) instead
#                                   of installing ansible-core when it is missing
# ansible-test runs on a copy of the collection in a temporary folder (it
# wants the collection in a path ending in ansible_collections/romwright/fleet
# and writes its results under the collection), with HOME there too (its
# caches and virtual environments go to ~/.ansible/test).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
if [ "$mode" = "--test" ]; then
  command -v ansible-test >/dev/null || { echo "SKIP: ansible-test is not installed (Debian package ansible-core)"; exit 77; }
else
  source scripts/lib/packages.sh
  ensure_packages ansible-core
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/romwright-fleet-sanity.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ansible_collections/romwright" "$work/home"
cp -r ansible/ansible_collections/romwright/fleet "$work/ansible_collections/romwright/"

# The tests ansible-test runs without installing anything. The others
# (ansible-doc, import, pep8, pylint, runtime-metadata, validate-modules,
# yamllint) install pinned packages from PyPI first; pslint needs PowerShell
# and shellcheck is skipped without shellcheck.
offline=(action-plugin-docs changelog compile empty-init future-import-boilerplate ignores line-endings
         metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys no-dict-itervalues
         no-get-exception no-illegal-filenames no-main-display no-smart-quotes no-unicode-literals
         replace-urlopen shebang symlinks use-argspec-type-path use-compat-six)
python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
selection=()
if [ "$mode" != "--all" ]; then
  for test in "${offline[@]}"; do selection+=(--test "$test"); done
fi
(cd "$work/ansible_collections/romwright/fleet" && HOME="$work/home" ansible-test sanity --local --python "$python" "${selection[@]}")

# What validate-modules and ansible-doc check, as far as it can be checked offline.
ANSIBLE_COLLECTIONS_PATH="$work" ANSIBLE_HOME="$work/home/.ansible" \
  ansible-doc romwright.fleet.firmware romwright.fleet.board_facts >/dev/null
/usr/bin/python3 tests/fleet/module_docs_test.py "$work"
echo "fleet sanity: passed"
