#!/bin/sh
# Builds the libFuzzer targets with clang, runs each once on the inputs of its past findings in
# fuzz/regressions/<target>/ (inputs too slow to keep among the seeds, since mutating them costs
# seconds each), then fuzzes it for SECONDS (default 45) on a scratch copy of its checked-in seed
# corpus. Any crash, leak, hang or sanitizer report fails the run; the input that caused it is
# left in build-fuzz/findings/. Prints the executions of every target.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-45}
build="$top/build-fuzz"
"$top/scripts/install-deps.sh" test
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DZORVEX_FUZZ=ON -DZORVEX_BUILD_TESTS=OFF \
  -DZORVEX_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
mkdir -p "$build/findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The targets' own scratch files go there too, and go with it.
export TMPDIR="$scratch"
options="-timeout=10 -rss_limit_mb=2048"
status=0
for corpus in "$top"/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  regressions="$top/fuzz/regressions/$target"
  if [ -d "$regressions" ]; then
    echo "== $target: past findings"
    if ! "$build/fuzz/$target" $options "$regressions"/* >"$scratch/$target.log" 2>&1; then
      tail -n 40 "$scratch/$target.log"
      status=1
    fi
  fi
  cp -r "$corpus" "$scratch/$target"
  echo "== $target: $seconds s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" $options \
      -artifact_prefix="$build/findings/$target-" -print_final_stats=1 "$scratch/$target" \
      2>"$scratch/$target.log"; then
    tail -n 40 "$scratch/$target.log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$scratch/$target.log" || true
done
exit $status
