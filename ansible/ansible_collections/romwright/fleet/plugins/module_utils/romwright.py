# -*- coding: utf-8 -*-
# Copyright 2026 Korvelon. All rights reserved.

# What the modules share: finding romwright on the managed host, running it,
# reading its JSON documents, and the boards a selection takes.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os


def romwright_executable(module):
    """The romwright program to run: the module's executable, else romwright on the PATH."""
    executable = module.params.get('executable')
    if not executable:
        return module.get_bin_path('romwright', required=True)
    if not os.path.isfile(executable) or not os.access(executable, os.X_OK):
        module.fail_json(msg='%s is not an executable file' % executable)
    return executable


class Run(object):
    """One run of romwright: its command line, exit status, output and JSON document."""

    def __init__(self, cmd, rc, out, err):
        self.cmd = cmd
        self.rc = rc
        self.out = out
        self.err = err
        self.document = parsed_document(out)

    def message(self):
        """What the program said on standard error, or its exit status when it said nothing."""
        text = (self.err or '').strip()
        if text:
            return text
        return 'romwright %s exited with %d' % (self.cmd[1], self.rc)

    def failure(self):
        """What fail_json reports of a failed run besides the message."""
        return dict(rc=self.rc, cmd=self.cmd, stdout=self.out, stderr=self.err)


def parsed_document(text):
    """The one JSON object romwright writes under --json, or None when there is none."""
    if not text or not text.strip():
        return None
    try:
        document = json.loads(text)
    except ValueError:
        return None
    return document if isinstance(document, dict) else None


def run_romwright(module, executable, args, cwd=None):
    cmd = [executable] + list(args)
    rc, out, err = module.run_command(cmd, cwd=cwd)
    return Run(cmd, rc, out, err)


def check_selection(module, system, board):
    """Refuses IDs the collection does not pass on: negative ones, and a board without its system.

    The programs leave system 0 with a board ID to the device library; a
    module that may erase flash names the system instead of guessing it.
    """
    if system < 0 or board < 0:
        module.fail_json(msg='system and board are IDs from 1, or 0 for all')
    if board and not system:
        module.fail_json(msg='board %d needs its system: give system too' % board)


def selected_boards(listed, system, board):
    """The present boards of a romwright list document that system and board select (0 = all)."""
    chosen = []
    for entry in listed.get('boards', []):
        if not entry.get('present'):
            continue
        if system and entry.get('system_id') != system:
            continue
        if board and entry.get('board_id') != board:
            continue
        chosen.append(entry)
    return chosen


def nothing_there(listed, system, board):
    """Why system and board name no board of the list, or None when they name one (or ask for all)."""
    systems = sorted(set(entry.get('system_id') for entry in listed.get('boards', [])))
    if system and system not in systems:
        return 'romwright list shows no system %d; the systems are %s' % (system, systems or 'none')
    if board and not selected_boards(listed, system, board):
        return 'romwright list shows no board %d in system %d' % (board, system)
    return None
