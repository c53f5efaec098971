#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Korvelon. All rights reserved.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: firmware
short_description: Update the firmware of Korvel digitizer boards with romwright
version_added: "1.0.0"
description:
  - Runs C(romwright update --json) on the managed host with a firmware file
    that is already there, and reports each board's path, result and the
    sectors erased, written and left alone.
  - Sectors that already hold the image are read, compared and left alone,
    so a second run with the same file writes nothing and reports no change.
  - In check mode runs C(romwright verify) on each selected board instead
    and reports which boards an update would change, erasing and writing
    nothing. In diff mode lists each board's planned ranges and which differ.
  - A failed update fails the task with romwright's message and exit status;
    the boards updated before the failed one stay updated.
options:
  file:
    description:
      - Absolute path of the firmware file (C(.pof) or C(.rpd)) on the managed
        host. Its name must carry the boards' model designation, for example
        C(firmware-ZEN5160.pof).
    type: path
    required: true
  system:
    description:
      - System ID of the boards to update; 0 takes every system.
    type: int
    default: 0
  board:
    description:
      - Board ID within I(system); 0 takes every board of the system (or of
        every system). A board ID needs its I(system).
    type: int
    default: 0
  backup:
    description:
      - Absolute path on the managed host to which the board's whole flash
        is read before anything is erased (with a description in
        I(backup).json), as C(romwright read) does. One board only, so
        I(system) and I(board) are both needed.
      - An existing backup is never replaced; the update is refused instead.
        The board is verified first, and one that already holds the file is
        neither read nor updated, so a second run does not trip over the
        backup of the first.
    type: path
  full:
    description:
      - Erase and write every planned sector, as C(romwright-cli) does, instead
        of leaving alone those that already hold the image. Every run then
        reports a change.
    type: bool
    default: false
  executable:
    description:
      - Path of the C(romwright) program on the managed host. By default the
        one on the C(PATH).
    type: path
  log_dir:
    description:
      - Folder on the managed host where romwright appends its log,
        C(romwright.log). By default the home folder of the user the task
        runs as.
    type: path
notes:
  - Boards updated through the driver's firmware-upgrade service take the
    whole image on every update (that service cannot be read), so they report
    a change on every run, in check mode too. Boards on the flash-sector
    service are compared sector by sector as register boards are.
  - The new firmware is loaded when the managed host is next powered off and
    on; the module does neither.
  - Check mode needs a board's flash to be readable to compare it; it reports
    a file that romwright refuses for a board as a failure, as the update
    would.
requirements:
  - romwright on the managed host, with the maker's device library 7.1 or later.
author:
  - romwright developers (@romwright)
'''

EXAMPLES = r'''
- name: Update every board of the host
  romwright.fleet.firmware:
    file: /srv/firmware/firmware-ZEN5160.pof

- name: Update board 3 of system 3, saving its flash first
  romwright.fleet.firmware:
    file: /srv/firmware/firmware-ZEN5160.pof
    system: 3
    board: 3
    backup: /var/backups/korvel/board-3-3-before.bin

- name: Roll out to a fleet one machine at a time, stopping at the first failure
  hosts: digitizers
  serial: 1
  max_fail_percentage: 0
  tasks:
    - romwright.fleet.firmware:
        file: /srv/firmware/firmware-ZEN5110.rpd
'''

RETURN = r'''
boards:
  description:
    - Each board the update came to, in order, as C(romwright update --json)
      lists it (a failed run lists the boards up to the failed one).
    - In check mode each selected board with what verify found instead
      (I(matches), I(would_change), I(ranges), I(note)).
  returned: always
  type: list
  elements: dict
  contains:
    system_id:
      description: System ID.
      type: int
      sample: 1
    board_id:
      description: Board ID.
      type: int
      sample: 2
    model:
      description: Model designation, or null when the kind is not known.
      type: str
      sample: ZEN5160
    path:
      description: How the board's flash is programmed.
      type: str
      sample: sector mode
    result:
      description: succeeded, failed, refused or stopped (not in check mode).
      type: str
      sample: succeeded
    sectors_erased:
      description: Sectors erased; null where the path does not tell.
      type: int
      sample: 12
    sectors_written:
      description: Sectors written and verified; null where the path does not tell.
      type: int
      sample: 12
    sectors_skipped:
      description: Sectors that already held the image and were left alone.
      type: int
      sample: 1
    error:
      description: Why the board failed, was refused or stopped; null when it succeeded.
      type: str
      sample: Max retries reached.
    matches:
      description: Check mode; whether the board already holds the file (null when it cannot be read).
      type: bool
      sample: false
    would_change:
      description: Check mode; whether an update would write the board.
      type: bool
      sample: true
    ranges:
      description: Check mode; the planned ranges as C(romwright verify --json) gives them.
      type: list
      elements: dict
      sample: [{"begin": 131072, "end": 524288, "matches": false, "first_difference": 131072}]
    note:
      description: Check mode; why a board on the driver's services reports a change either way.
      type: str
      sample: null
msg:
  description: What was done, in a line.
  returned: always
  type: str
  sample: "Updated 2 boards with /srv/firmware/firmware-ZEN5110.rpd: 6 sectors written, 0 already held the image"
rc:
  description: romwright's exit status (on failure too).
  returned: when romwright update ran
  type: int
  sample: 0
'''

import os
import pwd

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.romwright.fleet.plugins.module_utils.romwright import (
    check_selection, nothing_there, romwright_executable, run_romwright, selected_boards)

UPGRADE_SERVICE = 'firmware-upgrade service'


def board_label(entry):
    return 'board %s/%s %s (%s)' % (entry.get('system_id'), entry.get('board_id'), entry.get('model'),
                                    entry.get('path') or entry.get('update_path'))


def wrote(board):
    """Whether the update wrote the board: sectors written, or a service that does not count them."""
    written = board.get('sectors_written')
    if written is None:
        return board.get('result') == 'succeeded'
    return written > 0


class Firmware(object):
    def __init__(self, module):
        self.module = module
        params = module.params
        self.file = params['file']
        self.system = params['system']
        self.board = params['board']
        self.backup = params['backup']
        self.executable = romwright_executable(module)
        self.cwd = params['log_dir'] or pwd.getpwuid(os.getuid()).pw_dir

    def check_params(self):
        check_selection(self.module, self.system, self.board)
        for name in ('file', 'backup'):
            value = self.module.params[name]
            if value is not None and not os.path.isabs(value):
                self.module.fail_json(msg='%s must be an absolute path on the managed host, not %s' % (name, value))
        if self.backup and not (self.system and self.board):
            self.module.fail_json(msg='backup takes one board: give system and board')

    def run(self, args):
        return run_romwright(self.module, self.executable, args, cwd=self.cwd)

    def fail(self, run, **extra):
        result = run.failure()
        result.update(extra)
        self.module.fail_json(msg=run.message(), **result)

    def verified_boards(self):
        """Each selected board with what romwright verify finds on it, reading only."""
        listed = self.run(['list', '--json'])
        if listed.rc != 0 or listed.document is None:
            self.fail(listed)
        missing = nothing_there(listed.document, self.system, self.board)
        if missing:
            self.module.fail_json(msg=missing)
        return [self.verified(entry) for entry in selected_boards(listed.document, self.system, self.board)]

    def verified(self, entry):
        state = dict(system_id=entry['system_id'], board_id=entry['board_id'], model=entry.get('model'),
                     path=entry.get('update_path'), matches=None, would_change=True, ranges=[], note=None)
        if state['path'] == UPGRADE_SERVICE:
            state['note'] = ("the driver's firmware-upgrade service cannot read the flash and takes the whole "
                             "image on every update")
            return state
        verify = self.run(['verify', self.file, '--system=%d' % state['system_id'],
                           '--board=%d' % state['board_id'], '--json'])
        if verify.rc not in (0, 1) or verify.document is None:
            self.fail(verify)
        state['matches'] = bool(verify.document.get('matches'))
        state['ranges'] = verify.document.get('ranges', [])
        state['would_change'] = self.module.params['full'] or not state['matches']
        return state

    def diff(self, states):
        name = os.path.basename(self.file)
        before, after = [], []
        for state in states:
            before.append(board_label(state))
            after.append(board_label(state))
            if state['note'] and not state['ranges']:
                before.append('  not read: %s' % state['note'])
                after.append('  holds %s' % name)
            for span in state['ranges']:
                text = '  0x%08X..0x%08X ' % (span['begin'], span['end'])
                held = text + 'holds %s' % name
                after.append(held)
                if span['matches']:
                    before.append(held)
                else:
                    before.append(text + 'differs from %s at 0x%08X' % (name, span['first_difference']))
        return dict(before_header='flash before', after_header='flash after the update with %s' % self.file,
                    before='\n'.join(before) + '\n', after='\n'.join(after) + '\n')

    def check(self):
        states = self.verified_boards()
        changing = [s for s in states if s['would_change']]
        if changing and self.backup:
            for taken in (self.backup, self.backup + '.json'):
                if os.path.exists(taken):
                    self.module.fail_json(msg='%s exists: romwright refuses to replace a backup' % taken,
                                          boards=states)
        result = dict(changed=bool(changing), boards=states,
                      msg='%d of %d boards would be updated with %s' % (len(changing), len(states), self.file))
        if self.module._diff:
            result['diff'] = self.diff(states)
        self.module.exit_json(**result)

    def update(self):
        states = None
        if self.module._diff or self.backup:
            states = self.verified_boards()
            if self.backup and not any(s['would_change'] for s in states):
                self.module.exit_json(changed=False, boards=states,
                                      msg='%s already holds %s; no backup was taken' % (board_label(states[0]),
                                                                                        self.file))
        args = ['update', '--system=%d' % self.system, '--board=%d' % self.board, '--json']
        if self.module.params['full']:
            args.append('--full')
        if self.backup:
            args.append('--backup=%s' % self.backup)
        args.append(self.file)
        update = self.run(args)
        boards = (update.document or {}).get('boards', [])
        changed = any(wrote(b) for b in boards)
        if update.rc != 0 or update.document is None:
            self.fail(update, boards=boards, changed=changed)
        written = sum(b.get('sectors_written') or 0 for b in boards)
        skipped = sum(b.get('sectors_skipped') or 0 for b in boards)
        result = dict(changed=changed, boards=boards, rc=update.rc,
                      msg='Updated %d board%s with %s: %d sectors written, %d already held the image'
                      % (len(boards), '' if len(boards) == 1 else 's', self.file, written, skipped))
        if states is not None:
            result['diff'] = self.diff(states)
        self.module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            file=dict(type='path', required=True),
            system=dict(type='int', default=0),
            board=dict(type='int', default=0),
            backup=dict(type='path'),
            full=dict(type='bool', default=False),
            executable=dict(type='path'),
            log_dir=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    firmware = Firmware(module)
    firmware.check_params()
    if module.check_mode:
        firmware.check()
    else:
        firmware.update()


if __name__ == '__main__':
    main()
