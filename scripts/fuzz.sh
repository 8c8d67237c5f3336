#!/usr/bin/env bash
# fuzz.sh [SECONDS]
#
# Builds the libFuzzer targets (preset fuzz: clang 14, ASan and UBSan) and
# runs each for SECONDS (default: ZELKOR_FUZZ_SECONDS, else 45), starting
# from a fresh copy of its seed corpus (tests/fuzz/corpus/<name>), so that
# runs are comparable and the committed corpus is never written.  Prints
# each target's executions, executions per second and coverage (libFuzzer's
# cov: edges and ft: features).  Any finding fails the run; the input that
# found it is kept under build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${ZELKOR_FUZZ_SECONDS:-45}}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
mkdir -p "$build/artifacts" "$build/logs"
shopt -s nullglob
targets=("$build"/tests/fuzz/*_fuzz)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no fuzz targets built" >&2; exit 1; }

status=0
printf '%-18s %10s %8s %7s %7s %6s\n' target execs exec/s cov ft corpus
for target in "${targets[@]}"; do
  name=$(basename "$target" _fuzz)
  seeds=tests/fuzz/corpus/$name
  work=$build/corpus/$name
  log=$build/logs/$name.log
  rm -rf "$work"
  mkdir -p "$work"
  [ -d "$seeds" ] && cp "$seeds"/. "$work"/ -r
  set +e
  "$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 \
    -artifact_prefix="$build/artifacts/$name-" "$work" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$last")
  rate=-
  [ -n "$execs" ] && [ -n "$took" ] && [ "$took" -gt 0 ] && rate=$((execs / took))
  printf '%-18s %10s %8s %7s %7s %6s\n' "$name" "${execs:--}" "$rate" "${cov:--}" "${ft:--}" "${corp:--}"
  if [ "$rc" -ne 0 ]; then
    echo "fuzz: $name FAILED (exit $rc); its log ($log) ends:" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit "$status"
