#!/usr/bin/env python3
"""The Ansible collection end to end: three simulated machines on this one.

Each host of the inventory is a local-connection host whose plays get a
simulated machine of their own (description and flash files) through
`environment:`. tests/fleet/rollout.yml reads the boards as facts and then
updates one machine at a time (serial 1, max_fail_percentage 0). Four runs:

  1. check mode with diff: every host would change, no flash byte changes,
     the facts list each machine's boards;
  2. the update: every host changed, every flash holds the image;
  3. the same again: nothing changed (PLAY RECAP changed=0);
  4. a new image with a fault injected into the second host: the first is
     updated, the second fails with romwright's message and exit status, the
     third is not touched.

Exit 77 (skipped) when ansible-playbook is not installed.
  fleet_test.py --bin <build>/bin --lib <build>/lib --source <repository> [--keep]
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
FLASH_SIZE = 0x100000
IMAGE_SIZE = 0x80000
PAGE_MODE_KEPT = 0x20000  # a page-mode update never erases the first 128 KB
HOSTS = ['fleet1', 'fleet2', 'fleet3']

MACHINE = """\
[[system]]
[[system.board]]
name = "{host}-a"
kind = 11
flash_size = 0x100000
[[system.board]]
name = "{host}-b"
kind = 11
flash_size = 0x100000
"""

# Every page write of the second board fails: the update gives up after its retries.
FAULT = """\
[[system.board.fault]]
type = "call"
call = "ZEN5110PageWriteToFlash"
code = 513
"""

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print('FAIL: ' + what, flush=True)
    return condition


class Fleet:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.runs = 0
        self.sim = dict((host, os.path.join(work, host)) for host in HOSTS)

    def board_names(self, host):
        return [host + '-a', host + '-b']

    def flash_path(self, host, board):
        return os.path.join(self.sim[host], 'state', board + '.flash')

    def flash(self, host, board):
        with open(self.flash_path(host, board), 'rb') as f:
            return f.read()

    def flashes(self):
        return dict((board, hashlib.sha256(self.flash(host, board)).hexdigest())
                    for host in HOSTS for board in self.board_names(host))

    def set_up(self):
        for index, host in enumerate(HOSTS):
            os.makedirs(os.path.join(self.sim[host], 'state'))
            self.describe(host, fault=False)
            # A flash that holds neither image, different on every board.
            for n, board in enumerate(self.board_names(host)):
                seed = index * 2 + n + 1
                with open(self.flash_path(host, board), 'wb') as f:
                    f.write(bytes((i * seed + (i >> 9)) & 0xFF for i in range(FLASH_SIZE)))
        self.before = dict((board, self.flash(host, board)) for host in HOSTS for board in self.board_names(host))
        self.images = [self.make_image('v1', 1), self.make_image('v2', 2)]
        inventory = ['[digitizers]']
        inventory += ['%s sim_dir=%s' % (host, self.sim[host]) for host in HOSTS]
        inventory += ['', '[digitizers:vars]', 'ansible_connection=local',
                      'ansible_python_interpreter=/usr/bin/python3',
                      'romwright=%s' % os.path.join(self.args.bin, 'romwright')]
        with open(os.path.join(self.work, 'inventory.ini'), 'w') as f:
            f.write('\n'.join(inventory) + '\n')
        open(os.path.join(self.work, 'ansible.cfg'), 'w').close()

    def describe(self, host, fault):
        with open(os.path.join(self.sim[host], 'machine.toml'), 'w') as f:
            f.write(MACHINE.format(host=host) + (FAULT if fault else ''))

    def make_image(self, version, seed):
        folder = os.path.join(self.work, 'firmware-' + version)
        os.makedirs(folder)
        path = os.path.join(folder, 'firmware-ZEN5110.rpd')
        subprocess.run([os.path.join(self.args.bin, 'romwright-mkimage'), '--board', 'ZEN5110', '--out', path,
                        '--size', hex(IMAGE_SIZE), '--seed', str(seed)], check=True, stdout=subprocess.DEVNULL)
        with open(path, 'rb') as f:
            return path, f.read()

    def environment(self, record):
        env = dict((k, v) for k, v in os.environ.items() if not k.startswith(('ANSIBLE_', 'ZENAPI_')))
        home = os.path.join(self.work, 'ansible-home')
        env.update({
            'ANSIBLE_CONFIG': os.path.join(self.work, 'ansible.cfg'),
            'ANSIBLE_HOME': home,
            'ANSIBLE_LOCAL_TEMP': os.path.join(home, 'tmp'),
            'ANSIBLE_REMOTE_TEMP': os.path.join(home, 'remote-tmp'),
            'ANSIBLE_COLLECTIONS_PATH': os.path.join(self.args.source, 'ansible'),
            'ANSIBLE_CALLBACK_PLUGINS': os.path.join(self.args.source, 'tests', 'fleet', 'callback_plugins'),
            'ANSIBLE_CALLBACKS_ENABLED': 'fleet_record',
            'ANSIBLE_RETRY_FILES_ENABLED': 'false',
            'ANSIBLE_NOCOLOR': '1',
            'FLEET_RECORD': record,
            # The built simulator, whatever library the caller's environment names.
            'LD_LIBRARY_PATH': self.args.lib,
        })
        return env

    def play(self, image, *options):
        self.runs += 1
        record = os.path.join(self.work, 'run%d.json' % self.runs)
        command = ['ansible-playbook', '-i', os.path.join(self.work, 'inventory.ini'),
                   os.path.join(self.args.source, 'tests', 'fleet', 'rollout.yml'),
                   '-e', 'firmware=%s' % image] + list(options)
        started = time.monotonic()
        done = subprocess.run(command, cwd=self.work, env=self.environment(record), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, universal_newlines=True)
        print('== run %d (%s): exit %d in %.1f s' % (self.runs, ' '.join(options) or 'update', done.returncode,
                                                     time.monotonic() - started), flush=True)
        with open(os.path.join(self.work, 'run%d.log' % self.runs), 'w') as f:
            f.write(done.stdout)
        recorded = dict(results=[], recap={})
        if os.path.exists(record):
            with open(record) as f:
                recorded = json.load(f)
        return Run(done.returncode, done.stdout, recorded)


class Run:
    def __init__(self, code, output, recorded):
        self.code = code
        self.output = output
        self.results = recorded['results']
        self.recap = recorded['recap']

    def of(self, task):
        """The task's results, in the order the hosts ran it: {host: (status, result)}."""
        return dict((r['host'], (r['status'], r['result'])) for r in self.results if r['task'] == task)

    def hosts_in_order(self, task):
        return [r['host'] for r in self.results if r['task'] == task]

    def recap_changed(self):
        """changed=N of each host's PLAY RECAP line."""
        line = re.compile(r'^(\S+)\s+:\s+ok=\d+\s+changed=(\d+)\s', re.M)
        return dict((m.group(1), int(m.group(2))) for m in line.finditer(self.output))


def expected_flash(before, image):
    return before[:PAGE_MODE_KEPT] + image[PAGE_MODE_KEPT:IMAGE_SIZE] + before[IMAGE_SIZE:]


def test(fleet):
    (v1, image1), (v2, image2) = fleet.images

    # 1: check mode with diff.
    untouched = fleet.flashes()
    run = fleet.play(v1, '--check', '--diff')
    check(run.code == 0, 'check mode run exits 0, not %d' % run.code)
    check(fleet.flashes() == untouched, 'check mode changes no flash byte')
    facts = run.of('Board facts')
    for host in HOSTS:
        status, result = facts.get(host, ('missing', {}))
        boards = result.get('ansible_facts', {}).get('romwright_boards', [])
        check([(b.get('system_id'), b.get('board_id'), b.get('model'), b.get('update_path')) for b in boards] ==
              [(1, 1, 'ZEN5110', 'page mode'), (1, 2, 'ZEN5110', 'page mode')],
              '%s: the facts list its two boards, not %s' % (host, boards))
        history = result.get('ansible_facts', {}).get('romwright_history', {})
        check(history.get('available') is True or bool(history.get('note')),
              '%s: the history fact is read or says why not: %s' % (host, history))
    updates = run.of('Firmware update')
    for host in HOSTS:
        status, result = updates.get(host, ('missing', {}))
        check(status == 'ok' and result.get('changed') is True, '%s: check mode would change it (%s)' % (host, status))
        check([b.get('would_change') for b in result.get('boards', [])] == [True, True],
              '%s: both boards would change' % host)
        diff = result.get('diff') or {}
        if isinstance(diff, list):
            diff = diff[0] if diff else {}
        check('0x00020000..0x00080000 differs from firmware-ZEN5110.rpd' in diff.get('before', ''),
              '%s: the diff names the differing range: %r' % (host, diff.get('before')))

    # 2: the update.
    run = fleet.play(v1)
    check(run.code == 0, 'update run exits 0, not %d' % run.code)
    check(run.hosts_in_order('Firmware update') == HOSTS, 'the hosts are updated in inventory order')
    check(run.recap_changed() == dict((h, 1) for h in HOSTS), 'every host changed: %s' % run.recap_changed())
    for host in HOSTS:
        status, result = run.of('Firmware update').get(host, ('missing', {}))
        check([(b.get('result'), b.get('sectors_written')) for b in result.get('boards', [])] ==
              [('succeeded', 3), ('succeeded', 3)], '%s: both boards written: %s' % (host, result.get('boards')))
        for board in fleet.board_names(host):
            check(fleet.flash(host, board) == expected_flash(fleet.before[board], image1),
                  '%s holds the image and nothing else changed' % board)

    # 3: the same play again.
    run = fleet.play(v1)
    check(run.code == 0, 'second update run exits 0, not %d' % run.code)
    check(run.recap_changed() == dict((h, 0) for h in HOSTS), 'the second run changes nothing: %s'
          % run.recap_changed())
    for host in HOSTS:
        status, result = run.of('Firmware update').get(host, ('missing', {}))
        check([(b.get('sectors_written'), b.get('sectors_skipped')) for b in result.get('boards', [])] ==
              [(0, 3), (0, 3)], '%s: every sector already held the image' % host)

    # 4: a new image; the second host fails.
    fleet.describe('fleet2', fault=True)
    run = fleet.play(v2)
    check(run.code != 0, 'a failed host fails the run')
    updates = run.of('Firmware update')
    check(run.hosts_in_order('Firmware update') == ['fleet1', 'fleet2'], 'the rollout stops at the failed host: %s'
          % run.hosts_in_order('Firmware update'))
    status, result = updates.get('fleet1', ('missing', {}))
    check(status == 'ok' and result.get('changed') is True, 'fleet1 is updated before the failure')
    status, result = updates.get('fleet2', ('missing', {}))
    check(status == 'failed', 'fleet2 fails its task')
    check(result.get('rc') == 1 and 'Max retries reached.' in result.get('msg', ''),
          "fleet2's task says romwright's message and exit status: %r, %r" % (result.get('msg'), result.get('rc')))
    check([b.get('result') for b in result.get('boards', [])] == ['succeeded', 'failed'],
          "fleet2's first board is updated, its second fails: %s" % result.get('boards'))
    for board in fleet.board_names('fleet1'):
        check(fleet.flash('fleet1', board) == expected_flash(fleet.before[board], image2), '%s holds the new image'
              % board)
    for board in fleet.board_names('fleet3'):
        check(fleet.flash('fleet3', board) == expected_flash(fleet.before[board], image1), '%s is not touched'
              % board)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', required=True)
    parser.add_argument('--lib', required=True)
    parser.add_argument('--source', required=True)
    parser.add_argument('--keep', action='store_true', help='keep the work folder')
    args = parser.parse_args()
    args.bin, args.lib, args.source = (os.path.abspath(p) for p in (args.bin, args.lib, args.source))
    if not shutil.which('ansible-playbook'):
        print('SKIP: ansible-playbook is not installed (Debian package ansible-core; scripts/test.sh installs it)')
        return SKIP
    work = tempfile.mkdtemp(prefix='romwright-fleet.')
    started = time.monotonic()
    fleet = Fleet(args, work)
    try:
        fleet.set_up()
        test(fleet)
    except Exception:
        FAILURES.append('the test itself failed')
        raise
    finally:
        print('== %.1f s in all' % (time.monotonic() - started))
        if FAILURES or args.keep:
            for n in range(1, fleet.runs + 1):
                log = os.path.join(work, 'run%d.log' % n)
                if FAILURES and os.path.exists(log):
                    with open(log) as f:
                        print('---- run %d output ----\n%s' % (n, f.read()))
            print('The work folder is kept: %s' % work)
        else:
            shutil.rmtree(work)
    if FAILURES:
        print('%d check(s) failed' % len(FAILURES))
        return 1
    print('PASS')
    return 0


if __name__ == '__main__':
    sys.exit(main())
