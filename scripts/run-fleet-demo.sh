#!/bin/sh
# Runs the fleet playbook of the Ansible collection in integrations/ansible (built and installed
# into a scratch folder first) with ansible-core over real SSH against hosts on loopback addresses of this machine: each an sshd in a mount namespace of its
# own, whose /var is a folder of its own (its corva/ and lib/dpkg/ are what the check reads). As
# root; everything it starts is stopped when it ends, and its scratch folder is removed.
#
#   run-fleet-demo.sh [--deb FILE] [--diag-host PATH] [--out DIR] [--limit HOSTS]
#                     [-e NAME=VALUE]... [--run COMMAND] [ADDRESS=VAR[=HIDDEN]]...
#
# Without hosts, three made from examples/sample-installation: 127.0.0.2 with the sample's
# installer and dpkg products, 127.0.0.3 with its installer products only, 127.0.0.4 with none.
# HIDDEN, a folder, is covered by an empty one on that host (to take diag-host away); a folder
# VAR/home becomes the host's /home (its accounts' own installer folders). The hosts
# run PATH (default: the build-check/ diag-host, built first). Writes DIR/fleet.csv and
# DIR/fleet.json (default: build-check/fleet/), keeping the rows of hosts not in the run, and exits
# with ansible-playbook's status. --limit passes HOSTS to ansible-playbook's --limit, -e a
# playbook variable (VALUE without blanks). --run runs the shell COMMAND instead of the playbook,
# with the hosts up, ANSIBLE_CONFIG and ANSIBLE_COLLECTIONS_PATH set, FLEET_INVENTORY naming the
# inventory and FLEET_SSH_CONFIG an ssh_config that reaches each host by its address as root,
# and exits with its status (bench/fleet_bench.sh times the playbook against plain ssh so).
#
# With --deb, the playbook installs the package FILE on every host with apt and the hosts run the
# diag-host it installs (unless --diag-host names another). Each host's /usr and /etc then take
# their writes in a layer of their own, and its /var is VAR laid over this machine's /var, the
# dpkg database this machine's with VAR's packages added, so that apt finds the package's
# dependencies installed; nothing is installed on this machine itself.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
diag_host=""
deb=""
out="$top/build-check/fleet"
limit=""
extra_vars=""
run=""
while [ $# -gt 0 ]; do
  case "$1" in
    --deb) deb=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --diag-host) diag_host=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --limit) limit=$2; shift 2 ;;
    -e) extra_vars="$extra_vars -e $2"; shift 2 ;;
    --run) run=$2; shift 2 ;;
    -*)
      echo "usage: $0 [--deb FILE] [--diag-host PATH] [--out DIR] [--limit HOSTS] [-e NAME=VALUE]... [--run COMMAND] [ADDRESS=VAR[=HIDDEN]]..." >&2
      exit 64
      ;;
    *) break ;;
  esac
done
if [ "$(id -u)" -ne 0 ]; then
  echo "$0: run this as root: each host needs a mount namespace of its own" >&2
  exit 1
fi
for tool in ansible-playbook ansible-galaxy ssh-keygen /usr/sbin/sshd unshare python3; do
  command -v "$tool" >/dev/null || {
    echo "$0: $tool is missing; ./scripts/install-deps.sh test installs it" >&2
    exit 1
  }
done
if [ -n "$deb" ] && ! /usr/bin/python3 -c 'import apt' 2>/dev/null; then
  echo "$0: python3-apt is missing (Ansible's apt module needs it); ./scripts/install-deps.sh test installs it" >&2
  exit 1
fi

work=$(mktemp -d)
pids=""
cleanup() {
  for pid in $pids; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The sample as three hosts' /var folders.
demo_hosts() {
  sample="$top/examples/sample-installation"
  others="$work/other-vendor-status"
  awk -v RS= -v ORS='\n\n' '/Package: hello-example/' "$sample/dpkg/status" >"$others"
  for host in 2 3 4; do
    var="$work/demo-$host"
    mkdir -p "$var/corva" "$var/lib/dpkg/info" "$var/lib/dpkg/updates"
    cp "$sample/dpkg/available" "$var/lib/dpkg/"
    cp "$others" "$var/lib/dpkg/status"
    if [ "$host" != 4 ]; then
      cp -R "$sample/corva/." "$var/corva/"
      sqlite3 "$var/corva/zorvex-2024.2/packagemanager.db" \
        <"$var/corva/zorvex-2024.2/packagemanager.sql"
    fi
    echo "127.0.0.$host=$var"
  done
  cp "$sample/dpkg/status" "$work/demo-2/lib/dpkg/status"
}

free_port() {
  python3 -c 'import socket, sys
s = socket.socket()
s.bind((sys.argv[1], 0))
print(s.getsockname()[1])' "$1"
}

# Starts the sshd of one host and waits (up to 20 s) until it listens.
start_host() {
  address=$1 var=$2 hidden=$3
  dir="$work/$address"
  mkdir -p "$dir"
  ssh-keygen -q -t ed25519 -N '' -C zorvex-fleet-demo -f "$dir/host_key"
  port=$(free_port "$address")
  cat >"$dir/sshd_config" <<CONFIG
ListenAddress $address:$port
HostKey $dir/host_key
AuthorizedKeysFile $work/client.pub
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
UseDNS no
PidFile none
Subsystem sftp internal-sftp
CONFIG
  echo "[$address]:$port $(cat "$dir/host_key.pub")" >>"$work/known_hosts"
  echo "$address ansible_port=$port" >>"$work/hosts"
  printf 'Host %s\n  Port %s\n' "$address" "$port" >>"$work/ssh_config"
  if [ -n "$deb" ]; then
    # VAR's dpkg database joins this machine's: its status file, with this machine's first.
    mkdir -p "$dir/var-top/lib/dpkg"
    {
      cat /var/lib/dpkg/status
      [ ! -f "$var/lib/dpkg/status" ] || cat "$var/lib/dpkg/status"
    } >"$dir/var-top/lib/dpkg/status"
  fi
  # The namespace's own /var and /run (for /run/sshd); sshd replaces the shell, so $! is sshd.
  unshare -m sh -c 'set -e
    if [ -n "$4" ]; then
      for layer in usr etc var; do mkdir -p "$2/layers/$layer" "$2/layers/$layer-work"; done
      mount -t overlay zorvex-fleet-usr /usr \
        -o "lowerdir=/usr,upperdir=$2/layers/usr,workdir=$2/layers/usr-work"
      mount -t overlay zorvex-fleet-etc /etc \
        -o "lowerdir=/etc,upperdir=$2/layers/etc,workdir=$2/layers/etc-work"
      mount -t overlay zorvex-fleet-var /var \
        -o "lowerdir=$2/var-top:$1:/var,upperdir=$2/layers/var,workdir=$2/layers/var-work"
      # The installer tree is VAR'"'"'s alone: folders of the layers below would join it.
      if [ -d "$1/corva" ]; then
        mount --bind "$1/corva" /var/corva
      elif [ -d /var/corva ]; then
        mount -t tmpfs -o mode=0755 zorvex-fleet-corva /var/corva
      fi
    else
      mount --bind "$1" /var
    fi
    if [ -d "$1/home" ]; then mount --bind "$1/home" /home; fi
    mount -t tmpfs -o mode=0755 zorvex-fleet-run /run
    mkdir /run/sshd
    if [ -n "$3" ]; then mount -t tmpfs -o mode=0755 zorvex-fleet-hidden "$3"; fi
    exec /usr/sbin/sshd -D -e -f "$2/sshd_config"' fleet-host "$var" "$dir" "$hidden" "$deb" \
    >"$dir/sshd.log" 2>&1 &
  pids="$pids $!"
  tries=0
  until grep -q "Server listening" "$dir/sshd.log" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$!" 2>/dev/null; then
      echo "$0: the sshd of $address did not start:" >&2
      cat "$dir/sshd.log" >&2
      exit 1
    fi
    sleep 0.1
  done
}

if [ $# -eq 0 ]; then
  "$top/scripts/install-deps.sh" demo
  # One host a line; the scratch folder's name may hold blanks but no line feed.
  host_lines=$(demo_hosts)
  old_ifs=$IFS
  IFS='
'
  set -f
  # shellcheck disable=SC2086
  set -- $host_lines
  set +f
  IFS=$old_ifs
fi
if [ -z "$diag_host" ] && [ -z "$deb" ]; then
  "$top/scripts/build-release.sh"
  diag_host="$top/build-check/tools/diag-host/diag-host"
fi

ssh-keygen -q -t ed25519 -N '' -C zorvex-fleet-demo -f "$work/client"
echo "[fleet]" >"$work/hosts"
for host in "$@"; do
  address=${host%%=*}
  rest=${host#*=}
  var=${rest%%=*}
  hidden=""
  [ "$rest" = "$var" ] || hidden=${rest#*=}
  start_host "$address" "$var" "$hidden"
done
cat >>"$work/ssh_config" <<SSH
Host *
  User root
  IdentityFile $work/client
  IdentitiesOnly yes
  UserKnownHostsFile $work/known_hosts
  ControlMaster no
  BatchMode yes
SSH
cat >>"$work/hosts" <<HOSTS
[fleet:vars]
ansible_user=root
ansible_python_interpreter=/usr/bin/python3
ansible_ssh_private_key_file=$work/client
ansible_ssh_common_args=-o UserKnownHostsFile=$work/known_hosts -o IdentitiesOnly=yes
HOSTS
# Ansible's own files stay in the scratch folder; no SSH connection outlives its task.
cat >"$work/ansible.cfg" <<CONFIG
[defaults]
remote_tmp=$work/remote-tmp
local_tmp=$work/local-tmp
nocolor=true
timeout=20
[ssh_connection]
ssh_args=-o ControlMaster=no
pipelining=true
CONFIG
export HOME="$work/home" ANSIBLE_CONFIG="$work/ansible.cfg" PYTHONDONTWRITEBYTECODE=1
export ANSIBLE_COLLECTIONS_PATH="$work/collections"
mkdir -p "$HOME"
# The collection as a user gets it: built, then installed from the archive.
ansible-galaxy collection build "$top/integrations/ansible" --output-path "$work" >"$work/galaxy.log"
ansible-galaxy collection install -p "$work/collections" "$work"/zorvex-checker-*.tar.gz \
  >>"$work/galaxy.log" || {
  cat "$work/galaxy.log" >&2
  exit 1
}
if [ -n "$run" ]; then
  status=0
  FLEET_INVENTORY="$work/hosts" FLEET_SSH_CONFIG="$work/ssh_config" sh -c "$run" || status=$?
  exit $status
fi
mkdir -p "$out"
# In the background, so that a signal reaches the traps at once, not after the playbook. The
# playbook variables are split on blanks on purpose.
# shellcheck disable=SC2086
timeout -k 5 240 ansible-playbook -i "$work/hosts" zorvex.checker.fleet_inventory \
  ${limit:+--limit "$limit"} ${diag_host:+-e "zorvex_diag_host=$diag_host"} \
  ${deb:+-e "zorvex_deb=$deb"} $extra_vars -e zorvex_inventory_dir="$out" &
pids="$! $pids"
status=0
wait "$!" || status=$?
[ ! -f "$out/fleet.csv" ] || cat "$out/fleet.csv"
exit $status
