#!/bin/sh
# Builds everything and runs all tests. With --sanitize, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails the run).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
options="-DZORVEX_BUILD_TESTS=ON -DZORVEX_BUILD_BENCHMARKS=ON"
if [ "${1:-}" = "--sanitize" ]; then
  build="$top/build-sanitize"
  options="$options -DZORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
"$top/scripts/install-deps.sh" test
cmake -S "$top" -B "$build" $options
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
