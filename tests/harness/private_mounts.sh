# private_mounts.sh: sourced by the harnesses that run a command in a private
# mount namespace (with_nss_fixture.sh, with_noexec_dir.sh), which set
# harness_name first.  Where no namespace can be made (not root, unshare
# refused) a run prints why and exits 77, which the tests declare as their
# skip code; with CI=true that is a failure (1) instead, since CI runs as
# root and must run these tests.

readonly SKIP_CODE=77

cannot_run() {
  if [ "${CI:-}" = true ]; then
    echo "$harness_name: FAILED: $1; CI must run the tests in private mount namespaces" >&2
    exit 1
  fi
  echo "$harness_name: SKIPPED: $1" >&2
  exit "$SKIP_CODE"
}

# require_private_mounts DIR: root, unshare, and a probe that makes a
# namespace and mounts a tmpfs on DIR in it, as the real run will.
require_private_mounts() {
  local probe
  [ "$(id -u)" -eq 0 ] ||
    cannot_run "a private mount namespace needs root, and this runs as uid $(id -u)"
  command -v unshare >/dev/null || cannot_run "unshare (util-linux) is not installed"
  if ! probe=$(unshare --mount --propagation private -- \
               mount -t tmpfs "$harness_name-probe" "$1" 2>&1); then
    cannot_run "no private mount namespace could be made here: ${probe:-unshare failed}"
  fi
}
