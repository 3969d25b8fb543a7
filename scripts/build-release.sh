#!/bin/sh
# Builds the plug-in, zorvex_app_check and diag-host without tests into build-check/, quietly.
# Used by run-check.sh and run-demo.sh.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build-check" -DCMAKE_BUILD_TYPE=Release \
  -DZORVEX_BUILD_TESTS=OFF -DZORVEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$top/build-check" -j"$(nproc)" >/dev/null
