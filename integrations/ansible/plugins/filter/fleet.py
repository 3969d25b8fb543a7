# -*- coding: utf-8 -*-
"""Filters that turn the zorvex.checker.products results of a play into one fleet inventory."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import csv
import io
import json
import os
import time
import unicodedata

from ansible.errors import AnsibleFilterError

COLUMNS = (
    "host", "state", "status", "name", "source", "version", "full_version", "path",
    "product_id", "description", "packages", "architecture", "message",
    "sources", "collected", "host_name", "os", "diag_host_version",
)

# The account whose own installer folder holds the product (all_users); empty for the system's.
USER_COLUMNS = ("user",)
COLUMNS += USER_COLUMNS
# The policy's minimum that the product falls below; empty when it does not, or without a policy.
COLUMNS += ("outdated",)

PRODUCT_FIELDS = COLUMNS[3:12] + USER_COLUMNS
HOST_FIELDS = ("collected", "host_name", "os", "diag_host_version")

# A spreadsheet runs a cell that begins with one of these as a formula; "'" is in the list so that
# the one leading "'" added before them can always be taken off again.
FORMULA_STARTS = ("=", "+", "-", "@", "'")
ESCAPES = {"\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t"}


# States of a source that did not answer: it failed, or the check stopped before it was asked.
DOWN_STATES = ("failed", "unknown")


def source_down(source):
    return source.get("state") in DOWN_STATES


def describe_source(source):
    """One source's health in words: `installer: failed, 1 found (its message)`, `dpkg: found 2`."""
    name = source.get("source", "?")
    if source.get("check"):
        name = "%s %s" % (source["check"], name)
    if source.get("user"):
        name = "%s of %s" % (name, source["user"])
    words = str(source.get("state", ""))
    if source.get("found") or source.get("state") == "found":
        words += (" %d" if source.get("state") == "found" else ", %d found") % source.get("found", 0)
    if source.get("message"):
        words += " (%s)" % source["message"]
    return "%s: %s" % (name, words)


def failure_row(host, reason, facts):
    return dict({field: facts.get(field) or "" for field in HOST_FIELDS},
                host=host, state="failed", message=reason,
                collected=facts.get("collected") or time.strftime("%Y-%m-%dT%H:%M:%SZ",
                                                                  time.gmtime()))


def host_rows(host, result, install):
    """The rows of one host: one per product, or one saying why there are none.

    A host whose check gave a report but with a failed source or a status other than 0 is
    `degraded`, never `ok`: its list may lack products."""
    if install and install.get("failed"):
        return [failure_row(host, "install failed: %s" % (install.get("msg") or "no message"),
                            install)]
    if not result or result.get("failed") or result.get("unreachable") or "products" not in result:
        reason = (result or {}).get("msg") or "the check did not run on this host"
        return [failure_row(host, "check failed: %s" % reason, result or {})]
    sources = result.get("sources") or []
    degraded = result["status"] != 0 or any(source_down(source) for source in sources)
    common = dict({field: result.get(field, "") for field in HOST_FIELDS},
                  host=host, state="degraded" if degraded else "ok", status=result["status"],
                  sources=sources, message=result["message"])
    if not result["products"]:
        return [common]
    minimums = {outdated_key(entry): entry.get("minimum", "")
                for entry in result.get("outdated") or []}
    return [
        dict(common, outdated=minimums.get(outdated_key(product), ""),
             **{field: product.get(field) for field in PRODUCT_FIELDS if field in product})
        for product in result["products"]
    ]


def outdated_key(product):
    """What names a product in the module's `outdated` list."""
    return (product.get("name"), product.get("source"), product.get("full_version"))


def previous_rows(path):
    """The rows of the inventory last written there, none when there is none yet."""
    if not path or not os.path.exists(path):
        return []
    try:
        with open(path) as stored:
            rows = json.load(stored)
        if not isinstance(rows, list) or not all(isinstance(row, dict) and "host" in row
                                                 for row in rows):
            raise ValueError("not a list of rows with a host")
    except (IOError, OSError, ValueError) as error:
        raise AnsibleFilterError("cannot read the inventory %s to keep the rows of the hosts not "
                                 "in this run (%s): move it away to start a new one"
                                 % (path, error))
    return rows


def zorvex_fleet_rows(hostvars, previous=None, result_name="zorvex",
                      install_name="zorvex_install"):
    """One row per host and product, hosts in name order.

    The hosts of this run are those with the registered result `result_name`; the rows of the
    other hosts come from the JSON inventory `previous`, as they were (so that a run with --limit
    updates only its own hosts)."""
    results = {}
    for host in hostvars:
        variables = hostvars[host]
        if result_name in variables:
            results[host] = (variables.get(result_name), variables.get(install_name))
    rows = [row for row in previous_rows(previous) if row["host"] not in results]
    for host, (result, install) in results.items():
        rows.extend(host_rows(host, result, install))
    empty = dict({column: "" for column in COLUMNS}, status=None, packages=[], sources=[])
    # Stable, so that a host's products keep their report order.
    return sorted((dict(empty, **row) for row in rows), key=lambda row: row["host"])


def fails_on_outdated(variables):
    """The host's `fail_on_outdated`, from -e or the inventory; -e gives it as text."""
    value = variables.get("fail_on_outdated", False)
    return value is True or str(value).lower() in ("true", "yes", "on", "1")


def zorvex_failed_hosts(hostvars, result_name="zorvex", install_name="zorvex_install"):
    """The hosts of this run whose install or check failed (or that were unreachable), and those
    with outdated products where `fail_on_outdated` is set."""
    rows = zorvex_fleet_rows(hostvars, None, result_name, install_name)
    return sorted({row["host"] for row in rows
                   if row["state"] == "failed"
                   or row["outdated"] and fails_on_outdated(hostvars[row["host"]])})


def zorvex_failure(variables, result_name="zorvex", install_name="zorvex_install"):
    """Why a host that zorvex_failed_hosts names fails: its install, its check, or the products
    below the policy's minimum, each named."""
    install = variables.get(install_name) or {}
    result = variables.get(result_name) or {}
    if install.get("failed"):
        return install.get("msg") or "the install failed"
    if result.get("failed") or result.get("unreachable") or "products" not in result:
        return result.get("msg") or "the check did not run"
    return "outdated Zorvex products (below the policy's minimum): " + "; ".join(
        "%s (%s) %s < %s" % (entry.get("name"), entry.get("source"), entry.get("full_version"),
                             entry.get("minimum"))
        for entry in result.get("outdated") or [])


def escape_cell(value):
    """A cell as one line of plain text that no spreadsheet runs as a formula.

    Backslash and control characters become escapes (`\\\\`, `\\n`, `\\r`, `\\t`, `\\xHH`,
    `\\uHHHH`), so that a record stays one physical line and the text can be read back exactly;
    a cell that begins with a formula character gets a `'` before it."""
    out = []
    for char in value:
        if char in ESCAPES:
            out.append(ESCAPES[char])
        elif unicodedata.category(char) in ("Cc", "Zl", "Zp"):
            out.append("\\x%02x" % ord(char) if ord(char) < 0x100 else "\\u%04x" % ord(char))
        else:
            out.append(char)
    text = "".join(out)
    return "'" + text if text.startswith(FORMULA_STARTS) else text


def csv_cell(row, column):
    value = row.get(column)
    if value is None:
        return ""
    if column == "packages":
        value = " ".join(value)
    elif column == "sources":
        value = "; ".join(describe_source(source) for source in value)
    return escape_cell(str(value))


def zorvex_csv(rows):
    """The rows as CSV (RFC 4180: CRLF line ends, a header line), one physical line per row."""
    text = io.StringIO()
    writer = csv.writer(text, lineterminator="\r\n")
    writer.writerow(COLUMNS)
    for row in rows:
        writer.writerow([csv_cell(row, column) for column in COLUMNS])
    return text.getvalue()


class FilterModule(object):
    def filters(self):
        return {"fleet_rows": zorvex_fleet_rows, "fleet_csv": zorvex_csv,
                "fleet_failed_hosts": zorvex_failed_hosts, "fleet_failure": zorvex_failure}
