#!/usr/bin/env bash
# check_natives_jar.sh <zelkor-with-natives.jar> <zelkor.jar> <zelkor.map> <platform>...
# zelkor-with-natives.jar holds every entry of zelkor.jar byte for byte (the
# classes, the manifest with Main-Class and Enable-Native-Access) but the
# module descriptor, which the jar tool writes anew and which must describe
# the same module (with its main class); and besides them exactly one
# libzelkor.so for each platform named: an ELF shared object of that
# platform's machine, 64-bit, that exports exactly the names of zelkor.map,
# and so the same names as each other copy.  JAR names the jar tool.
set -euo pipefail
jar=${JAR:-jar}
natives=$1 plain=$2 map=$3
shift 3
platforms=("$@")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAILED: $*"; status=1; }

[ -f "$natives" ] || { echo "no $natives: scripts/natives-jar.sh makes it"; exit 1; }
natives=$(realpath "$natives") plain=$(realpath "$plain")
mkdir "$work/natives" "$work/plain"
(cd "$work/natives" && "$jar" --extract --file "$natives")
(cd "$work/plain" && "$jar" --extract --file "$plain")

prefix=org/tarvik/zelkor/util/native
want_extra=$(for p in "${platforms[@]}"; do echo "$prefix/$p/libzelkor.so"; done | sort)
extra=$(cd "$work/natives" && find . -type f | sed 's|^\./||' | sort |
        comm -23 - <(cd "$work/plain" && find . -type f | sed 's|^\./||' | sort))
if [ "$extra" != "$want_extra" ]; then
  fail "entries beyond zelkor.jar's:"; diff <(echo "$want_extra") <(echo "$extra") || true
fi
while read -r entry; do
  [ "$entry" = module-info.class ] && continue
  if ! cmp -s "$work/plain/$entry" "$work/natives/$entry"; then
    fail "$entry differs from zelkor.jar's"
  fi
done < <(cd "$work/plain" && find . -type f | sed 's|^\./||')

manifest=$work/natives/META-INF/MANIFEST.MF
for line in 'Main-Class: org.tarvik.zelkor.util.LibraryCheck' 'Enable-Native-Access: ALL-UNNAMED'; do
  tr -d '\r' <"$manifest" | grep -qxF "$line" || fail "the manifest lacks \"$line\""
done
# The first line names the jar's file.
describe=$("$jar" --describe-module --file "$natives" | tail -n +2)
if [ "$describe" != "$("$jar" --describe-module --file "$plain" | tail -n +2)" ]; then
  fail "the module differs from zelkor.jar's:"
  diff <("$jar" --describe-module --file "$plain") <("$jar" --describe-module --file "$natives") || true
fi
grep -qx 'main-class org.tarvik.zelkor.util.LibraryCheck' <<<"$describe" ||
  fail "the module names no main class LibraryCheck: $describe"

declare -A machine=([linux-x86_64]='Advanced Micro Devices X86-64' [linux-aarch64]='AArch64')
for p in "${platforms[@]}"; do
  lib=$work/natives/$prefix/$p/libzelkor.so
  [ -f "$lib" ] || continue
  header=$(readelf -h "$lib")
  for field in 'Class: *ELF64' 'Type: *DYN' "Machine: *${machine[$p]:-unknown platform $p}\$"; do
    grep -Eq "^ *$field" <<<"$header" || fail "$p: the header has no \"$field\""
  done
  "$here/../harness/check_exports.sh" "$lib" "$map" >/dev/null || fail "$p: exports differ from $map"
  nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort >"$work/$p.exports"
done
first=${platforms[0]}
for p in "${platforms[@]:1}"; do
  [ -f "$work/$p.exports" ] || continue
  if ! cmp -s "$work/$first.exports" "$work/$p.exports"; then
    fail "$p exports other names than $first:"
    diff "$work/$first.exports" "$work/$p.exports" || true
  fi
done
[ $status -eq 0 ] && echo "natives jar ok: zelkor.jar's entries and ${platforms[*]}"
exit $status
