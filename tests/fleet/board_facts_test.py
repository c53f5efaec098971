#!/usr/bin/env python3
"""romwright.fleet.board_facts run directly (as Ansible runs a module, its
arguments in a file) against a stand-in romwright: a script that answers
list --json with two boards and history --json with what the case gives.

The history command comes with another branch; these cases hold the module
to the records it reads: the newest record of each board, found by serial or
else by IDs, and a note instead of a failure when there is no history.

Exit 77 (skipped) when ansible-core is not installed.
  board_facts_test.py <collections folder>   (the folder holding ansible_collections/)
"""

import json
import os
import subprocess
import sys
import tempfile

SKIP = 77

LIST = {'schema_version': 1, 'command': 'list', 'boards': [
    {'system_id': 1, 'board_id': 1, 'present': True, 'kind': 11, 'model': 'ZEN5110', 'serial': 511001},
    {'system_id': 1, 'board_id': 2, 'present': True, 'kind': 25, 'model': 'ZEN5160', 'serial': None},
]}

# Newest first, as romwright history lists them.
# Board 511001 sat in slot 2/1 when it was last updated; the board updated
# in slot 1/1 since then has been taken out.
RECORDS = [
    {'time': '2026-12-08T10:00:00Z', 'system': 1, 'board': 2, 'serial': None, 'result': 'failed'},
    {'time': '2026-12-08T09:30:00Z', 'system': 1, 'board': 1, 'serial': 511999, 'result': 'succeeded'},
    {'time': '2026-12-08T09:00:00Z', 'system': 2, 'board': 1, 'serial': 511001, 'result': 'succeeded'},
    {'time': '2026-12-08T08:00:00Z', 'system': 1, 'board': 2, 'serial': None, 'result': 'succeeded'},
]

STAND_IN = """#!/bin/sh
case "$1" in
  list) cat "{folder}/list.json" ;;
  history) [ -f "{folder}/history.json" ] || {{ echo "Arguments did not match expected patterns" >&2; exit 255; }}
           cat "{folder}/history.json" ;;
  *) exit 2 ;;
esac
"""

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print('FAIL: ' + what)


def run_module(collections, folder, history):
    with open(os.path.join(folder, 'list.json'), 'w') as f:
        json.dump(LIST, f)
    history_file = os.path.join(folder, 'history.json')
    if history is None:
        if os.path.exists(history_file):
            os.remove(history_file)
    else:
        with open(history_file, 'w') as f:
            json.dump(history, f)
    arguments = os.path.join(folder, 'arguments.json')
    with open(arguments, 'w') as f:
        json.dump({'ANSIBLE_MODULE_ARGS': {'executable': os.path.join(folder, 'romwright')}}, f)
    module = os.path.join(collections, 'ansible_collections', 'romwright', 'fleet', 'plugins', 'modules',
                          'board_facts.py')
    env = dict(os.environ, PYTHONPATH=collections, PYTHONDONTWRITEBYTECODE='1')
    done = subprocess.run(['/usr/bin/python3', module, arguments], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True)
    try:
        return json.loads(done.stdout)
    except ValueError:
        FAILURES.append('the module wrote no JSON result')
        print(done.stdout, done.stderr)
        return {}


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if subprocess.run(['/usr/bin/python3', '-c', 'import ansible'], stderr=subprocess.DEVNULL).returncode != 0:
        print('SKIP: ansible-core is not installed (scripts/test.sh installs it)')
        return SKIP
    collections = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix='romwright-board-facts.') as folder:
        stand_in = os.path.join(folder, 'romwright')
        with open(stand_in, 'w') as f:
            f.write(STAND_IN.format(folder=folder))
        os.chmod(stand_in, 0o755)

        result = run_module(collections, folder, {'schema_version': 1, 'command': 'history', 'records': RECORDS})
        facts = result.get('ansible_facts', {})
        boards = facts.get('romwright_boards', [])
        check(result.get('changed') is False and not result.get('failed'), 'facts change nothing: %s' % result)
        check([b.get('serial') for b in boards] == [511001, None], 'both boards are listed: %s' % boards)
        check(facts.get('romwright_history') == {'available': True, 'note': None},
              'the history was read: %s' % facts.get('romwright_history'))
        latest = [(b.get('last_update') or {}).get('time') for b in boards]
        check(latest == ['2026-12-08T09:00:00Z', '2026-12-08T10:00:00Z'],
              "each board's newest record, by serial or else by IDs: %s" % latest)

        result = run_module(collections, folder, None)
        facts = result.get('ansible_facts', {})
        history = facts.get('romwright_history', {})
        check(not result.get('failed') and len(facts.get('romwright_boards', [])) == 2,
              'without a history the boards are still listed: %s' % result)
        check(history.get('available') is False and 'exited with 255: Arguments did not match' in (history.get('note')
                                                                                                 or ''),
              'without a history the note says why: %s' % history)
        check([b.get('last_update') for b in facts.get('romwright_boards', [])] == [None, None],
              'without a history no board has a last update')
    if FAILURES:
        return 1
    print('PASS')
    return 0


if __name__ == '__main__':
    sys.exit(main())
