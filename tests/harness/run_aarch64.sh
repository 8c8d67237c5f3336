#!/usr/bin/env bash
# run_aarch64.sh <run> <hwcap shim> <program> [args...]: runs an aarch64 test
# program as one of ZELKOR_AARCH64_RUNS (tests/CMakeLists.txt): natively on
# an aarch64 host, else under qemu-aarch64 -cpu max.  The program's C and
# C++ libraries are Debian's arm64 ones (libc6:arm64, libstdc++6:arm64 from
# scripts/install-deps.sh), found where the host keeps them: qemu 7.2's -L
# prefix leaves a forked child spinning, and the death tests fork.  Runs
# other than `aarch64` preload the shim that hides HWCAP bits.  Reports a
# skip (77) where qemu-user is missing.
set -euo pipefail
run=$1 shim=$2
shift 2
case $run in
  aarch64) clear= ;;
  aarch64_nopmull) clear=0x10 ;;  # HWCAP_PMULL
  aarch64_nocrc) clear=0x80 ;;    # HWCAP_CRC32
  *) echo "run_aarch64.sh: no run named $run" >&2; exit 2 ;;
esac
# A preload that the test asks for is the program's, never qemu's.
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
[ -n "$clear" ] && preload=$shim${preload:+:$preload}
if [ "$(uname -m)" = aarch64 ]; then
  [ -z "$clear" ] && LD_PRELOAD=$preload exec "$@"
  LD_PRELOAD=$preload ZELKOR_HWCAP_CLEAR=$clear exec "$@"
fi
if ! command -v qemu-aarch64 >/dev/null; then
  echo "SKIPPED: qemu-aarch64 not installed (scripts/install-deps.sh installs qemu-user)"
  exit 77
fi
# The environment reaches the program as it is; the preload goes through -E
# so that it does not reach qemu itself.
opts=(-cpu max)
[ -n "$preload" ] && opts+=(-E "LD_PRELOAD=$preload")
[ -n "$clear" ] && opts+=(-E "ZELKOR_HWCAP_CLEAR=$clear")
exec qemu-aarch64 "${opts[@]}" "$@"
