#!/usr/bin/env bash
# with_noexec_dir.sh COMMAND [ARG...]
#
# Runs COMMAND with a directory that can hold files but no executable
# mapping: in a private mount namespace a tmpfs is mounted noexec on a new
# directory, which the command finds in ZELKOR_NOEXEC_DIR.  The mount
# vanishes with the namespace; the machine's mount table never sees it.
#
# Exit status: the command's; where no namespace can be made, 77 (a skip) or
# under CI=true 1, as private_mounts.sh says; 2 for wrong usage.
set -euo pipefail

harness_name=with_noexec_dir
# shellcheck source=private_mounts.sh
. "$(dirname "${BASH_SOURCE[0]}")/private_mounts.sh"

if [ "${1:-}" = --inside ]; then
  dir=$2
  shift 2
  # World-writable and sticky like /tmp, so that a command of any user may
  # make its private directory there.
  mount -t tmpfs -o noexec,nosuid,nodev,mode=1777 zelkor-noexec "$dir"
  export ZELKOR_NOEXEC_DIR=$dir
  exec "$@"
fi

if [ $# -lt 1 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi
self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")

dir=$(mktemp -d "${TMPDIR:-/tmp}/zelkor-noexec.XXXXXX")
trap 'rmdir "$dir" 2>/dev/null || true' EXIT
require_private_mounts "$dir"

set +e
unshare --mount --propagation private -- bash "$self" --inside "$dir" "$@"
status=$?
set -e
exit "$status"
