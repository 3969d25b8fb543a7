#!/bin/sh
# Times whole runs of the check against the bare command lines that such a run executes, on the
# same generated data, alternately, and prints the median times and their ratio.
#
# Data: a dpkg admin directory with 1,000 family packages among 3,000 (DPKG_ADMINDIR) and 10
# installer databases of 100 components each, with their manifests. The check runs in a minimal
# host that points the library's system-wide installer directory at that data. The bare side is
# a shell script that runs the same command lines, each through its own "/bin/sh -c" and read
# through a pipe, as popen does.
#
# Usage: bench/compare_run.sh [ROUNDS]   (default 41; BUILD_DIR overrides build-bench/)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-bench}
rounds=${1:-41}

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZORVEX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target zorvex_checker zorvex_bench_data zorvex_bench_host \
  zorvex_compare_runs >/dev/null

data=$(mktemp -d "${TMPDIR:-/tmp}/zorvex-run.XXXXXX")
trap 'rm -rf "$data"' EXIT INT TERM
"$build/bench/zorvex_bench_data" "$data" 1000 2000 10 100
export DPKG_ADMINDIR="$data/dpkg"
root="$data/installer"
library="$build/src/libzorvex_checker.so"
host="$build/bench/zorvex_bench_host"

# Single-quotes a text for the shell.
quote() {
  printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

# The bare script: the command lines of one run, in the order the library runs them, each through
# its own shell, its output read through a pipe and kept.
echo '#!/bin/sh' >"$data/bare.sh"
add() {
  printf 'out=$(/bin/sh -c %s)\n' "$(quote "$1")" >>"$data/bare.sh"
}
# GetOsType's probe for one package manager: which, or the shell's own test where which is
# missing. Succeeds when the manager is there.
probe() {
  add "which $1 2>/dev/null"
  status=0
  /bin/sh -c "which $1 2>/dev/null" >/dev/null || status=$?
  if [ "$status" -eq 127 ]; then
    add "command -v $1 >/dev/null 2>&1"
    /bin/sh -c "command -v $1 >/dev/null 2>&1"
    return
  fi
  [ "$status" -eq 0 ]
}
add "find $(quote "$root") -name 'packagemanager.db' -type f 2>/dev/null"
if [ "$(id -u)" -ne 0 ]; then
  home=$(getent passwd "$(id -u)" | cut -d: -f6)
  add "find $(quote "$home/corva") -name 'packagemanager.db' -type f 2>/dev/null"
fi
tab=$(printf '\t')
rpm_query="rpm -q -a --qf '%{Name}$tab%{Version}$tab%{Arch}$tab%{Summary}$tab:%{Vendor}
' | grep '$tab:Corva'"
if probe dpkg; then
  add "dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep -E '^(ii|hi) '"
  probe dpkg || true
elif probe rpm; then
  probe dpkg || true
  probe rpm && add "$rpm_query"
else
  probe dpkg || true
  probe rpm || true
fi

echo "Command lines of one run:"
tail -n +2 "$data/bare.sh"
if command -v strace >/dev/null 2>&1; then
  # The shells the library started, as strace shows their arguments.
  strace -f -qq -e trace=execve -s 4096 -o "$data/trace" "$host" "$library" "$root" >/dev/null || :
  ran=$(grep -c 'execve("/bin/sh", \["sh", "-c"' "$data/trace" || :)
  listed=$(grep -c '^out=' "$data/bare.sh")
  echo "Shells started by the library: $ran; command lines in the bare script: $listed"
fi

status=0
"$host" "$library" "$root" >"$data/report" || status=$?
echo "Report: $(wc -c <"$data/report") bytes, status $status, $(grep -c '"Product ID"' "$data/report") installer products, $(grep -c '"Packages"' "$data/report") dpkg products"

"$build/bench/zorvex_compare_runs" "$rounds" "$host" "$library" "$root" -- /bin/sh "$data/bare.sh" |
  sed -e 's/^first /whole run, /' -e 's/^second /bare command lines, /'
