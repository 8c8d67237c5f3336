#!/usr/bin/env bash
# Builds the optimised tree and runs sumwright, the engine's self-check and benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target sumwright
exec build/release/src/sumwright "$@"
