#!/usr/bin/env bash
# Installs the Debian packages that the build and every test stage need and
# the machine lacks, from a plain Debian 12 with nothing but apt upwards.
# Idempotent: prints nothing and does nothing when everything is present.
# Runs as root, or as a user with sudo.
set -euo pipefail

packages=(
  # The build.
  cmake         # configures and builds (presets need 3.25); cpack makes the Debian packages
  ninja-build   # the presets' generator
  g++           # C++20, g++ 12
  gcc           # the C sources and tests; cc for the pkg-config consumer (package stage)
  libgtest-dev  # GoogleTest, the native test programs
  libgmock-dev  # GoogleMock (GTest::gmock), the engine tests
  libbenchmark-dev  # Google Benchmark, bench/ (configured with the release build)
  zlib1g-dev    # zlib, the CRC-32 reference of the engine and kernel tests; a benchmark peer
  openjdk-17-jdk-headless  # javac and jar for zelkor.jar, jni.h for the JNI modules, java for the JVM tests

  # Tools that the tests call.
  binutils      # nm, readelf, strings: the export and binary checks, the load-owner tests
  util-linux    # unshare, mountpoint: the name-service tests' private mount namespaces
  mount         # mount, in those namespaces
  pkg-config    # the pkg-config consumer (package stage)
  file          # cpack's shared-library dependencies (CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  dpkg-dev      # dpkg-shlibdeps for cpack; dpkg-architecture (package stage)

  # Test stages and tools beyond the plain build.
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
# architecture, so whenever the arm64 zlib is installed the native one is
# named with it (zlib1g-dev above): both move together.  The test programs
# run on the arm64 C and C++ runtimes (libc6:arm64 comes with zlib).
# GoogleTest is built from Debian's sources (googletest) by the cross build.
cross=()
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  cross=(g++-aarch64-linux-gnu libc6-dev-arm64-cross googletest zlib1g-dev:arm64 libstdc++6:arm64)
  packages+=("${cross[@]}")
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ ${#cross[@]} -gt 0 ] && ! installed zlib1g-dev:arm64 && installed zlib1g-dev; then
  missing+=(zlib1g-dev)  # to the arm64 one's version
fi

# sudo drops the environment, so the variable goes on the command line.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: not root and no sudo: run this as root, or install sudo" >&2
    exit 1
  fi
  as_root=(sudo "${as_root[@]}")
fi
if [ ${#cross[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${as_root[@]}" dpkg --add-architecture arm64
fi
"${as_root[@]}" apt-get update -q >/dev/null || true
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
