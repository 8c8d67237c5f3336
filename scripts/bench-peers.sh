#!/usr/bin/env bash
# The peer benchmark: bulk_crc against ISA-L, zlib and the JDK, one CRC per
# chunk, in one table.  Not a test: run it by hand on a quiet machine.
# Options are passed to both harnesses (--short skips the rows over 1 MiB).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target bench_peers >/dev/null
out=build/release/bench
mkdir -p "$out/java"
javac -d "$out/java" bench/PeerCrc.java
java -Xms1g -Xmx1g -cp "$out/java" PeerCrc "$@" >"$out/jdk-results.txt"
exec "$out/bench_peers" --jdk "$out/jdk-results.txt" "$@"
