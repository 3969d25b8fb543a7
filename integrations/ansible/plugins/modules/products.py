#!/usr/bin/python
# -*- coding: utf-8 -*-
"""Ansible module: the Zorvex products installed on a host, as facts."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: products
short_description: List the Zorvex products installed on a host
description:
  - Runs the installed Zorvex check through C(diag-host --format products) and returns the products
    it found, one flat record each, with the check's status code, the health of each product
    source when C(diag-host) reports it, and what was collected where and when.
  - Only reads; supports check mode, in which it runs just the same.
  - With C(policy), also which products are below the minimum versions it sets (C(outdated)); with
    C(sbom), also the host's software bill of materials (C(sbom)).
  - Fails when C(diag-host) is missing, cannot load the check, or the check gives no report.
options:
  diag_host:
    description:
      - The C(diag-host) program to run.
    type: path
    default: /usr/bin/diag-host
  installer_root:
    description:
      - Search this folder instead of C(/var/corva) for the installer's databases.
    type: path
  extra_args:
    description:
      - More arguments for C(diag-host), put before the C(--format) option (a plug-in library to
        load, say).
    type: list
    elements: str
    default: []
  all_users:
    description:
      - Also search every account's own installer folder, each as that account
        (C(diag-host --all-users)); needs root (C(become)). Products found so carry the account
        in C(user).
    type: bool
    default: false
  root:
    description:
      - Audit the file system under this folder instead of the running system (a mounted image, a
        container's root file system, a backup), with C(diag-host --root). Nothing in it is run or
        written; as root it is read through a read-only mount.
    type: path
  policy:
    description:
      - The text of a version policy (one rule a line, C([SOURCE:]NAME >= VERSION)), handed to
        C(diag-host --policy) on its standard input (where the module itself runs on the host, in
        a private temporary file, removed again); the products below their minimum are returned
        as C(outdated). A policy file already on the host can be given with C(extra_args) instead
        (C([--policy, PATH])).
    type: str
  sbom:
    description:
      - Also return the host's software bill of materials in this format, as
        C(diag-host --format cyclonedx) or C(--format spdx) writes it for the same audit; with
        C(all_users), of the system's products only (accounts' own installs are listed in
        C(products) alone).
    type: str
    choices: [cyclonedx, spdx]
attributes:
  check_mode:
    support: full
notes:
  - The status is the one C(diag-host) reads from the report's words, C(3) for C(ERROR), C(2) for
    C(FAIL), else C(0); the module does not fail for it.
  - With pipelining (as the fleet playbook has it), its action runs all of it as one shell command
    line over the connection, without Python on the host, and builds the same result on the
    controller. Without pipelining (or with C(become_method=su)), with C(async), with a path that
    starts with C(~) or holds C($) (the host expands those) or with arguments that do not
    validate, the module runs on the host instead.
author:
  - Zorvex checker developers
"""

EXAMPLES = r"""
- name: Gather the installed Zorvex products
  zorvex.checker.products:
  register: zorvex

- name: Use a diag-host outside /usr/bin and a test installer tree
  zorvex.checker.products:
    diag_host: /opt/zorvex-checker/bin/diag-host
    installer_root: /srv/corva

- name: Every account's own installs too, and an image mounted at /mnt/image
  zorvex.checker.products:
    all_users: true
    root: /mnt/image
  become: true

- name: Judge them against a policy of the controller and bring a CycloneDX document along
  zorvex.checker.products:
    policy: "{{ lookup('ansible.builtin.file', 'policy') }}"
    sbom: cyclonedx
  register: zorvex

- name: Show them
  ansible.builtin.debug:
    var: ansible_facts.zorvex_products
"""

RETURN = r"""
products:
  description: One record per product, in report order, from every check that ran.
  returned: success
  type: list
  elements: dict
  contains:
    name:
      description: The product's name (package products without their trailing blank).
      type: str
    source:
      description: Who installed it, C(installer), C(dpkg) or C(rpm).
      type: str
    version:
      description: The short version.
      type: str
    full_version:
      description: The full version.
      type: str
    path:
      description: The installation folder.
      type: str
    product_id:
      description: The installer's product identifier (installer products only).
      type: str
    description:
      description: The installer's description (installer products only).
      type: str
    packages:
      description: The packages that make the product up (dpkg and rpm products only).
      type: list
      elements: str
    architecture:
      description: The packages' architecture (dpkg and rpm products only).
      type: str
    user:
      description: The account whose own installer folder holds it (with C(all_users) only);
        absent for products installed for the whole system.
      type: str
  sample:
    - name: Zorvex Compiler
      source: installer
      version: "2024.2"
      full_version: 2024.2.0-95
      path: /opt/corva/zorvex/2024.2
      product_id: zorvex.compiler
      description: Optimizing C and C++ compilers
status:
  description: The highest status code of the checks that ran (0, 2 or 3).
  returned: success
  type: int
  sample: 0
message:
  description: Why nothing was found, when a check found no products; empty otherwise.
  returned: success
  type: str
  sample: ""
outdated:
  description:
    - With C(policy), the products below the minimum version of the policy, each with the
      C(minimum) it falls short of, from every check that ran; empty without C(policy).
  returned: success
  type: list
  elements: dict
  sample:
    - name: Zorvex Compiler
      source: installer
      full_version: 2024.2.0-95
      minimum: "2024.10"
sbom:
  description:
    - With C(sbom), the document C(diag-host) printed, exactly (its text is valid UTF-8); also
      when the check failed but C(diag-host) still gave a document, which then says why.
  returned: with sbom, when diag-host gave a document
  type: str
sbom_format:
  description: The format of C(sbom), C(cyclonedx) or C(spdx).
  returned: with sbom, when diag-host gave a document
  type: str
sources:
  description:
    - Per product source, as C(diag-host) reports it (found N, failed with its message, not present,
      not consulted); empty when this C(diag-host) does not report it.
  returned: success
  type: list
  elements: dict
users:
  description:
    - With C(all_users), each account whose folder was searched, with C(failure) empty when its
      search completed and the reason otherwise; empty without C(all_users).
  returned: success
  type: list
  elements: dict
  sample:
    - user: alice
      failure: ""
collected:
  description: When the check ran, in UTC, ISO 8601 to the second.
  returned: always
  type: str
  sample: "2026-12-08T09:00:00Z"
host_name:
  description: The host's own name (its node name).
  returned: always
  type: str
os:
  description: The host's operating system, C(PRETTY_NAME) of its os-release (of the audited root's
    with C(root)).
  returned: always
  type: str
  sample: Debian GNU/Linux 12 (bookworm)
diag_host_version:
  description: What C(diag-host --version) says, empty when it could not run.
  returned: always
  type: str
  sample: diag-host 1.0
ansible_facts:
  description: The same as C(zorvex_products), C(zorvex_status), C(zorvex_message) and
    C(zorvex_outdated).
  returned: success
  type: dict
"""

import os
import shutil
import tempfile
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zorvex.checker.plugins.module_utils.products_report import (
    PRODUCTS_OPTIONS, POLICY_NAME, bill_of_materials, diag_host_command, missing_message,
    pretty_name, products_result)


def run_products(module):
    """diag-host --format products; a policy text goes into a file of a private folder (mkdtemp
    makes it 0700: no other user reads it or puts a file in its place), removed again."""
    if module.params["policy"] is None:
        command = diag_host_command(module.params, "products")
        return (command,) + tuple(module.run_command(command))
    policy_dir = tempfile.mkdtemp(prefix="zorvex-policy.")
    try:
        policy_file = os.path.join(policy_dir, "policy")
        with open(policy_file, "w") as out:
            out.write(module.params["policy"])
        command = diag_host_command(module.params, "products", policy_file)
        rc, out, err = module.run_command(command)
    finally:
        shutil.rmtree(policy_dir, ignore_errors=True)
    return command, rc, out, err.replace(policy_file, POLICY_NAME)


def os_name():
    """PRETTY_NAME of the host's os-release."""
    for path in ("/etc/os-release", "/usr/lib/os-release"):
        try:
            with open(path) as release:
                name = pretty_name(release)
        except (IOError, OSError, ValueError):
            continue
        if name is not None:
            return name
    return ""


def where_and_when(module):
    """What a row needs besides the products: when and where they were collected, and by what."""
    facts = dict(
        collected=time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
        host_name=os.uname()[1],
        os=os_name(),
        diag_host_version="",
    )
    if os.access(module.params["diag_host"], os.X_OK):
        rc, out, dummy = module.run_command([module.params["diag_host"], "--version"])
        if rc == 0:
            facts["diag_host_version"] = out.strip()
    return facts


def main():
    module = AnsibleModule(argument_spec=PRODUCTS_OPTIONS, supports_check_mode=True)
    params = module.params
    facts = where_and_when(module)
    if not os.access(params["diag_host"], os.X_OK):
        module.fail_json(msg=missing_message(params["diag_host"]), **facts)

    if params["sbom"]:
        sbom, warning = bill_of_materials(
            params, *module.run_command(diag_host_command(params, params["sbom"])))
        facts.update(sbom)
        if warning:
            module.warn(warning)
    result = products_result(facts, *run_products(module))
    if result.pop("failed", False):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
