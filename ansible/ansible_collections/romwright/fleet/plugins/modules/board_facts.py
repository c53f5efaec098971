#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Korvelon. All rights reserved.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: board_facts
short_description: Report the Korvel boards of a machine as facts
version_added: "1.0.0"
description:
  - Runs C(romwright list --json) on the managed host and sets the fact
    C(romwright_boards) to its boards, through read-only device-library
    calls only.
  - Adds to each board the latest record of its update history, when the
    host's romwright keeps one (C(romwright history --json)); the fact
    C(romwright_history) says whether it could be read, and why not.
options:
  executable:
    description:
      - Path of the C(romwright) program on the managed host. By default the
        one on the C(PATH).
    type: path
  history:
    description:
      - Whether to ask romwright for its update history.
    type: bool
    default: true
notes:
  - A romwright without the history command, or one whose history cannot be
    read, leaves every board's I(last_update) null and says why in
    C(romwright_history.note); the task does not fail for it.
  - A history record belongs to the board with its serial, or, for a board
    whose serial is not known, to the board with its system and board ID.
requirements:
  - romwright on the managed host.
author:
  - romwright developers (@romwright)
'''

EXAMPLES = r'''
- name: Read the boards of every machine
  romwright.fleet.board_facts:

- name: Show each machine's models
  ansible.builtin.debug:
    msg: "{{ romwright_boards | map(attribute='model') | list }}"
'''

RETURN = r'''
ansible_facts:
  description: The facts set.
  returned: always
  type: dict
  contains:
    romwright_boards:
      description:
        - Each system and board as C(romwright list --json) gives them
          (C(system_id), C(board_id), C(present), C(kind), C(model),
          C(serial), C(fpga_version), C(cpld_version), C(revision),
          C(update_path), C(flash_size)), with C(last_update), the board's
          latest history record or null.
      type: list
      elements: dict
      sample: [{"system_id": 1, "board_id": 1, "present": true, "kind": 11, "model": "ZEN5110",
                "serial": 511001, "fpga_version": "8.14", "cpld_version": "9.14", "revision": "2.0",
                "update_path": "page mode", "flash_size": null, "last_update": null}]
    romwright_history:
      description: Whether the history was read (C(available)) and, when not, why (C(note)).
      type: dict
      sample: {"available": false, "note": "romwright history --json exited with 255"}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.romwright.fleet.plugins.module_utils.romwright import romwright_executable, run_romwright


def history_records(document):
    """The records of a history document (its list "records"), or None when it has none."""
    records = document.get('records')
    if not isinstance(records, list):
        return None
    return [r for r in records if isinstance(r, dict)]


def record_ids(record):
    """The system and board ID of a history record (named system_id and board_id, or system and board)."""
    system = record.get('system_id', record.get('system'))
    board = record.get('board_id', record.get('board'))
    return system, board


class LatestRecords(object):
    """The latest history record of each board, by serial and by system and board ID.

    romwright history lists the newest record first; a later record replaces
    an earlier one only when its time (ISO 8601 text) is later.
    """

    def __init__(self, records):
        self.by_serial = {}
        self.by_ids = {}
        for record in records:
            if record.get('serial') is not None:
                self.keep(self.by_serial, record.get('serial'), record)
            self.keep(self.by_ids, record_ids(record), record)

    @staticmethod
    def keep(latest, key, record):
        kept = latest.get(key)
        when, kept_when = record.get('time'), kept.get('time') if kept else None
        if kept is None or (isinstance(when, str) and isinstance(kept_when, str) and when > kept_when):
            latest[key] = record

    def of(self, board):
        """The board's latest record: by its serial where it has one, else by its IDs; or None."""
        serial = board.get('serial')
        if serial is not None and serial in self.by_serial:
            return self.by_serial[serial]
        return self.by_ids.get((board.get('system_id'), board.get('board_id')))


def read_history(module, executable):
    """The latest record per board, and the fact that says whether the history could be read."""
    run = run_romwright(module, executable, ['history', '--json'])
    if run.rc != 0:
        note = 'romwright history --json exited with %d' % run.rc
        said = (run.err or '').strip().splitlines()
        if said:
            note += ': %s' % said[-1]
        return None, dict(available=False, note=note)
    if run.document is None:
        return None, dict(available=False, note='romwright history --json wrote no JSON document')
    records = history_records(run.document)
    if records is None:
        return None, dict(available=False, note='romwright history --json holds no list of records')
    return LatestRecords(records), dict(available=True, note=None)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            executable=dict(type='path'),
            history=dict(type='bool', default=True),
        ),
        supports_check_mode=True,
    )
    executable = romwright_executable(module)
    listed = run_romwright(module, executable, ['list', '--json'])
    if listed.rc != 0 or listed.document is None:
        module.fail_json(msg=listed.message(), **listed.failure())
    if module.params['history']:
        latest, history = read_history(module, executable)
    else:
        latest, history = None, dict(available=False, note='not asked for')
    boards = []
    for entry in listed.document.get('boards', []):
        board = dict(entry)
        board['last_update'] = latest.of(entry) if latest else None
        boards.append(board)
    module.exit_json(changed=False, ansible_facts=dict(romwright_boards=boards, romwright_history=history))


if __name__ == '__main__':
    main()
