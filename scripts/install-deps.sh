#!/usr/bin/env bash
# Installs the Debian packages that a fresh machine of this kind lacks.
# Idempotent: does nothing when everything is present.
set -euo pipefail

packages=(
  qemu-user     # engine tests on emulated processors (with and without SSE4.2)
  junit5        # JUnit 5 console launcher for the JVM tests
  libisal-dev   # peer in the checksum benchmark
  valgrind      # memcheck over the native unit tests
  clang-14            # the libFuzzer targets (scripts/fuzz.sh)
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang
  gnuplot-nox   # the peer benchmark's chart (scripts/bench-peers.sh --chart)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q >/dev/null || true
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
