#!/bin/sh
# Runs the check on the sample installation in examples/sample-installation: an installer
# database (made here from its SQL script) with manifests, and a dpkg database. Shows products of
# both sources, as an indented tree with details unless other diag-host arguments are given.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" demo
"$top/scripts/build-release.sh"

# A fresh copy, so that the generated database never lands in the source tree.
demo="$top/build-check/sample-installation"
rm -rf "$demo"
cp -R "$top/examples/sample-installation" "$demo"
cache="$demo/corva/zorvex-2024.2"
sqlite3 "$cache/packagemanager.db" <"$cache/packagemanager.sql"
mkdir -p "$demo/dpkg/info" "$demo/dpkg/updates"

[ $# -gt 0 ] || set -- --format text --verbosity 1
DPKG_ADMINDIR="$demo/dpkg" exec "$top/build-check/tools/diag-host/diag-host" \
  --installer-root "$demo/corva" "$@"
