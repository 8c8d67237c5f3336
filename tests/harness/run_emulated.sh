#!/usr/bin/env bash
# run_emulated.sh <qemu cpu model> <program> [args...]: runs a test program on
# an emulated processor; reports a skip (77) where qemu-user is missing.
set -euo pipefail
cpu=$1
shift
if ! command -v qemu-x86_64 >/dev/null; then
  echo "SKIPPED: qemu-x86_64 not installed (scripts/install-deps.sh installs qemu-user)"
  exit 77
fi
exec qemu-x86_64 -cpu "$cpu" "$@"
