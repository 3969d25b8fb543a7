#!/bin/sh
# Builds the Debian package (reusing build-package/), fails on any lintian error, then installs it
# with apt, uses and purges it (tests/install/package-test.sh; as root, else skipped).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" test
deb=$("$top/scripts/build-package.sh" | tail -n 1)
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
sh "$top/tests/install/package-test.sh" "$deb" "$top"
