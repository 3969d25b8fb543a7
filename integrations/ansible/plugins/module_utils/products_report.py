# -*- coding: utf-8 -*-
"""What zorvex.checker.products runs diag-host with and what it makes of the output: shared by the
module (run on the host) and its action (run on the controller, diag-host started over the
connection without Python), so that both return the same result."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import shlex

PRODUCTS_OPTIONS = dict(
    diag_host=dict(type="path", default="/usr/bin/diag-host"),
    installer_root=dict(type="path"),
    extra_args=dict(type="list", elements="str", default=[]),
    all_users=dict(type="bool", default=False),
    root=dict(type="path"),
    policy=dict(type="str"),
    sbom=dict(type="str", choices=["cyclonedx", "spdx"]),
)

# What a policy file is called in diag-host's messages: its line numbers are the policy's, a
# temporary name would only confuse.
POLICY_NAME = "policy"


def audit_mode_args(params, output_format):
    """Where and as whom the check runs: every account's folder too (in the product list only:
    diag-host writes no bill of materials of accounts' installs), an offline root."""
    args = ["--all-users"] if params["all_users"] and output_format == "products" else []
    if params["root"]:
        args += ["--root", params["root"]]
    return args


def diag_host_command(params, output_format, policy_file=None):
    command = [params["diag_host"]] + params["extra_args"]
    if params["installer_root"]:
        command += ["--installer-root", params["installer_root"]]
    if policy_file:
        command += ["--policy", policy_file]
    return command + audit_mode_args(params, output_format) + ["--format", output_format]


def pretty_name(lines):
    """PRETTY_NAME of one os-release file's lines, as systemd reads it (quotes and escapes
    dropped); None when it has none or it does not parse."""
    try:
        for line in lines:
            if line.startswith("PRETTY_NAME="):
                return " ".join(shlex.split(line[len("PRETTY_NAME="):]))
    except ValueError:
        pass
    return None


def missing_message(diag_host):
    return ("%s is not installed (or not executable): install the Zorvex check package on this "
            "host (the fleet playbook does so when zorvex_deb names the .deb), or point diag_host "
            "at its diag-host" % diag_host)


def bill_of_materials(params, rc, out, err):
    """The SBOM facts of a run of diag-host --format SBOM, and a warning when it gave none. A
    check that failed still gives a document that says why (exit statuses 4 and 5), so any status
    but a command-line error keeps it."""
    if out and rc < 64:
        return dict(sbom=out, sbom_format=params["sbom"]), None
    return {}, ("diag-host --format %s gave no document (status %d): %s"
                % (params["sbom"], rc, err.strip() or "no message"))


def read_documents(output):
    """One JSON document per check that ran, one per line; or why there are none."""
    documents = []
    for line in output.splitlines():
        if not line.strip():
            continue
        try:
            documents.append(json.loads(line))
        except ValueError as error:
            return None, "diag-host printed a line that is not JSON (%s): %s" % (error, line)
    if not documents:
        return None, "diag-host ran no check: is the Zorvex check plug-in installed?"
    return documents, None


def sources_of(documents):
    """Per-source health of every check, tagged with its check when several ran."""
    sources = []
    for document in documents:
        reported = document.get("sources") or []
        if isinstance(reported, dict):
            reported = [dict(value, source=name) if isinstance(value, dict)
                        else dict(source=name, state=value)
                        for name, value in reported.items()]
        for source in reported:
            if len(documents) > 1:
                source = dict(source, check=document.get("check", ""))
            sources.append(source)
        # An account whose search failed lacks its products: a failed part of the installer source.
        for part in document.get("users") or []:
            if part.get("failure"):
                sources.append(dict(source="installer", user=part.get("user", ""), state="failed",
                                    found=0, message=part["failure"]))
    return sources


def users_of(documents):
    """The accounts searched with all_users, each with its failure ("" when it completed)."""
    return [part for document in documents for part in document.get("users") or []]


def products_result(facts, command, rc, out, err):
    """The module's result from a run of diag-host --format products: `failed` and `msg` set when
    there is no report to read. `facts` is what was collected besides (where, when, by what)."""
    # 0, 2 and 3 carry a report; anything else means there is none to read.
    if rc not in (0, 2, 3):
        return dict(facts, failed=True, rc=rc, stdout=out, stderr=err, cmd=command,
                    msg="diag-host failed with status %d: %s" % (rc, err.strip() or "no message"))
    documents, why_none = read_documents(out)
    if why_none:
        return dict(facts, failed=True, msg=why_none)
    products = [product for document in documents for product in document["products"]]
    status = max(document["status"] for document in documents)
    message = "\n".join(document["message"] for document in documents if document["message"])
    outdated = [entry for document in documents for entry in document.get("outdated") or []]
    # An audited root names its own system.
    os_name = next((document["os"] for document in documents if document.get("os")), facts["os"])
    return dict(
        facts,
        changed=False,
        products=products,
        status=status,
        message=message,
        outdated=outdated,
        sources=sources_of(documents),
        users=users_of(documents),
        ansible_facts=dict(zorvex_products=products, zorvex_status=status, zorvex_message=message,
                           zorvex_outdated=outdated),
        os=os_name,
    )
