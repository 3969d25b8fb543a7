#!/bin/sh
# Times whole runs of the check against the bare command lines that such a run executes, on the
# same generated data, alternately, and prints the median times and their ratio.
#
# Data: a dpkg admin directory with 1,000 family packages among 3,000 (DPKG_ADMINDIR) and 10
# installer databases of 100 components each, with their manifests; other sizes as arguments (a
# small machine: 41 5 20 1 3). The check runs in a minimal host that points the library's
# system-wide installer directory at that data. The bare side is a shell script that runs the same
# command lines one after another, each through its own "/bin/sh -c" and read through a pipe, as
# popen does.
#
# Usage: bench/compare_run.sh [ROUNDS [FAMILY_PACKAGES OTHER_PACKAGES DATABASES COMPONENTS_EACH]]
#   (defaults 41 1000 2000 10 100; BUILD_DIR overrides build-bench/)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-bench}
rounds=${1:-41}

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZORVEX_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target zorvex_checker zorvex_bench_data zorvex_bench_host \
  zorvex_compare_runs >/dev/null

data=$(mktemp -d "${TMPDIR:-/tmp}/zorvex-run.XXXXXX")
trap 'rm -rf "$data"' EXIT INT TERM
"$build/bench/zorvex_bench_data" "$data" "${2:-1000}" "${3:-2000}" "${4:-10}" "${5:-100}"
export DPKG_ADMINDIR="$data/dpkg"
root="$data/installer"
library="$build/src/libzorvex_checker.so"
host="$build/bench/zorvex_bench_host"

# Single-quotes a text for the shell.
quote() {
  printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

# The bare script: the command lines of one run, in the order the library starts them, each
# through its own shell, its output read through a pipe and kept (the shell drops NUL bytes).
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
# The probe runs once per run and the listing of the manager it found follows it at once; the
# installer's search starts beside them.
tab=$(printf '\t')
listing=
if probe dpkg; then
  listing="dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep -E '^(ii|hi) '"
elif probe rpm; then
  listing="rpm -q -a --qf '%{Name}$tab%{Version}$tab%{Arch}$tab%{Summary}$tab:%{Vendor}
' | grep '$tab:Corva'"
fi
# find prints each path ended by a NUL and flushed, so that the library reads each database as
# soon as its path arrives.
search() {
  add "find -H $(quote "$1") -name 'packagemanager.db' -type f -printf '%p\\0\\c' 2>/dev/null"
}
search "$root"
if [ "$(id -u)" -ne 0 ]; then
  search "$(getent passwd "$(id -u)" | cut -d: -f6)/corva"
fi
[ -z "$listing" ] || add "$listing"

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
