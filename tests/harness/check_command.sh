#!/usr/bin/env bash
# check_command.sh <zelkor.jar> <zelkor-with-natives.jar or -> <libzelkor.so>
#                  <faulty libzelkor.so> <older libzelkor.so> <java command>...
# The jar's check command as users start it: with --library, by name from
# java.library.path, as the module's main class, with --help, with nothing
# to load, over a library whose bulk_crc stores a wrong word, and over one
# of an older build on java.library.path.  The natives jar (unless "-"):
# its own copy where java.library.path has none, the library there where it
# has one, and the errors of a broken file there, an unsupported platform
# and an extraction directory that does not exist.  Each run's exit status
# and output are checked, and no run may print a JVM warning.  The java
# command may be tests/harness/run_newer_jdk.sh, which exits 77 where no
# newer JDK is installed.
set -uo pipefail
jar=$1 natives=$2 lib=$3 faulty=$4 older=$5
shift 5
java=("$@")
status=0
out=$(mktemp)
broken=$(mktemp -d)
trap 'rm -f "$out"; rm -rf "$broken"' EXIT

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

# report <library line> <loaded line>: the regex of a passing report.
report() {
  echo "library: $1\nloaded: $2\nbuild supports: snappy (yes|no), zstd (yes|no), openssl (yes|no)\nCRC32C: [a-z0-9_]+ \\([^\n]+\\)\nCRC32: [a-z0-9_]+ \\([^\n]+\\)\nCRC64/NVME: [a-z0-9_]+ \\([^\n]+\\)\nprocessor: [^\n]+\nself-check: passed\n"
}
dir=$(dirname "$lib")
by_name=$(report "$(realpath "$dir")/libzelkor\.so[^\n]*" 'by name from java\.library\.path')
run 0 "$(report '[^\n]*libzelkor\.so[^\n]*' 'the file that --library names')" \
  -jar "$jar" --library "$lib"
run 0 "$by_name" -Djava.library.path="$dir" -jar "$jar"
run 0 "$by_name" -Djava.library.path="$dir" --enable-native-access=org.tarvik.zelkor \
  -p "$jar" -m org.tarvik.zelkor
run 1 "zelkor: cannot load library \"zelkor\" \\(libzelkor\\.so\\) on java\\.library\\.path=$(dirname "$older"): the library at $(dirname "$older")/libzelkor\\.so is older than this jar \\(native interface revision 0, the jar needs [0-9]+\\): install" \
  -Djava.library.path="$(dirname "$older")" -jar "$jar"
run 0 '(?s)usage: java -jar zelkor\.jar \[--library PATH\].*Exit status: 0 .*2 the self-check' \
  -jar "$jar" --help
run 1 'zelkor: cannot load library "zelkor" \(libzelkor\.so\) on java\.library\.path=/nonexistent/dir: [^\n]*; and this jar carries no copy for linux-[a-z0-9_]+: put the directory of libzelkor\.so on java\.library\.path, or use a zelkor-with-natives\.jar that carries one' \
  -Djava.library.path=/nonexistent/dir -jar "$jar"
run 1 'zelkor: cannot load file /nonexistent/libzelkor\.so: ' -jar "$jar" --library /nonexistent/libzelkor.so
run 64 'zelkor: unknown argument --frobnicate\nusage:' -jar "$jar" --frobnicate
run 2 'self-check: FAILED\n  CRC32C, [^\n]*: computed words differ from java\.util\.zip' \
  -jar "$jar" --library "$faulty"

if [ "$natives" != - ]; then
  if [ ! -f "$natives" ]; then
    echo "FAILED: no $natives: scripts/natives-jar.sh makes it"
    exit 1
  fi
  jar_copy=$(report '[^\n]*/zelkor-[^/\n]+/libzelkor\.so' \
    "the jar's own copy for linux-(x86_64|aarch64), extracted below [^\n]+ and deleted once loaded")
  run 0 "$jar_copy" -Djava.library.path= -jar "$natives"
  run 0 "$jar_copy" -Djava.library.path=/nonexistent/dir --enable-native-access=org.tarvik.zelkor \
    -p "$natives" -m org.tarvik.zelkor
  run 0 "$by_name" -Djava.library.path="$dir" -jar "$natives"
  # A file that dlopen refuses cleanly (a program, not a library): a text
  # file would do too, but the JVM warns about the stack guard of any
  # non-ELF file it fails to load.
  cp "$(type -P true)" "$broken/libzelkor.so"
  run 1 "the library at $broken/libzelkor\\.so cannot be loaded: [^\\n]*; replace it with a working build, or remove it from java\\.library\\.path" \
    -Djava.library.path="$broken" -jar "$natives"
  run 1 'and no jar carries one for this platform \(os\.name Linux, os\.arch sparc; ' \
    -Dos.arch=sparc -Djava.library.path= -jar "$natives"
  run 1 'cannot write this jar.s libzelkor\.so for linux-[a-z0-9_]+ into /nonexistent/dir: [^\n]*; set the system property org\.tarvik\.zelkor\.tmpdir to a writable directory' \
    -Dorg.tarvik.zelkor.tmpdir=/nonexistent/dir -Djava.library.path= -jar "$natives"
fi
exit $status
