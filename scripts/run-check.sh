#!/bin/sh
# Builds the plug-in and runs its check on this machine through diag-host: prints the report and
# exits with the host's status (0 clean, 2 "FAIL", 3 "ERROR" in the report; see diag-host --help).
# Arguments go to diag-host, e.g. --format text --verbosity 1. Only the report goes to standard
# output (what installing and building say goes to standard error), so that
#   ./scripts/run-check.sh > report.json
# holds the report alone.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" build >&2
"$top/scripts/build-release.sh" >&2
exec "$top/build-check/tools/diag-host/diag-host" "$@"
