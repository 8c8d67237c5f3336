#!/usr/bin/env bash
# The peer benchmark: bulk_crc against ISA-L, zlib and the JDK, one CRC per
# chunk, in one table.  Not a test: run it by hand on a quiet machine.
#   --short        skip the rows over 1 MiB (passed to both harnesses)
#   --chart FILE   also draw the table as a chart (FILE.svg or FILE.png;
#                  gnuplot-nox, which scripts/install-deps.sh installs)
set -euo pipefail
cd "$(dirname "$0")/.."

chart=""
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --chart) chart=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done

cmake --preset release >/dev/null
cmake --build --preset release --target bench_peers >/dev/null
out=build/release/bench
mkdir -p "$out/java"
javac -d "$out/java" bench/PeerCrc.java
java -Xms1g -Xmx1g -cp "$out/java" PeerCrc "${args[@]}" >"$out/jdk-results.txt"
table=$out/peers-table.txt
status=0
"$out/bench_peers" --jdk "$out/jdk-results.txt" "${args[@]}" | tee "$table" || status=$?
if [ -n "$chart" ]; then
  gnuplot -e "table='$table'; chart='$chart'" bench/peers_chart.gp
  echo "chart: $chart"
fi
exit $status
