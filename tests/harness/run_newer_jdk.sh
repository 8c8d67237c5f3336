#!/usr/bin/env bash
# run_newer_jdk.sh <java arguments>...
# Runs the newest JDK above 17 found under /usr/lib/jvm (ZELKOR_JVM_DIR
# overrides the directory) with the arguments, so that a JVM test also
# meets a current JDK's checks (native access, -Xcheck:jni).  A machine
# may have Debian's 17 only: then the run reports a skip (77) and why.
set -euo pipefail
root=${ZELKOR_JVM_DIR:-/usr/lib/jvm}
best="" best_major=17
for jdk in "$root"/*/; do
  jdk=${jdk%/}
  [ -L "$jdk" ] && continue  # Debian's alias names point at the same JDKs
  [ -x "$jdk/bin/java" ] && [ -f "$jdk/release" ] || continue
  version=$(sed -n 's/^JAVA_VERSION="\([^"]*\)".*/\1/p' "$jdk/release")
  major=${version%%.*}
  [ "$major" = 1 ] && continue  # 1.8 and older
  if [[ $major =~ ^[0-9]+$ ]] && [ "$major" -gt "$best_major" ]; then
    best=$jdk best_major=$major
  fi
done
if [ -z "$best" ]; then
  echo "skipped: no JDK newer than 17 under $root, so this run has nothing to run on"
  exit 77
fi
echo "JDK $best_major: $best"
exec "$best/bin/java" "$@"
