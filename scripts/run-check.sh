#!/bin/sh
# Builds the plug-in and runs its check on this machine: prints the report, exits with its status.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" build
cmake -S "$top" -B "$top/build-check" -DCMAKE_BUILD_TYPE=Release \
  -DZORVEX_BUILD_TESTS=OFF -DZORVEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$top/build-check" -j"$(nproc)" >/dev/null
exec "$top/build-check/src/zorvex_app_check"
