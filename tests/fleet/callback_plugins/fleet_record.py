# -*- coding: utf-8 -*-
# The playbook test's record of a run: every task result in the order it
# came, and the stats per host, written as JSON to $FLEET_RECORD_FILE at the
# end. (ansible-core has no JSON callback of its own.)
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = """
name: fleet_record
type: aggregate
short_description: writes every task result and the stats of a run to a JSON file
description:
  - For the fleet playbook test only; the file is named by the environment variable FLEET_RECORD_FILE.
requirements:
  - FLEET_RECORD_FILE set
"""

import json
import os

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "aggregate"
    CALLBACK_NAME = "fleet_record"
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.events = []

    def _record(self, outcome, result):
        self.events.append({"task": result._task.get_name(), "host": result._host.get_name(),
                            "outcome": outcome, "result": result._result})

    def v2_runner_on_ok(self, result):
        self._record("ok", result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record("failed", result)

    def v2_runner_on_skipped(self, result):
        self._record("skipped", result)

    def v2_runner_on_unreachable(self, result):
        self._record("unreachable", result)

    def v2_playbook_on_stats(self, stats):
        summary = dict((host, stats.summarize(host)) for host in sorted(stats.processed))
        with open(os.environ["FLEET_RECORD_FILE"], "w") as f:
            json.dump({"events": self.events, "stats": summary}, f, default=str)
