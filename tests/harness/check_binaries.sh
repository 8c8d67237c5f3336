#!/usr/bin/env bash
# Both images that carry the engine define the load-time constructor (an
# archive would silently have dropped it) and run their own: no dynamic
# relocation names it, so no other definition in the process can be bound in
# its place.  And no path of the build machine
# is embedded in a shipped binary.  A source dir of "-" skips the path check
# (sanitizer runtimes record full source paths in their own data).
set -euo pipefail
source_dir=$1
shift
status=0
for bin in "$@"; do
  symbols=$(nm "$bin")
  if ! grep -qE ' T init_cpu_support_flag$' <<<"$symbols"; then
    echo "$bin: init_cpu_support_flag is not defined"
    status=1
  fi
  if readelf -rW "$bin" | grep -qE 'init_cpu_support_flag'; then
    echo "$bin: a dynamic relocation names init_cpu_support_flag:"
    readelf -rW "$bin" | grep -E 'init_cpu_support_flag'
    status=1
  fi
  if [ "$source_dir" != "-" ] && strings -a "$bin" | grep -cF -- "$source_dir" >/dev/null; then
    echo "$bin: embeds the build path $source_dir"
    strings -a "$bin" | grep -F -- "$source_dir" | head -3
    status=1
  fi
done
[ $status -eq 0 ] && echo "binaries ok: $*"
exit $status
