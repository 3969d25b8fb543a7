#!/bin/sh
# The fleet playbook installs the Debian package on a host with the real apt over real SSH, and
# the host then runs the check it installed: scripts/run-fleet-demo.sh --deb against one host,
# 127.0.0.6, holding the sample installation. The host's /usr, /etc and /var take its writes in
# layers of their own, so this machine is left as it was; that is checked too.
# Usage: fleet-install-test.sh PACKAGE.deb CHECKOUT
# Skips (exit 0, with the reason) where the host cannot be made or the package is on this machine.
set -eu
deb=$1
top=$2
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the host needs a mount namespace of its own: root"
  exit 0
fi
if ! unshare -m sh -c 'mount -t tmpfs none /mnt && mkdir /mnt/l /mnt/u /mnt/w &&
    mount -t overlay none /mnt/l -o lowerdir=/usr,upperdir=/mnt/u,workdir=/mnt/w' 2>/dev/null; then
  echo "SKIP: this machine cannot lay a writable layer over /usr in a mount namespace"
  exit 0
fi
if dpkg-query -W zorvex-checker >/dev/null 2>&1 || [ -e /usr/bin/diag-host ]; then
  echo "SKIP: the package is on this machine already; what the playbook installed would not show"
  exit 0
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM
fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

var="$scratch/var"
sample="$top/examples/sample-installation"
mkdir -p "$var/corva" "$var/lib/dpkg"
cp -R "$sample/corva/." "$var/corva/"
sqlite3 "$var/corva/zorvex-2024.2/packagemanager.db" <"$var/corva/zorvex-2024.2/packagemanager.sql"
cp "$sample/dpkg/status" "$var/lib/dpkg/status"
ls -d /tmp/*.zorvex 2>/dev/null >"$scratch/before" || true

status=0
"$top/scripts/run-fleet-demo.sh" --deb "$deb" --out "$scratch/out" "127.0.0.6=$var" \
  >"$scratch/log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the playbook exits with $status: $(cat "$scratch/log")"
# The products of the sample, each row "host state source name", from the JSON inventory (the
# CSV's later columns hold the time and the machine's own names).
python3 -c 'import json, sys
for row in json.load(open(sys.argv[1])):
    print(row["host"], row["state"], row["source"], row["name"])' "$scratch/out/fleet.json" \
  >"$scratch/states" || fail "fleet.json: $(cat "$scratch/out/fleet.json")"
cat >"$scratch/expected" <<'ROWS'
127.0.0.6 ok installer Zorvex Compiler
127.0.0.6 ok installer Zorvex Studio
127.0.0.6 ok dpkg Zorvex command line tools
127.0.0.6 ok dpkg Zorvex runtime libraries
ROWS
cmp -s "$scratch/expected" "$scratch/states" ||
  fail "fleet.json: $(diff "$scratch/expected" "$scratch/states")"
# The CSV holds the same rows: a header and one CRLF-ended line each.
[ "$(grep -c "$(printf '\r')\$" "$scratch/out/fleet.csv")" -eq 5 ] ||
  fail "fleet.csv: $(cat "$scratch/out/fleet.csv")"

# Installed on the host alone; the copy it was installed from is gone.
! dpkg-query -W zorvex-checker >/dev/null 2>&1 || fail "the package was installed on this machine"
[ ! -e /usr/bin/diag-host ] || fail "diag-host was installed on this machine"
ls -d /tmp/*.zorvex 2>/dev/null >"$scratch/after" || true
cmp -s "$scratch/before" "$scratch/after" || fail "left in /tmp: $(cat "$scratch/after")"
echo "installed by the playbook on 127.0.0.6 and run there; this machine untouched"
