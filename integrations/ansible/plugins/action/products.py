# -*- coding: utf-8 -*-
"""Action of zorvex.checker.products: runs what the module runs, diag-host --version, the bill of
materials and the products, and the host's name, time and os-release, as ONE shell command line
over the connection, without Python on the host, and builds the module's result here.

Starting Python and the module's wrapper on each host cost more than the check itself. What this
cannot do as the module does goes to the module on the host: no pipelining, async, paths the
host's environment expands, arguments that do not validate (the message is the module's)."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import io
import re
import secrets
import shlex

from ansible.module_utils.common.arg_spec import ArgumentSpecValidator
from ansible.module_utils.common.text.converters import to_bytes
from ansible.plugins.action import ActionBase
from ansible.utils.vars import merge_hash
from ansible_collections.zorvex.checker.plugins.module_utils.products_report import (
    PRODUCTS_OPTIONS, POLICY_NAME, bill_of_materials, diag_host_command, missing_message,
    pretty_name, products_result)


def policy_input(policy):
    """Where diag-host reads the policy: its text comes on the command line's standard input, not
    in its words (which any user of the host may list) nor in a file; an empty policy, which
    standard input cannot carry (see run), is an empty file."""
    if policy is None:
        return None
    return "/dev/stdin" if policy else "/dev/null"


# Runs a command as one section of the output, its stdout and stderr each between a line
# "MARK NAME" and a line "MARK NAME STATUS" (the line feeds before them are the framing's: what
# came before may not end its line, the command's output neither).
SECTION_FUNCTION = ('s() { n=$1; shift; printf "\\n%s %s\\n" "$m" "$n"; '
                    'printf "\\n%s %s\\n" "$m" "$n" >&2; "$@"; r=$?; '
                    'printf "\\n%s %s %s\\n" "$m" "$n" $r; '
                    'printf "\\n%s %s %s\\n" "$m" "$n" $r >&2; }')


def shell_line(words):
    return " ".join(shlex.quote(word) for word in words)


def remote_command(params, mark, environment=""):
    """The one command line: the sections host, time, etc_os_release and lib_os_release, then,
    when diag-host is executable, version, sbom (when asked) and products. `environment` is the
    task's, as the shell's assignments."""
    diag_host = shlex.quote(params["diag_host"])
    # Only the products run reads standard input, and only for a policy.
    checks = ["s version %s --version </dev/null" % diag_host]
    if params["sbom"]:
        checks.append("s sbom %s </dev/null"
                      % shell_line(diag_host_command(params, params["sbom"])))
    policy_file = policy_input(params["policy"])
    checks.append("s products %s%s" % (
        shell_line(diag_host_command(params, "products", policy_file)),
        "" if policy_file == "/dev/stdin" else " </dev/null"))
    parts = ["export " + environment] if environment else []
    parts += [
        "m=" + mark,
        SECTION_FUNCTION,
        "s host uname -n",
        "s time date -u +%Y-%m-%dT%H:%M:%SZ",
        "s etc_os_release cat /etc/os-release",
        "s lib_os_release cat /usr/lib/os-release",
        "if [ -x %s ]; then %s; fi" % (diag_host, "; ".join(checks)),
    ]
    return "; ".join(parts)


def sections(text, mark):
    """Each section's text and status by its name."""
    found = {}
    mark = re.escape(mark)
    pattern = re.compile(r"^%s (\w+)\n(.*?)\n%s \1 (\d+)$" % (mark, mark), re.S | re.M)
    for match in pattern.finditer(text):
        found[match.group(1)] = (match.group(2), int(match.group(3)))
    return found


def complete(params, out, err):
    """Whether every section the command line runs is there, on both streams."""
    names = ["host", "time", "etc_os_release", "lib_os_release"]
    if "version" in out:
        names += ["version", "products"] + (["sbom"] if params["sbom"] else [])
    return all(name in out and name in err for name in names)


def os_name(out):
    for name in ("etc_os_release", "lib_os_release"):
        text, rc = out.get(name, ("", 1))
        release = pretty_name(io.StringIO(text, newline=None)) if rc == 0 else None
        if release is not None:
            return release
    return ""


class ActionModule(ActionBase):
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        self._supports_async = True
        result = super(ActionModule, self).run(tmp, task_vars)
        params = self.validated_params()
        # Without pipelining (off, or su, which wants a terminal) the command line would run on a
        # terminal that mixes its two outputs: the module runs as it did.
        if params is None or self._task.async_val or not self._is_pipelining_enabled("new"):
            return self.run_module(result, task_vars)

        mark = "zorvex-" + secrets.token_hex(16)
        # Never empty: standard input is what keeps the connection from giving it a terminal.
        done = self._low_level_execute_command(
            remote_command(params, mark, self._compute_environment_string()), sudoable=True,
            in_data=to_bytes(params["policy"] or "\n", errors="surrogate_or_strict"))
        out, err = sections(done["stdout"], mark), sections(done["stderr"], mark)
        if not complete(params, out, err):
            # The command line did not run to its end (no /bin/sh, a host that is no Unix, a
            # process killed): what it printed is all there is to say.
            result.update(failed=True, rc=done["rc"], module_stdout=done["stdout"],
                          module_stderr=done["stderr"],
                          msg="MODULE FAILURE\nSee stdout/stderr for the exact error")
            return result
        result.update(self.module_result(params, out, err))
        result["invocation"] = dict(module_args=params)
        return result

    def validated_params(self):
        """The task's arguments as the module would see them; None when the module must judge
        them: a path the host's environment expands, or arguments that do not validate."""
        args = self._task.args
        for name, option in PRODUCTS_OPTIONS.items():
            value = args.get(name)
            if option["type"] == "path" and isinstance(value, str) and (
                    value.startswith("~") or "$" in value):
                return None
        validated = ArgumentSpecValidator(PRODUCTS_OPTIONS).validate(args)
        return None if validated.error_messages else validated.validated_parameters

    def run_module(self, result, task_vars):
        wrap_async = self._task.async_val and not self._connection.has_native_async
        result = merge_hash(result, self._execute_module(task_vars=task_vars,
                                                         wrap_async=wrap_async))
        if not wrap_async:
            self._remove_tmp_path(self._connection._shell.tmpdir)
        return result

    @staticmethod
    def module_result(params, out, err):
        """The module's result from the sections of the command line's output."""
        facts = dict(collected=out["time"][0].strip(), host_name=out["host"][0].strip(),
                     os=os_name(out), diag_host_version="")
        if "version" not in out:
            return dict(facts, failed=True, msg=missing_message(params["diag_host"]))
        version, rc = out["version"]
        if rc == 0:
            facts["diag_host_version"] = version.strip()
        warnings = []
        if params["sbom"]:
            sbom, warning = bill_of_materials(params, out["sbom"][1], out["sbom"][0],
                                              err["sbom"][0])
            facts.update(sbom)
            warnings += [warning] if warning else []
        products, rc = out["products"]
        policy_file = policy_input(params["policy"])
        errors = err["products"][0]
        if params["policy"]:
            errors = errors.replace(policy_file, POLICY_NAME)
        result = products_result(facts, diag_host_command(params, "products", policy_file), rc,
                                 products, errors)
        if warnings:
            result["warnings"] = warnings
        # As Ansible gives a module's output, also split into lines.
        for stream in ("stdout", "stderr"):
            if stream in result:
                result[stream + "_lines"] = result[stream].splitlines()
        return result
