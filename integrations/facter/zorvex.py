#!/usr/bin/python3
"""Facter external fact "zorvex": the Zorvex products of this machine and, when a policy file
exists, the ones below its minimum versions, as structured JSON.

Install it executable in an external fact folder, e.g. /etc/puppetlabs/facter/facts.d/ (Puppet's
agent) or /etc/facter/facts.d/ (Debian's facter). Environment, all optional:
  ZORVEX_DIAG_HOST  the program to run (default /usr/bin/diag-host)
  ZORVEX_POLICY     the policy file (default /etc/zorvex/policy; no policy when it does not exist)
  ZORVEX_FACT_ARGS  more arguments for diag-host, split like a shell command line
"""
import json
import os
import shlex
import subprocess
import sys

DIAG_HOST = os.environ.get("ZORVEX_DIAG_HOST", "/usr/bin/diag-host")
POLICY = os.environ.get("ZORVEX_POLICY", "/etc/zorvex/policy")


def run():
    arguments = [DIAG_HOST, "--format", "products"]
    with_policy = os.path.exists(POLICY)
    if with_policy:
        arguments += ["--policy", POLICY]
    arguments += shlex.split(os.environ.get("ZORVEX_FACT_ARGS", ""))
    try:
        done = subprocess.run(arguments, capture_output=True, text=True, timeout=60, check=False)
    except (OSError, subprocess.TimeoutExpired) as failure:
        return {"error": str(failure)}
    # 0, 2 and 3 are the report's own status; anything higher means no product list.
    if done.returncode not in (0, 2, 3):
        return {"error": done.stderr.strip() or "diag-host exited with %d" % done.returncode}
    fact = {"status": 0, "products": [], "message": ""}
    if with_policy:
        fact["outdated"] = []
    for line in done.stdout.splitlines():
        check = json.loads(line)
        fact["status"] = max(fact["status"], check["status"])
        fact["products"] += check["products"]
        if with_policy:
            fact["outdated"] += check.get("outdated", [])
        fact["message"] = "\n".join(filter(None, [fact["message"], check["message"]]))
    return fact


if __name__ == "__main__":
    json.dump({"zorvex": run()}, sys.stdout)
    sys.stdout.write("\n")
