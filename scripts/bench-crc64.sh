#!/usr/bin/env bash
# The CRC-64/NVME benchmark: zelkor_crc64_update under each tier that runs
# here (the load-time choice marked) against ISA-L's crc64_ecma_refl and
# crc64_jones_refl, which run the same reflected 64-bit folds on other
# polynomials, over 64 B to 64 MiB: GB/s (medians of REPS runs, default 3)
# and the chosen tier's ratio to the faster ISA-L function.  Not a test: run
# it by hand on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${REPS:-3}
[ "$reps" -ge 2 ] || reps=2  # medians need two runs or more

cmake --preset release >/dev/null
cmake --build --preset release --target whole_crc_bench >/dev/null
grep -m1 'model name' /proc/cpuinfo | sed 's/^[^:]*: */processor: /' || true
build/release/bench/whole_crc_bench --benchmark_filter='update/crc64/' \
  --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true 2>/dev/null |
  awk '
    /^crc64 tier:/ { print; next }
    $1 ~ /_median$/ {
      split($1, part, "/"); name = part[3]; size = part[4]; sub(/_median$/, "", size)
      rate = $NF; sub(/^GB\/s=/, "", rate); sub(/\/s$/, "", rate)
      if (!(size in seen)) { seen[size] = 1; sizes[++n] = size }
      if (!(name in known)) { known[name] = 1; names[++m] = name }
      gbs[name, size] = rate
      if (name ~ /_chosen$/) chosen[size] = rate
      if (name ~ /^isal_/ && rate + 0 > best[size] + 0) best[size] = rate
    }
    END {
      printf "%-10s", "bytes"
      for (j = 1; j <= m; ++j) {
        label = names[j]; sub(/^zelkor_/, "", label); sub(/^isal_crc64_/, "isal_", label)
        sub(/_chosen$/, "*", label); printf " %14s", label
      }
      printf " %8s\n", "vs ISA-L"
      for (i = 1; i <= n; ++i) {
        s = sizes[i]; printf "%-10s", s
        for (j = 1; j <= m; ++j) printf " %14s", ((names[j], s) in gbs ? sprintf("%.2f", gbs[names[j], s]) : "-")
        printf " %7.2fx\n", chosen[s] / best[s]
      }
      print "(GB/s, decimal: CRC-64/NVME under each tier, * the load-time choice; isal_: the peers)"
    }'
