#!/bin/sh
# Builds everything and runs all tests. With --sanitize, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails the run). With --thread, only the concurrency test,
# built with ThreadSanitizer in build-tsan/ (any report fails the run).
# It installs the Debian packages the tests need (scripts/install-deps.sh test: it says which, and
# starts and enables none of their services); as root, the tests create the unprivileged account
# zorvex-test, which is removed again at the end unless it was there before. The daemons the tests
# start (sshd, node_exporter) listen on loopback addresses only and are stopped by the tests.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
test_user=zorvex-test
if [ "$(id -u)" -eq 0 ] && ! id -u "$test_user" >/dev/null 2>&1; then
  echo "The tests create the account $test_user (and /home/$test_user); it is removed at the end."
  # shellcheck disable=SC2154
  trap 'code=$?; userdel --remove "$test_user" 2>/dev/null || true; exit $code' EXIT
  trap 'exit 130' INT TERM
fi
build="$top/build"
options="-DZORVEX_BUILD_TESTS=ON -DZORVEX_BUILD_BENCHMARKS=ON"
case "${1:-}" in
  --sanitize)
    build="$top/build-sanitize"
    options="$options -DZORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    ;;
  --thread)
    build="$top/build-tsan"
    "$top/scripts/install-deps.sh" test
    cmake -S "$top" -B "$build" -DZORVEX_THREAD_SANITIZE=ON -DZORVEX_BUILD_TESTS=ON \
      -DZORVEX_BUILD_BENCHMARKS=OFF
    cmake --build "$build" -j"$(nproc)" --target concurrency_test
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" "$build/tests/concurrency_test"
    exit 0
    ;;
esac
"$top/scripts/install-deps.sh" test
cmake -S "$top" -B "$build" $options
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
