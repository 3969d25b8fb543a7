#!/bin/sh
# Times the fleet playbook against a plain ssh fan-out that runs `diag-host --format products` on
# each host, at the same parallelism, alternately, and prints both medians, their ratio and the
# cost per host. The hosts are loopback sshds made by scripts/run-fleet-demo.sh (127.0.0.11 and
# up), each holding the sample installation; both sides run the build-check/ diag-host.
#
# Usage (as root): bench/fleet_bench.sh [HOSTS [ROUNDS [PARALLEL]]]   (defaults 12 5 5)
#   PARALLEL is the playbook's forks and the fan-out's ssh processes at once (Ansible's default
#   forks is 5). One round of each side goes first to warm up and is not counted. DIAG_HOST names
#   a built diag-host to use instead of building build-check/.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)

# Inside the fleet demo, with the hosts up: the rounds.
if [ "${1:-}" = --rounds ]; then
  rounds=$2 parallel=$3 diag_host=$4 scratch=$5
  addresses=$(awk '/^127\./{print $1}' "$FLEET_INVENTORY")
  playbook() {
    ansible-playbook -i "$FLEET_INVENTORY" -f "$parallel" zorvex.checker.fleet_inventory \
      -e "zorvex_diag_host=$diag_host" -e "zorvex_inventory_dir=$scratch/inventory" \
      >"$scratch/playbook.log" 2>&1 || {
      cat "$scratch/playbook.log" >&2
      exit 1
    }
  }
  fanout() {
    # shellcheck disable=SC2016
    printf '%s\n' $addresses | xargs -P "$parallel" -I{} sh -c \
      'ssh -F "$FLEET_SSH_CONFIG" "$1" "$2" --format products >"$3/$1.json"' \
      fanout {} "$diag_host" "$scratch/fanout" || {
      echo "the ssh fan-out failed" >&2
      exit 1
    }
  }
  seconds() {
    start=$(date +%s.%N)
    "$@"
    echo "$start $(date +%s.%N)" | awk '{printf "%.3f\n", $2 - $1}'
  }
  mkdir -p "$scratch/fanout"
  playbook
  fanout
  : >"$scratch/times"
  round=1
  while [ "$round" -le "$rounds" ]; do
    p=$(seconds playbook)
    f=$(seconds fanout)
    echo "round $round: playbook $p s, ssh fan-out $f s"
    echo "$p $f" >>"$scratch/times"
    round=$((round + 1))
  done
  # The hosts' product lists must be those of the playbook's inventory: the same work done.
  rows=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' \
    "$scratch/inventory/fleet.json")
  products=$(cat "$scratch"/fanout/*.json | python3 -c 'import json, sys
print(sum(len(json.loads(line)["products"]) for line in sys.stdin))')
  [ "$rows" = "$products" ] || {
    echo "the playbook listed $rows rows, the fan-out $products products" >&2
    exit 1
  }
  hosts=$(printf '%s\n' $addresses | wc -l)
  python3 - "$scratch/times" "$hosts" "$parallel" <<'PY'
import statistics, sys
pairs = [tuple(map(float, line.split())) for line in open(sys.argv[1])]
hosts, parallel = int(sys.argv[2]), int(sys.argv[3])
play = statistics.median(p for p, _ in pairs)
fan = statistics.median(f for _, f in pairs)
ratios = [p / f for p, f in pairs]
print("%d hosts, parallelism %d, %d rounds" % (hosts, parallel, len(pairs)))
print("playbook median %.2f s (%.2f s per host), ssh fan-out median %.2f s (%.2f s per host)"
      % (play, play / hosts, fan, fan / hosts))
print("ratio of the medians %.2f (per round %s)"
      % (play / fan, ", ".join("%.2f" % ratio for ratio in ratios)))
PY
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "$0: run this as root: each host needs a mount namespace of its own" >&2
  exit 1
fi
hosts=${1:-12}
rounds=${2:-5}
parallel=${3:-5}
"$top/scripts/install-deps.sh" test
diag_host=${DIAG_HOST:-}
if [ -z "$diag_host" ]; then
  "$top/scripts/build-release.sh" >/dev/null
  diag_host="$top/build-check/tools/diag-host/diag-host"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
# One /var for all hosts, as the demo's first host has it: the sample's installer and dpkg
# products. Nothing writes into it.
sample="$top/examples/sample-installation"
var="$scratch/var"
mkdir -p "$var/corva" "$var/lib/dpkg/info" "$var/lib/dpkg/updates"
cp -R "$sample/corva/." "$var/corva/"
sqlite3 "$var/corva/zorvex-2024.2/packagemanager.db" <"$var/corva/zorvex-2024.2/packagemanager.sql"
cp "$sample/dpkg/status" "$sample/dpkg/available" "$var/lib/dpkg/"
set --
i=1
while [ "$i" -le "$hosts" ]; do
  set -- "$@" "127.0.0.$((10 + i))=$var"
  i=$((i + 1))
done
"$top/scripts/run-fleet-demo.sh" --diag-host "$diag_host" \
  --run "sh '$top/bench/fleet_bench.sh' --rounds $rounds $parallel '$diag_host' '$scratch'" "$@"
