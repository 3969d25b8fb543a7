"""The fleet inventory filters: states, rows kept across runs, and CSV read back cell for cell."""

import csv
import io
import json
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../integrations/ansible/plugins/filter"))
import fleet  # noqa: E402

PRODUCT = dict(name="Zorvex Compiler", source="installer", version="2024.2",
               full_version="2024.2.0-95", path="/opt/corva", product_id="zorvex.compiler",
               description="Optimizing compilers")
HOST = dict(collected="2026-12-08T09:00:00Z", host_name="h", os="Debian", diag_host_version="1.0")


def sources(installer_state):
    return [dict(source="installer", state=installer_state, found=1,
                 message="file is not a database" if installer_state == "failed" else ""),
            dict(source="dpkg", state="none", found=0, message=""),
            dict(source="rpm", state="skipped", found=0, message="")]


def result(status=0, installer_state="found"):
    return dict(HOST, products=[PRODUCT], status=status, message="",
                sources=sources(installer_state))


def unescape(cell):
    """What fleet.escape_cell wrote, back to the text."""
    if cell.startswith("'") and cell[1:].startswith(fleet.FORMULA_STARTS):
        cell = cell[1:]
    names = {"\\": "\\", "n": "\n", "r": "\r", "t": "\t"}
    return re.sub(r"\\(x[0-9a-f]{2}|u[0-9a-f]{4}|.)",
                  lambda m: names.get(m.group(1)) or chr(int(m.group(1)[1:], 16)), cell)


class FleetRowsTest(unittest.TestCase):
    def rows(self, hostvars, previous=None):
        return fleet.zorvex_fleet_rows(hostvars, previous)

    def test_state_of_each_host(self):
        cases = [
            ("clean", dict(zorvex=result()), "ok"),
            ("installer source failed, status 0", dict(zorvex=result(0, "failed")), "degraded"),
            ("status 3", dict(zorvex=result(3)), "degraded"),
            ("check failed", dict(zorvex=dict(HOST, failed=True, msg="no diag-host")), "failed"),
            ("unreachable", dict(zorvex=dict(unreachable=True, msg="timed out")), "failed"),
            ("install failed", dict(zorvex=dict(skipped=True),
                                    zorvex_install=dict(failed=True, msg="dpkg error")), "failed"),
        ]
        for name, variables, state in cases:
            with self.subTest(name):
                (row,) = self.rows({"h1": variables})
                self.assertEqual(row["state"], state)
                self.assertTrue(row["collected"])
        (row,) = self.rows({"h1": dict(zorvex_install=dict(failed=True, msg="dpkg error"),
                                       zorvex=dict(skipped=True))})
        self.assertEqual(row["message"], "install failed: dpkg error")
        (row,) = self.rows({"h1": dict(zorvex=result(0, "failed"))})
        self.assertIn("installer: failed, 1 found (file is not a database)",
                      fleet.csv_cell(row, "sources"))

    def test_an_accounts_products_carry_it_and_its_failed_search_shows(self):
        own = dict(PRODUCT, user="alice")
        late = dict(source="installer", user="bob", state="failed", found=0, message="timed out")
        variables = dict(zorvex=dict(result(2), products=[PRODUCT, own],
                                     sources=sources("found") + [late]))
        system, user = self.rows({"h1": variables})
        self.assertEqual((system["user"], user["user"], user["state"]), ("", "alice", "degraded"))
        self.assertIn("installer of bob: failed (timed out)", fleet.csv_cell(user, "sources"))

    def test_outdated_products_name_their_minimum_and_fail_their_host_when_asked(self):
        newer = dict(PRODUCT, name="Zorvex Studio", full_version="2025.1.0-1")
        behind = dict(name="Zorvex Compiler", source="installer", full_version="2024.2.0-95",
                      minimum="2024.10")
        judged = dict(result(), products=[PRODUCT, newer], outdated=[behind])
        self.assertEqual([row["outdated"] for row in self.rows({"h1": dict(zorvex=judged)})],
                         ["2024.10", ""])
        cases = [
            ("not asked", None, []),
            ("asked with -e", "true", ["h1"]),
            ("asked in the inventory", True, ["h1"]),
            ("turned off", "false", []),
        ]
        for name, flag, failed in cases:
            with self.subTest(name):
                variables = dict(zorvex=judged)
                if flag is not None:
                    variables["fail_on_outdated"] = flag
                hostvars = {"h1": variables, "h2": dict(zorvex=result(), fail_on_outdated=True)}
                self.assertEqual(fleet.zorvex_failed_hosts(hostvars), failed)
        self.assertEqual(fleet.zorvex_failure(dict(zorvex=judged)),
                         "outdated Zorvex products (below the policy's minimum): "
                         "Zorvex Compiler (installer) 2024.2.0-95 < 2024.10")
        self.assertEqual(fleet.zorvex_failure(dict(zorvex=dict(failed=True, msg="no diag-host"),
                                                   fail_on_outdated=True)), "no diag-host")
        self.assertEqual(fleet.zorvex_failure(dict(zorvex=dict(skipped=True),
                                                   zorvex_install=dict(failed=True, msg="dpkg"))),
                         "dpkg")

    def test_rows_of_hosts_not_in_the_run_are_kept(self):
        with tempfile.TemporaryDirectory() as scratch:
            stored = os.path.join(scratch, "fleet.json")
            first = self.rows({"a": dict(zorvex=result()), "b": dict(zorvex=result(3))}, stored)
            with open(stored, "w") as out:
                json.dump(first, out)
            # Host "c" is in the inventory but not in this run (--limit a).
            second = self.rows({"a": dict(zorvex=dict(failed=True, msg="gone")), "c": {}}, stored)
            self.assertEqual([(row["host"], row["state"]) for row in second],
                             [("a", "failed"), ("b", "degraded")])
            self.assertEqual(second[1], first[1])
            with open(stored, "w") as out:
                out.write("{")
            with self.assertRaisesRegex(Exception, "cannot read the inventory"):
                self.rows({"a": dict(zorvex=result())}, stored)

    def test_csv_reads_back_cell_for_cell(self):
        hostile = ["=1+2", "+x", "-1", "@SUM(A1)", "'quoted", "a,b", 'say "hi"', "line\nbreak",
                   "cr\r\nlf", "tab\there", "back\\slash\\n", "bell\x07 del\x7f c1\x85",
                   "sep\u2028par\u2029", "plain", "Ünïcødé", ""]
        rows = [dict({column: "" for column in fleet.COLUMNS}, host="h%d" % i, description=text,
                     status=0, packages=["p1", "p2"], sources=[])
                for i, text in enumerate(hostile)]
        text = fleet.zorvex_csv(rows)
        lines = text.split("\r\n")
        self.assertEqual(len(lines), len(rows) + 2)  # the header, and the empty rest after the last
        self.assertEqual(lines[-1], "")
        records = list(csv.reader(io.StringIO(text, newline="")))
        self.assertEqual(records[0], list(fleet.COLUMNS))
        index = fleet.COLUMNS.index("description")
        for record, original in zip(records[1:], hostile):
            self.assertFalse(record[index].startswith(("=", "+", "-", "@")), record[index])
            self.assertEqual(unescape(record[index]), original)
            self.assertEqual(record[fleet.COLUMNS.index("packages")], "p1 p2")


if __name__ == "__main__":
    unittest.main()
