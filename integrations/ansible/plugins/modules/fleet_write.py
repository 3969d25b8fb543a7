#!/usr/bin/python
# -*- coding: utf-8 -*-
"""Documentation of the action zorvex.checker.fleet_write, which runs on the controller."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: fleet_write
short_description: Write the fleet inventory of a play on the controller
description:
  - Writes C(fleet.csv) and C(fleet.json) in a folder on the controller, one row per host and
    product, from the C(zorvex) results that M(zorvex.checker.products) registered on the hosts
    of the play; the rows of hosts without a result are kept from the C(fleet.json) already there.
  - Writes each software bill of materials that M(zorvex.checker.products) returned (its C(sbom))
    byte for byte to C(sbom/HOST.cdx.json) or C(sbom/HOST.spdx.json) in that folder.
  - Each file is replaced whole (a temporary file renamed over it), and only when its content
    changes.
  - Runs on the controller as an action; run it once (C(run_once)).
  - In check mode nothing is written and nothing is reported changed.
options:
  dir:
    description:
      - The inventory folder on the controller; made when missing.
    type: path
    required: true
attributes:
  check_mode:
    support: full
author:
  - Zorvex checker developers
"""

EXAMPLES = r"""
- name: Write the fleet inventory
  zorvex.checker.fleet_write:
    dir: /srv/fleet
  run_once: true
"""

RETURN = r"""
rows:
  description: How many rows were written.
  returned: success, not in check mode
  type: int
  sample: 8
"""

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(argument_spec=dict(dir=dict(type="path", required=True)))
    module.fail_json(msg="zorvex.checker.fleet_write runs on the controller as an action only")


if __name__ == "__main__":
    main()
