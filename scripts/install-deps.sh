#!/bin/sh
# Installs what building ("build"), building and running the demo ("demo"), building the Debian
# package ("package") or building and testing ("test", the default) needs on Debian.
# As root it installs the missing packages with apt-get; otherwise it prints the exact command.
set -eu

build_packages="cmake g++ make pkg-config libjson-c-dev libsqlite3-dev"
demo_packages="$build_packages sqlite3"
package_packages="$build_packages help2man dpkg-dev file"
test_packages="$package_packages libgtest-dev libgmock-dev libbenchmark-dev rpm sqlite3 valgrind
  clang libclang-rt-14-dev binutils findutils grep passwd debianutils util-linux mount lintian
  ansible-core python3-apt openssh-server openssh-client prometheus-node-exporter curl systemd strace
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

missing=""
for package in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
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
export DEBIAN_FRONTEND=noninteractive
# invoke-rc.d asks policy-rc.d; 101 forbids starting any service during the install.
own_policy=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  own_policy=/usr/sbin/policy-rc.d
  printf '#!/bin/sh\nexit 101\n' >"$own_policy"
  chmod 755 "$own_policy"
  trap 'rm -f "$own_policy"' EXIT
fi
apt-get install -y --no-install-recommends $missing || {
  apt-get update
  apt-get install -y --no-install-recommends $missing
}
for daemon in $test_daemons; do
  case " $missing " in *" $daemon "*) ;; *) continue ;; esac
  # Disables both the init script links and the systemd unit.
  update-rc.d "$daemon" disable >/dev/null 2>&1 || true
done
