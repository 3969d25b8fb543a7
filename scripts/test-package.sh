#!/bin/sh
# Builds the Debian package (reusing build-package/), fails on any lintian error, then installs it
# with apt, uses and purges it (tests/install/package-test.sh), and has the fleet playbook install
# it on a host over SSH (tests/install/fleet-install-test.sh); as root, else both are skipped.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" test
deb=$("$top/scripts/build-package.sh" | tail -n 1)
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
sh "$top/tests/install/package-test.sh" "$deb" "$top"
sh "$top/tests/install/fleet-install-test.sh" "$deb" "$top"
