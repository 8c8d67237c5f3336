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

# The aarch64 cross build (stage aarch64; qemu-aarch64 comes with qemu-user):
# Debian's cross compiler and C library, and zlib from its arm64
# architecture.  A Multi-Arch library keeps one version for every
# architecture, so the amd64 zlib is named too: both move together.  The
# test programs run on the arm64 C and C++ runtimes (libc6:arm64 comes with
# zlib).  GoogleTest is built from Debian's sources (googletest) by the
# cross build.
cross=()
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  cross=(g++-aarch64-linux-gnu libc6-dev-arm64-cross googletest zlib1g-dev:amd64 zlib1g-dev:arm64
         libstdc++6:arm64)
  packages+=("${cross[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#cross[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $sudo dpkg --add-architecture arm64
fi
$sudo apt-get update -q >/dev/null || true
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
