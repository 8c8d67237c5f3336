#!/usr/bin/env bash
# The Java benchmark: ChunkedChecksums, one call per buffer, against the JDK
# loop (CRC32C / CRC32 reset, update, getValue and a big-endian store per
# chunk), for heap byte[] and direct buffers, with the goals it is held to.
# Not a test: run it by hand on a quiet machine.  JAVA selects the JVM
# (default: java on the PATH).  With --checked-jni it times instead one
# compute over heap arrays of 16, 64 and 256 MiB, without and with
# -Xcheck:jni (bench/CheckedJniBench.java).  After the ChunkedChecksums
# rows come Crc64Nvme's (bench/Crc64NvmeBench.java): update(byte[]) against
# a plain table CRC-64 in Java and against the class's Java path, and the
# cut-over evidence; --crc64 runs those alone.
set -euo pipefail
cd "$(dirname "$0")/.."
java=${JAVA:-java}

cmake --preset release >/dev/null
cmake --build --preset release --target zelkor zelkor_jar >/dev/null
out=build/release/bench/java
mkdir -p "$out"
jar=build/release/java/zelkor.jar
javac --release 17 -cp "$jar" -d "$out" bench/ChunkedChecksumsBench.java bench/CheckedJniBench.java \
  bench/Crc64NvmeBench.java
grep -m1 'model name' /proc/cpuinfo | sed 's/^[^:]*: */processor: /' || true
if [ "${1:-}" = --checked-jni ]; then
  "$java" -Xms1g -Xmx1g --enable-native-access=ALL-UNNAMED -cp "$jar:$out" \
    CheckedJniBench "$(realpath build/release/src/libzelkor.so)"
  exec "$java" -Xms1g -Xmx1g -Xcheck:jni --enable-native-access=ALL-UNNAMED -cp "$jar:$out" \
    CheckedJniBench "$(realpath build/release/src/libzelkor.so)"
fi
# Native access, so that JDK 24 and later load the library without a warning.
if [ "${1:-}" != --crc64 ]; then
  "$java" -Xms512m -Xmx512m --enable-native-access=ALL-UNNAMED -cp "$jar:$out" \
    ChunkedChecksumsBench "$(realpath build/release/src/libzelkor.so)"
fi
exec "$java" -Xms512m -Xmx512m --enable-native-access=ALL-UNNAMED -cp "$jar:$out" \
  Crc64NvmeBench "$(realpath build/release/src/libzelkor.so)"
