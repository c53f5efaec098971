# -*- coding: utf-8 -*-
# Copyright 2026 Korvelon. All rights reserved.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
name: fleet_record
type: aggregate
short_description: Keep every task result and the play recap in a JSON file, for the fleet test
description:
  - Writes, when the playbook ends, every task result (host, task, status
    and the module's result) and each host's counts to the file named by the
    environment variable FLEET_RECORD. The default output is left as it is.
'''

import json
import os

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'fleet_record'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.results = []

    def _record(self, status, result):
        self.results.append(dict(host=result._host.get_name(), task=result._task.get_name(), status=status,
                                 result=result._result))

    def v2_runner_on_ok(self, result):
        self._record('ok', result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record('failed', result)

    def v2_runner_on_skipped(self, result):
        self._record('skipped', result)

    def v2_runner_on_unreachable(self, result):
        self._record('unreachable', result)

    def v2_playbook_on_stats(self, stats):
        recap = dict((host, stats.summarize(host)) for host in sorted(stats.processed))
        with open(os.environ['FLEET_RECORD'], 'w') as record:
            json.dump(dict(results=self.results, recap=recap), record, default=str, indent=1)
