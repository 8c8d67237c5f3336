#!/usr/bin/env bash
# The aarch64 stage, runnable on its own: on an x86-64 host it configures and
# builds the cross preset (build/aarch64) and runs its tests under
# qemu-aarch64, on the hardware paths and with the CRC and PMULL
# instructions hidden; on an aarch64 host it runs the runs with hidden
# instructions of the release build (build/release, built first).
set -euo pipefail
cd "$(dirname "$0")/.."

case "$(uname -m)" in
  x86_64)
    scripts/install-deps.sh
    cmake --preset aarch64
    cmake --build --preset aarch64
    ctest --preset aarch64 --parallel "$(nproc)"
    ;;
  aarch64)
    cmake --preset release
    cmake --build --preset release
    ctest --test-dir build/release --output-on-failure --parallel "$(nproc)" -L '^aarch64$'
    ;;
  *)
    echo "aarch64 stage: skipped, no cross build from $(uname -m)"
    ;;
esac
