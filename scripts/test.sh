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

# As many tests at once as this machine has processors: the presets fix no
# number, since they serve any machine.
jobs=$(nproc)

stage configure cmake --preset release
stage build cmake --build --preset release
stage unit ctest --preset unit --parallel "$jobs"
stage valgrind ctest --preset valgrind --parallel "$jobs"
stage program ctest --preset program --parallel "$jobs"
if [ "$(uname -m)" = x86_64 ]; then
  stage qemu ctest --preset qemu --parallel "$jobs"
else
  echo "=== stage qemu: skipped, its emulated x86-64 processors need an x86-64 host"
fi
stage aarch64 scripts/aarch64.sh
# zelkor-with-natives.jar, from the release and cross builds: the jvm and
# package stages test it.
stage natives-jar scripts/natives-jar.sh
stage jvm ctest --preset jvm --parallel "$jobs"
stage nss ctest --preset nss --parallel "$jobs"
stage soak ctest --preset soak --parallel "$jobs"
stage package ctest --preset package --parallel "$jobs"
stage asan-build build asan
stage asan ctest --preset asan --parallel "$jobs"
stage tsan-build build tsan
stage tsan ctest --preset tsan --parallel "$jobs"
stage fuzz scripts/fuzz.sh
