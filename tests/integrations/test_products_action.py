"""zorvex.checker.products run both ways on this machine, by its action (one shell command line,
no Python on the host) and by its module (Ansible's module wrapper on the host): the same result
for each case, successes and failures alike.

Usage: test_products_action.py DIAG_HOST"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

CHECKOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
SAMPLE = os.path.join(CHECKOUT, "examples/sample-installation/corva")
DIAG_HOST = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "/usr/bin/diag-host")


def cases(scratch):
    """Each case's name, arguments, and whether it runs as the test account (as root only)."""
    corva = os.path.join(scratch, "corva")
    installed = dict(diag_host=DIAG_HOST, installer_root=corva)
    named = [
        ("products", installed, False),
        ("policy and bill of materials", dict(installed, policy="Zorvex Compiler >= 2025.1\n",
                                              sbom="cyclonedx"), False),
        ("policy that does not parse", dict(installed, policy="# one\nno rule here"), False),
        ("empty policy", dict(installed, policy=""), False),
        ("every account, an offline root", dict(diag_host=DIAG_HOST, all_users=True, root=scratch),
         False),
        ("diag-host missing", dict(diag_host=os.path.join(scratch, "none"), sbom="spdx"), False),
        ("diag-host fails, no document", dict(diag_host="/bin/false", sbom="spdx"), False),
        ("diag-host prints no JSON", dict(diag_host="/bin/echo"), False),
        ("diag-host prints nothing", dict(diag_host="/bin/true"), False),
        ("an argument the module refuses", dict(installed, sbom="xml"), False),
        ("a path the host expands", dict(installed, installer_root="$HOME/../" + corva), False),
        # The account cannot read the root's scratch folder: no products, where root has some.
        ("become the test account", installed, True),
    ]
    return [case for case in named if os.geteuid() == 0 or not case[2]]


PLAYBOOK = """
- hosts: localhost
  gather_facts: false
  vars:
    ansible_become_user: zorvex-test
    ansible_become_method: ansible.builtin.sudo
  tasks:
    - name: action
      zorvex.checker.products: "{{ item.args }}"
      become: "{{ item.become }}"
      loop: "{{ cases }}"
      register: action
      ignore_errors: true
    - name: module
      zorvex_products_module: "{{ item.args }}"
      become: "{{ item.become }}"
      loop: "{{ cases }}"
      register: module
      ignore_errors: true
    - name: results
      ansible.builtin.copy:
        content: "{{ [action.results, module.results] | to_json }}"
        dest: "{{ results }}"
        mode: "0600"
"""


def comparable(result):
    """A result without what differs from run to run: the second it was collected at, the bill of
    materials' serial number and time, and the name of the policy's file in a failed command (the
    module's temporary file)."""
    result = dict(result)
    if "collected" in result:
        result["collected"] = len(result["collected"])
    if "sbom" in result:
        result["sbom"] = re.sub(r'"(serialNumber|timestamp)": "[^"]*"', "", result["sbom"])
    if "cmd" in result:
        result["cmd"] = ["policy" if word.startswith(("/dev/", tempfile.gettempdir()))
                         else word for word in result["cmd"]]
    return result


class ProductsActionTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.scratch)
        corva = os.path.join(self.scratch, "corva")
        shutil.copytree(SAMPLE, corva)
        database = os.path.join(corva, "zorvex-2024.2/packagemanager")
        with open(database + ".sql") as sql:
            subprocess.run(["sqlite3", database + ".db"], stdin=sql, check=True)
        # The collection of this checkout, and its module under a name of its own that no
        # action takes over.
        collection = os.path.join(self.scratch, "collections/ansible_collections/zorvex")
        os.makedirs(collection)
        os.symlink(os.path.join(CHECKOUT, "integrations/ansible"),
                   os.path.join(collection, "checker"))
        library = os.path.join(self.scratch, "library")
        os.mkdir(library)
        shutil.copy(os.path.join(CHECKOUT, "integrations/ansible/plugins/modules/products.py"),
                    os.path.join(library, "zorvex_products_module.py"))

    def run_both(self, case_list):
        playbook = os.path.join(self.scratch, "playbook.yml")
        results = os.path.join(self.scratch, "results.json")
        with open(playbook, "w") as out:
            out.write(PLAYBOOK)
        environment = dict(
            os.environ, HOME=self.scratch, ANSIBLE_LIBRARY=os.path.join(self.scratch, "library"),
            ANSIBLE_COLLECTIONS_PATH=os.path.join(self.scratch, "collections"),
            ANSIBLE_LOCAL_TEMP=os.path.join(self.scratch, "tmp"),
            ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3", ANSIBLE_PIPELINING="true",
            PYTHONDONTWRITEBYTECODE="1")
        done = subprocess.run(
            ["ansible-playbook", "-i", "localhost,", "-c", "local", playbook,
             "-e", json.dumps(dict(cases=case_list, results=results))],
            env=environment, capture_output=True, text=True, timeout=240, check=False)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(results) as written:
            return json.load(written)

    def test_action_returns_what_the_module_returns(self):
        named = cases(self.scratch)
        action, module = self.run_both([dict(args=arguments, become=become)
                                        for _, arguments, become in named])
        for (name, _, _), by_action, by_module in zip(named, action, module):
            with self.subTest(name):
                self.assertEqual(comparable(by_action), comparable(by_module))
        # The cases reach what they are named for.
        by_name = {name: result for (name, _, _), result in zip(named, action)}
        self.assertTrue(by_name["products"]["products"])
        judged = by_name["policy and bill of materials"]
        self.assertTrue(judged["outdated"] and judged["sbom"].startswith("{"))
        self.assertIn("policy:2", by_name["policy that does not parse"]["msg"])
        self.assertIn("not installed", by_name["diag-host missing"]["msg"])
        if os.geteuid() == 0:
            self.assertEqual(by_name["become the test account"]["products"], [])


if __name__ == "__main__":
    unittest.main()
