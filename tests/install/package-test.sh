#!/bin/sh
# Installs the Debian package with the real apt, uses what it installed as a user would, then
# purges it and makes sure nothing it installed is left. Leaves the machine as it was, also when a
# step fails: what apt installs for the package is purged with it.
# Usage: package-test.sh PACKAGE.deb CHECKOUT
# Skips (exit 0, with the reason) when not root or when any version of the package is present.
set -eu
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
top=$2
name=zorvex-checker
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing a package needs root"
  exit 0
fi
state=$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$name" 2>/dev/null || true)
case $state in
  "" | not-installed*) ;;
  *)
    echo "SKIP: $name is already on this machine ($state); it is left alone"
    exit 0
    ;;
esac

scratch=$(mktemp -d)
installed=""
# Purges the package and what apt installed with it (the names are split on purpose).
purge() {
  [ -n "$installed" ] || return 0
  # shellcheck disable=SC2086
  apt-get purge -y -q -o DPkg::Lock::Timeout=300 $installed >"$scratch/purge" 2>&1 || {
    cat "$scratch/purge" >&2
    return 1
  }
  installed=""
}
# shellcheck disable=SC2154
trap 'code=$?; purge || code=1; rm -rf "$scratch"; exit $code' EXIT
trap 'exit 1' INT TERM
fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# Whatever apt would add besides the package is purged with it afterwards; what it would upgrade
# could not be put back.
apt-get install -s --no-install-recommends "$deb" >"$scratch/plan"
if grep '^Inst [^ ]* \[' "$scratch/plan" >"$scratch/upgrades"; then
  echo "SKIP: installing $name would upgrade: $(cat "$scratch/upgrades")"
  exit 0
fi
installed=$(awk '/^Inst /{print $2}' "$scratch/plan")
echo "installing: $installed"
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" >"$scratch/apt" ||
  fail "apt-get install: $(cat "$scratch/apt")"
dpkg-query -L "$name" >"$scratch/files"

cd "$scratch"
plugindir=$(pkg-config --variable=plugindir "$name")
# The installed host, with nothing named, finds the installed plug-in by itself.
env -i PATH=/usr/bin:/bin diag-host --list >list || fail "diag-host --list exits with $?"
grep -qxF "$plugindir/libzorvex_checker.so (interface 0.1)" list || fail "diag-host: $(cat list)"
# ... and runs it on the sample installation the package ships, with the command README gives.
sample=/usr/share/doc/$name/sample-installation
DPKG_ADMINDIR=$sample/dpkg diag-host --format text --installer-root $sample/corva >report ||
  fail "diag-host on the sample exits with $?"
grep -qxF "      Zorvex Compiler" report || fail "diag-host on the sample: $(cat report)"
grep -qF "DPKG_ADMINDIR=$sample/dpkg diag-host --format text --installer-root $sample/corva" \
  "$top/README.md" || fail "README does not give the command for the installed sample"

# The units are installed, not enabled, verify, and their exposure stays low.
units=/usr/lib/systemd/system
for unit in zorvex-textfile.service zorvex-textfile.timer; do
  [ -f "$units/$unit" ] || fail "$unit is not installed"
  ! find /etc/systemd -name "$unit" | grep -q . || fail "$unit was enabled"
done
if ! systemd-analyze --man=no verify "$units/zorvex-textfile.service" \
    "$units/zorvex-textfile.timer" >verify 2>&1; then
  grep -q "has not been booted with systemd" verify || fail "systemd-analyze verify: $(cat verify)"
  echo "systemd-analyze verify cannot run here: $(cat verify)"
fi
systemd-analyze security --offline=yes --threshold=20 "$units/zorvex-textfile.service" \
  >security 2>&1 || fail "systemd-analyze security: $(tail -n 3 security)"

run=0
zorvex_app_check >report || run=$?
case $run in 0 | 2 | 3) ;; *) fail "zorvex_app_check exits with $run" ;; esac
grep -qF '"Zorvex products":{' report || fail "zorvex_app_check: $(cat report)"

# README's minimal host, built as README says against the installed header.
awk '/A minimal host:$/{f=1} f&&/^```cpp/{c=1;next} c&&/^```/{exit} c' "$top/README.md" >host.cpp
awk '/A minimal host:$/{f=1} f&&/^```sh/{c=1;next} c&&/^```/{exit} c' "$top/README.md" >host.sh
if [ ! -s host.cpp ] || [ ! -s host.sh ]; then
  fail "README has no minimal host and its commands"
fi
sh -eu host.sh >report || fail "README's host: $(cat host.sh) exits with $?"
grep -qF '"Zorvex products":{' report || fail "README's host: $(cat report)"

purge || fail "apt-get purge"
[ "$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || true)" != installed ] ||
  fail "$name is still installed"
# Every path of the package is its own but the shared folders (/usr/bin and the like).
while read -r path; do
  case $path in
    *zorvex* | *diag-host*) [ ! -e "$path" ] || fail "left after purge: $path" ;;
  esac
done <"$scratch/files"
echo "installed, used and purged: $(wc -l <"$scratch/files") paths"
