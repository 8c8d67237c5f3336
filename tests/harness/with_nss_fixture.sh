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
# Exit status: the command's.  Where no namespace can be made (not root,
# unshare refused) it prints why and exits 77, which the tests declare as
# their skip code; with CI=true that is a failure (1) instead, since CI runs
# as root and must run these tests.  2 for wrong usage.
set -euo pipefail

readonly SKIP_CODE=77

usage() {
  echo "usage: $0 FIXTURE_DIR COMMAND [ARG...]" >&2
  exit 2
}

cannot_run() {
  if [ "${CI:-}" = true ]; then
    echo "with_nss_fixture: FAILED: $1; CI must run the name-service tests" >&2
    exit 1
  fi
  echo "with_nss_fixture: SKIPPED: $1" >&2
  exit "$SKIP_CODE"
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

[ "$(id -u)" -eq 0 ] ||
  cannot_run "a private mount namespace needs root, and this runs as uid $(id -u)"
command -v unshare >/dev/null || cannot_run "unshare (util-linux) is not installed"

root=$(mktemp -d "${TMPDIR:-/tmp}/zelkor-nss.XXXXXX")
trap 'rmdir "$root" 2>/dev/null || true' EXIT
# The probe makes a namespace and a mount in it, as the real run will.
if ! probe=$(unshare --mount --propagation private -- \
             mount -t tmpfs zelkor-nss-probe "$root" 2>&1); then
  cannot_run "no private mount namespace could be made here: ${probe:-unshare failed}"
fi

set +e
unshare --mount --propagation private -- bash "$self" --inside "$fixture" "$root" "$@"
status=$?
set -e
exit "$status"
