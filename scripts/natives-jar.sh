#!/usr/bin/env bash
# The natives-jar step, runnable on its own: builds the presets whose
# libraries zelkor-with-natives.jar carries and then the jar
# (build/release/java/zelkor-with-natives.jar).  On an x86-64 host that is
# the release build (linux-x86_64) and the aarch64 cross build
# (linux-aarch64); on an aarch64 host the release build only, as there is
# no cross build to x86-64 from there.  The install and the Debian package
# libzelkor1 take the jar from where this leaves it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
case "$(uname -m)" in
  x86_64)
    cmake --preset aarch64
    cmake --build --preset aarch64
    ;;
  aarch64)
    echo "natives-jar: an aarch64 host packs its own library only (no cross build to x86-64)"
    ;;
  *)
    echo "natives-jar: no library of this project builds on $(uname -m)" >&2
    exit 1
    ;;
esac
cmake --build --preset release --target zelkor_natives_jar
