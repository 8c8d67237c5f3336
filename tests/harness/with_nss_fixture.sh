#!/usr/bin/env bash
# with_nss_fixture.sh FIXTURE_DIR COMMAND [ARG...]
#
# Runs COMMAND against name-service files of its own and leaves the machine's
# untouched.  In a private mount namespace /etc is replaced by a copy of it
# (on a tmpfs that vanishes with the namespace) in which each file of
# FIXTURE_DIR (group, netgroup, ...) takes the place of the file of the same
# name, and nsswitch.conf reads groups and netgroups from files alone.  The
# command and everything it starts (a JVM too) see only that view.  A running
# nscd is hidden, so lookups cannot be answered from its cache.  The command
# finds the fixture directory in ZELKOR_NSS_FIXTURE.
#
# Give each case a fixture of its own when one entry would disturb the
# others: glibc's files backend fails every lookup that meets a line too long
# for the caller's buffer.
#
# Exit status: the command's; where no namespace can be made, 77 (a skip) or
# under CI=true 1, as private_mounts.sh says; 2 for wrong usage.
set -euo pipefail

harness_name=with_nss_fixture
# shellcheck source=private_mounts.sh
. "$(dirname "${BASH_SOURCE[0]}")/private_mounts.sh"

usage() {
  echo "usage: $0 FIXTURE_DIR COMMAND [ARG...]" >&2
  exit 2
}

# Second half, run by unshare inside the new namespace, whose mounts are
# already private: nothing done here reaches the machine's mount table.
inside() {
  local fixture=$1 root=$2 f d
  shift 2
  mount -t tmpfs -o mode=0755 zelkor-nss "$root"
  cp -a /etc/. "$root/"
  for f in "$fixture"/*; do
    [ -f "$f" ] || continue
    rm -f "$root/${f##*/}"
    cp "$f" "$root/${f##*/}"
    chmod 0644 "$root/${f##*/}"
  done
  if [ -f "$root/nsswitch.conf" ]; then
    sed -i -E '/^[[:space:]]*(group|netgroup)[[:space:]]*:/d' "$root/nsswitch.conf"
  fi
  printf 'group: files\nnetgroup: files\n' >>"$root/nsswitch.conf"
  for d in /run/nscd /var/run/nscd; do
    if [ -d "$d" ] && ! mountpoint -q "$d"; then
      mount -t tmpfs -o mode=0755 zelkor-nss-nscd "$d"
    fi
  done
  mount --bind "$root" /etc
  export ZELKOR_NSS_FIXTURE=$fixture
  exec "$@"
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
fi

[ $# -ge 2 ] || usage
[ -d "$1" ] || { echo "with_nss_fixture: no fixture directory $1" >&2; exit 2; }
fixture=$(cd "$1" && pwd)
shift
self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")

root=$(mktemp -d "${TMPDIR:-/tmp}/zelkor-nss.XXXXXX")
trap 'rmdir "$root" 2>/dev/null || true' EXIT
require_private_mounts "$root"

set +e
unshare --mount --propagation private -- bash "$self" --inside "$fixture" "$root" "$@"
status=$?
set -e
exit "$status"
