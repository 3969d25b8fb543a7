#!/bin/sh
# Creates "zorvex-test", the unprivileged account that the per-user installer tests run as.
# Idempotent, and serialised with a lock so that test processes running in parallel cannot race.
# Only root can create it; as another user this does nothing and those tests skip themselves.
set -eu
name=zorvex-test
[ "$(id -u)" -eq 0 ] || exit 0
exec 9>"${TMPDIR:-/tmp}/zorvex-test-user.lock"
flock 9
if ! id -u "$name" >/dev/null 2>&1; then
  useradd --system --user-group --create-home --home-dir "/home/$name" \
    --shell /usr/sbin/nologin "$name"
fi
