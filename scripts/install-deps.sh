#!/bin/sh
# Installs what building ("build"), building and running the demo ("demo"), building the Debian
# package ("package") or building and testing ("test", the default) needs on Debian.
# As root it installs the missing packages with apt-get; otherwise it prints the exact command.
set -eu

build_packages="cmake g++ make pkg-config libjson-c-dev libsqlite3-dev uuid-dev"
demo_packages="$build_packages sqlite3"
package_packages="$build_packages help2man dpkg-dev file sqlite3"
test_packages="$package_packages libgtest-dev libgmock-dev libbenchmark-dev rpm sqlite3 valgrind
  clang libclang-rt-14-dev binutils findutils grep passwd debianutils util-linux mount lintian
  ansible-core ansible-lint python3-apt sudo openssh-server openssh-client prometheus-node-exporter curl systemd strace
  nodejs npm python3-jsonschema
  icinga2 prometheus facter openssl"
# Daemons that tests start on their own, with their own configuration: never started by the
# install, and not left enabled.
test_daemons="icinga2 prometheus"

case "${1:-test}" in
  build) wanted=$build_packages ;;
  demo) wanted=$demo_packages ;;
  package) wanted=$package_packages ;;
  test) wanted=$test_packages ;;
  *) echo "usage: $0 [build|demo|package|test]" >&2; exit 2 ;;
esac

# Whether an installed package provides `package` (another build of nodejs brings its own npm).
provided() {
  dpkg-query -W -f='${Status}|${Provides}\n' 2>/dev/null | grep "ok installed|" |
    cut -d'|' -f2 | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$1"
}

missing=""
for package in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" &&
    ! provided "$package"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
  echo "This needs a Debian machine with these packages:$missing" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages:$missing" >&2
  echo "Install them as root with:" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends$missing" >&2
  exit 1
fi
echo "Installing:$missing"
echo "(services they bring, such as sshd and node_exporter, are neither started nor enabled)"
export DEBIAN_FRONTEND=noninteractive
# A development or CI machine is not a server: no daemon of these packages may start now or at
# boot (the tests start their own, on loopback). A policy-rc.d of our own, if there is none,
# keeps them from starting; the units the install enables are disabled again, and only those.
policy=/usr/sbin/policy-rc.d
own_policy=""
enabled_before=$(mktemp)
find /etc/systemd/system -type l -path '*.wants/*' 2>/dev/null | sort >"$enabled_before"
if [ ! -e "$policy" ]; then
  own_policy=yes
  printf '#!/bin/sh\n# Written by install-deps.sh while it installs: start nothing.\nexit 101\n' >"$policy"
  chmod 0755 "$policy"
fi
restore() {
  [ -z "$own_policy" ] || rm -f "$policy"
  find /etc/systemd/system -type l -path '*.wants/*' 2>/dev/null | sort |
    comm -13 "$enabled_before" - | while read -r link; do
      deb-systemd-helper disable "$(basename "$link")" >/dev/null 2>&1 || rm -f "$link"
    done
  rm -f "$enabled_before"
}
trap restore EXIT
apt-get install -y --no-install-recommends $missing || {
  apt-get update
  apt-get install -y --no-install-recommends $missing
}
for daemon in $test_daemons; do
  case " $missing " in *" $daemon "*) ;; *) continue ;; esac
  # Disables both the init script links and the systemd unit.
  update-rc.d "$daemon" disable >/dev/null 2>&1 || true
done
