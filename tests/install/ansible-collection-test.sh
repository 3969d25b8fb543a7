#!/bin/sh
# The Ansible collection as a user gets it: built and installed with ansible-galaxy, its module
# documented under its full name, and clean under ansible-lint's default profile.
# Usage: ansible-collection-test.sh CHECKOUT
set -eu
top=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}
# Ansible's own files, and the lint's cache, stay in the scratch folder.
export HOME="$scratch/home" XDG_CACHE_HOME="$scratch/cache" PYTHONDONTWRITEBYTECODE=1
export ANSIBLE_COLLECTIONS_PATH="$scratch/collections"
mkdir -p "$HOME"

ansible-galaxy collection build "$top/integrations/ansible" --output-path "$scratch" >"$scratch/log" 2>&1 ||
  fail "build: $(cat "$scratch/log")"
ansible-galaxy collection install -p "$scratch/collections" "$scratch"/zorvex-checker-1.0.0.tar.gz \
  >"$scratch/log" 2>&1 || fail "install: $(cat "$scratch/log")"
installed=$scratch/collections/ansible_collections/zorvex/checker
for file in MANIFEST.json playbooks/fleet_inventory.yml plugins/filter/fleet.py; do
  [ -f "$installed/$file" ] || fail "not installed: $file"
done
ansible-doc zorvex.checker.products >"$scratch/doc" 2>&1 || fail "ansible-doc: $(cat "$scratch/doc")"
grep -q "ZORVEX.CHECKER.PRODUCTS" "$scratch/doc" || fail "ansible-doc: $(cat "$scratch/doc")"

# Debian's ansible-lint, default profile, offline.
(cd "$top/integrations/ansible" && ansible-lint --offline --nocolor) >"$scratch/lint" 2>&1 ||
  fail "ansible-lint: $(cat "$scratch/lint")"
echo "built, installed, documented and lint-clean"
