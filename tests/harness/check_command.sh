#!/usr/bin/env bash
# check_command.sh <zelkor.jar> <libzelkor.so> <faulty libzelkor.so> <java command>...
# The jar's check command as users start it: with --library, by name from
# java.library.path, as the module's main class, with --help, with nothing
# to load, and over a library whose bulk_crc stores a wrong word.  Each
# run's exit status and output are checked, and no run may print a JVM
# warning.  The java command may be tests/harness/run_newer_jdk.sh, which
# exits 77 where no newer JDK is installed.
set -uo pipefail
jar=$1 lib=$2 faulty=$3
shift 3
java=("$@")
status=0
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# run <want status> <regex the output must match> <java arguments>...
run() {
  local want=$1 pattern=$2
  shift 2
  "${java[@]}" -Xcheck:jni "$@" >"$out" 2>&1
  local got=$?
  if [ $got = 77 ] && grep -q '^skipped:' "$out"; then
    cat "$out"
    exit 77
  fi
  if [ $got != "$want" ] || ! grep -Pzq -- "$pattern" "$out" || grep -q 'WARNING' "$out"; then
    echo "FAILED: java $* (exit $got, wanted $want; output must match: $pattern)"
    sed 's/^/  | /' "$out"
    status=1
  else
    echo "ok: java $* (exit $got)"
  fi
}

report='library: [^\n]*libzelkor\.so[^\n]*\nbuild supports: snappy (yes|no), zstd (yes|no), openssl (yes|no)\nCRC32C: [a-z0-9_]+ \([^\n]+\)\nCRC32: [a-z0-9_]+ \([^\n]+\)\nprocessor: [^\n]+\nself-check: passed\n'
dir=$(dirname "$lib")
run 0 "$report" -jar "$jar" --library "$lib"
run 0 "$report" -Djava.library.path="$dir" -jar "$jar"
run 0 "$report" -Djava.library.path="$dir" --enable-native-access=org.tarvik.zelkor \
  -p "$jar" -m org.tarvik.zelkor
run 0 '(?s)usage: java -jar zelkor\.jar \[--library PATH\].*Exit status: 0 .*2 the self-check' \
  -jar "$jar" --help
run 1 'zelkor: cannot load library "zelkor" \(libzelkor\.so\) on java\.library\.path=/nonexistent/dir: ' \
  -Djava.library.path=/nonexistent/dir -jar "$jar"
run 1 'zelkor: cannot load file /nonexistent/libzelkor\.so: ' -jar "$jar" --library /nonexistent/libzelkor.so
run 64 'zelkor: unknown argument --frobnicate\nusage:' -jar "$jar" --frobnicate
run 2 'self-check: FAILED\n  CRC32C, [^\n]*: computed words differ from java\.util\.zip' \
  -jar "$jar" --library "$faulty"
exit $status
