#!/bin/sh
# `cmake --install` into a scratch DESTDIR, under another prefix than the configured one: every
# file in its place, none naming the build or source tree, the .pc file answering, and the
# installed programs finding the installed plug-in by themselves.
# Usage: install-layout-test.sh BUILD SOURCE BINDIR LIBDIR INCLUDEDIR MANDIR DATAROOTDIR SANITIZED
set -eu
build=$1 source=$2 bindir=$3 libdir=$4 includedir=$5 mandir=$6 datadir=$7
# The sanitizers keep the source file names for their reports; such a build is never installed
# for use, so only its RUNPATHs are checked.
case $8 in ON | on | 1 | TRUE | true) set -- ;; *) set -- "$build" "$source" ;; esac
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

prefix=/opt/zorvex-install-test
root=$scratch/root
installed=$root$prefix
DESTDIR=$root cmake --install "$build" --prefix "$prefix" --strip >/dev/null

# The sample installation is there when the build could make its database.
sample=""
if [ -f "$build/sample-installation/packagemanager.db" ]; then
  sample=$(cd "$source/examples" && find sample-installation -type f ! -name '*.sql' ! -name available |
    sed "s|^|$datadir/doc/zorvex-checker/|")
  sample="$sample
$datadir/doc/zorvex-checker/sample-installation/corva/zorvex-2024.2/packagemanager.db"
fi
expected=$(printf '%s\n' "$bindir/diag-host" "$bindir/zorvex_app_check" \
  "$libdir/zorvex-checker/libzorvex_checker.so" "$libdir/pkgconfig/zorvex-checker.pc" \
  "$includedir/zorvex-checker/zorvex_plugin.h" "$mandir/man1/diag-host.1.gz" \
  "$mandir/man1/zorvex_app_check.1.gz" "$datadir/doc/zorvex-checker/changelog.gz" \
  "$datadir/doc/zorvex-checker/copyright" lib/systemd/system/zorvex-textfile.service \
  lib/systemd/system/zorvex-textfile.timer $sample | sort)
actual=$(cd "$installed" && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "installed files:
$actual
expected:
$expected"

find "$root" -type f >"$scratch/files"
while read -r file; do
  case $file in
    *.gz) gzip -dc "$file" >"$scratch/content" ;;
    *) cp "$file" "$scratch/content" ;;
  esac
  for tree in "$@"; do
    ! grep -qF "$tree" "$scratch/content" || fail "$file names $tree"
  done
  if readelf -d "$file" >"$scratch/dynamic" 2>/dev/null; then
    # shellcheck disable=SC2016
    ! grep -E 'R(UN)?PATH' "$scratch/dynamic" | grep -vF '[$ORIGIN/' || fail "$file: bad RUNPATH"
  fi
done <"$scratch/files"

export PKG_CONFIG_PATH="$installed/$libdir/pkgconfig"
cflags=$(pkg-config --cflags zorvex-checker | sed "s/ *$//")
[ "$cflags" = "-I$prefix/$includedir/zorvex-checker" ] || fail "Cflags: $cflags"
plugindir=$(pkg-config --variable=plugindir zorvex-checker)
[ "$plugindir" = "$prefix/$libdir/zorvex-checker" ] || fail "plugindir: $plugindir"

# Relocated with the DESTDIR, the programs still find the plug-in beside them.
"$installed/$bindir/diag-host" --list >"$scratch/list" || fail "diag-host --list: $?"
grep -qxF "$installed/$libdir/zorvex-checker/libzorvex_checker.so (interface 0.1)" \
  "$scratch/list" || fail "diag-host --list: $(cat "$scratch/list")"
status=0
"$installed/$bindir/zorvex_app_check" >"$scratch/report" || status=$?
case $status in 0 | 2 | 3) ;; *) fail "zorvex_app_check exits with $status" ;; esac
grep -qF '"Zorvex products":{' "$scratch/report" || fail "zorvex_app_check: $(cat "$scratch/report")"
grep -qxF "ExecStart=$prefix/$bindir/diag-host --format prometheus \\" \
  "$installed/lib/systemd/system/zorvex-textfile.service" || fail "the service names another diag-host"
echo "installed and relocated: $(echo "$actual" | wc -l) files"
