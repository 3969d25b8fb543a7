#!/bin/sh
# Installs the validators that the SBOM tests run, into tests/sbom/node_modules, exactly as
# package-lock.json pins them: the CycloneDX library with the JSON-schema packages it validates
# with, and the package-URL library. Needs node and npm (scripts/install-deps.sh test).
set -eu
cd "$(dirname "$0")"
npm ci --omit=optional --omit=peer --ignore-scripts --no-audit --no-fund
