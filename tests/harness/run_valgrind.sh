#!/usr/bin/env bash
# run_valgrind.sh <program> [args...]: runs a test program under valgrind's
# memcheck; any error it finds (invalid access, use of an uninitialised
# value, a definite or possible leak) fails the run.  Reports a skip (77)
# where valgrind is missing.
set -euo pipefail
if ! command -v valgrind >/dev/null; then
  echo "SKIPPED: valgrind not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
exec valgrind --error-exitcode=1 --leak-check=full --track-origins=yes \
  --suppressions="$here/valgrind.supp" "$@"
