# -*- coding: utf-8 -*-
"""Action: writes fleet.csv and fleet.json on the controller, in the worker itself, and the
software bills of materials the hosts returned into sbom/.

Copying them with modules ran five module processes on the controller (a folder, a stat and a
copy per file), a few seconds per run; this writes the files directly."""

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


SBOM_SUFFIXES = {"cyclonedx": ".cdx.json", "spdx": ".spdx.json"}


def write_sboms(folder, hostvars, result_name="zorvex"):
    """Each host's document as the module returned it, byte for byte, to sbom/HOST.cdx.json or
    .spdx.json. Returns whether any changed, and the hosts whose name cannot be a file name."""
    changed, refused = False, []
    for host in sorted(hostvars):
        result = hostvars[host].get(result_name) or {}
        if "sbom" not in result:
            continue
        if "/" in host or host.startswith(".") or "\0" in host:
            refused.append(host)
            continue
        sbom_folder = os.path.join(folder, "sbom")
        if not os.path.isdir(sbom_folder):
            os.makedirs(sbom_folder, 0o755)
        name = host + SBOM_SUFFIXES.get(result.get("sbom_format"), ".json")
        changed = replace_file(os.path.join(sbom_folder, name),
                               result["sbom"].encode("utf-8")) or changed
    return changed, refused


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("dir",))

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        folder = self._task.args.get("dir")
        if not folder:
            raise AnsibleActionFail("dir is required: the inventory folder on the controller")
        if self._play_context.check_mode:
            result.update(changed=False, msg="Check mode: %s/fleet.csv, fleet.json and sbom/ are "
                          "left as they are." % folder)
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
            sboms_changed, refused = write_sboms(folder, task_vars["hostvars"])
        except (IOError, OSError, AnsibleFilterError) as error:
            raise AnsibleActionFail("cannot write the inventory in %s: %s" % (folder, error))
        if refused:
            result["warnings"] = ["no bill of materials written for %s: a host name with a slash "
                                  "or a leading dot is no file name" % ", ".join(refused)]
        result.update(changed=changed or sboms_changed, rows=len(rows),
                      msg="%d rows in %s/fleet.csv and fleet.json" % (len(rows), folder))
        return result
