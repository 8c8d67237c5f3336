#!/usr/bin/env bash
# Builds everything and runs every test stage; the README's test command and
# all that CI runs.  Each stage prints its time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

stage() {
  local name=$1 start
  shift
  start=$(date +%s)
  echo "=== stage ${name}"
  "$@"
  echo "=== stage ${name}: $(($(date +%s) - start)) s"
}

# Configures and builds one preset (release, asan, tsan).
build() { cmake --preset "$1" && cmake --build --preset "$1"; }

stage configure cmake --preset release
stage build cmake --build --preset release
stage unit ctest --preset unit
stage valgrind ctest --preset valgrind
stage program ctest --preset program
if [ "$(uname -m)" = x86_64 ]; then
  stage qemu ctest --preset qemu
else
  echo "=== stage qemu: skipped, its emulated x86-64 processors need an x86-64 host"
fi
stage aarch64 scripts/aarch64.sh
stage jvm ctest --preset jvm
stage nss ctest --preset nss
stage soak ctest --preset soak
stage package ctest --preset package
stage asan-build build asan
stage asan ctest --preset asan
stage tsan-build build tsan
stage tsan ctest --preset tsan
stage fuzz scripts/fuzz.sh
