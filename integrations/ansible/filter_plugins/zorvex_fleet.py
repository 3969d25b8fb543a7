# -*- coding: utf-8 -*-
"""Filters that turn the zorvex_products results of a play into one fleet inventory."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import csv
import io

COLUMNS = (
    "host", "state", "status", "name", "source", "version", "full_version", "path",
    "product_id", "description", "packages", "architecture", "message",
)

PRODUCT_FIELDS = COLUMNS[3:-1]


def host_rows(host, result):
    """The rows of one host: one per product, or one saying why there are none."""
    if not result or result.get("failed") or result.get("unreachable") or "products" not in result:
        message = (result or {}).get("msg") or "the check did not run on this host"
        return [dict(host=host, state="failed", message=message)]
    if not result["products"]:
        return [dict(host=host, state="ok", status=result["status"], message=result["message"])]
    return [
        dict(host=host, state="ok", status=result["status"],
             **{field: product.get(field) for field in PRODUCT_FIELDS if field in product})
        for product in result["products"]
    ]


def zorvex_fleet_rows(hosts, hostvars, result_name="zorvex"):
    """One row per host and product, hosts in name order; `result_name` is the registered result."""
    rows = []
    for host in sorted(hosts):
        rows.extend(host_rows(host, hostvars[host].get(result_name)))
    empty = dict({column: "" for column in COLUMNS}, status=None, packages=[])
    return [dict(empty, **row) for row in rows]


def zorvex_csv(rows):
    """The rows as CSV with a header line; a product's packages are joined by blanks."""
    text = io.StringIO()
    writer = csv.DictWriter(text, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    for row in rows:
        writer.writerow(dict(row, packages=" ".join(row["packages"])))
    return text.getvalue()


class FilterModule(object):
    def filters(self):
        return {"zorvex_fleet_rows": zorvex_fleet_rows, "zorvex_csv": zorvex_csv}
