# -*- coding: utf-8 -*-
"""Action: writes fleet.csv and fleet.json on the controller, in the worker itself.

Copying them with modules ran five module processes on the controller (a folder, a stat and a
copy per file), a few seconds per run; this writes both files directly."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import tempfile

from ansible.errors import AnsibleActionFail, AnsibleFilterError
from ansible.plugins.action import ActionBase
from ansible_collections.zorvex.checker.plugins.filter.fleet import zorvex_csv, zorvex_fleet_rows


def read_text(path):
    try:
        with open(path, "rb") as stored:
            return stored.read()
    except (IOError, OSError):
        return None


def replace_file(path, data):
    """Writes `data` whole or not at all: a temporary file in the same folder, renamed over
    `path`. Returns whether the content changed."""
    if read_text(path) == data:
        return False
    folder = os.path.dirname(path)
    handle, temporary = tempfile.mkstemp(prefix=".%s." % os.path.basename(path), dir=folder)
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        os.chmod(temporary, 0o644)
        os.rename(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
    return True


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("dir",))

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        folder = self._task.args.get("dir")
        if not folder:
            raise AnsibleActionFail("dir is required: the inventory folder on the controller")
        if self._play_context.check_mode:
            result.update(changed=False, msg="Check mode: %s/fleet.csv and fleet.json are left "
                          "as they are." % folder)
            return result
        json_path = os.path.join(folder, "fleet.json")
        try:
            # The hosts of this run are those with a result; the others keep their rows.
            rows = zorvex_fleet_rows(task_vars["hostvars"], json_path)
            if not os.path.isdir(folder):
                os.makedirs(folder, 0o755)
            # The CSV first: both are made from the JSON inventory as it was before this run.
            changed = replace_file(os.path.join(folder, "fleet.csv"),
                                   zorvex_csv(rows).encode("utf-8"))
            text = json.dumps(rows, indent=4, separators=(",", ": ")) + "\n"
            changed = replace_file(json_path, text.encode("utf-8")) or changed
        except (IOError, OSError, AnsibleFilterError) as error:
            raise AnsibleActionFail("cannot write the inventory in %s: %s" % (folder, error))
        result.update(changed=changed, rows=len(rows),
                      msg="%d rows in %s/fleet.csv and fleet.json" % (len(rows), folder))
        return result
