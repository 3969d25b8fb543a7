#!/bin/sh
# Builds everything and runs all tests. With --sanitize, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails the run). With --thread, only the concurrency test,
# built with ThreadSanitizer in build-tsan/ (any report fails the run).
# It installs the Debian packages the tests need (scripts/install-deps.sh test: it says which, and
# starts and enables none of their services); as root, the tests create the unprivileged account
# zorvex-test and three accounts for the audit tests, removed again at the end unless they were
# there before. The SBOM tests' validators are installed from npm into tests/sbom/node_modules.
# The daemons the tests start (sshd, node_exporter, icinga2) listen on loopback addresses only and
# are stopped by the tests.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
# The accounts the tests create: zorvex-test, and the three whose own installer folders the
# audit tests search.
test_users="zorvex-test zorvex-audit-a zorvex-audit-b zorvex-audit-c"
created=""
if [ "$(id -u)" -eq 0 ]; then
  for account in $test_users; do
    id -u "$account" >/dev/null 2>&1 || created="$created $account"
  done
fi
if [ -n "$created" ]; then
  echo "The tests create the accounts$created (with their home folders); they are removed at the end."
  # shellcheck disable=SC2154
  trap 'code=$?; for account in $created; do userdel --remove "$account" 2>/dev/null || true; done; exit $code' EXIT
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
# The SBOM tests' validators, pinned in tests/sbom/package-lock.json, from the npm registry.
if [ ! -d "$top/tests/sbom/node_modules" ] && command -v npm >/dev/null 2>&1; then
  "$top/tests/sbom/install-validators.sh"
fi
cmake -S "$top" -B "$build" $options
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
