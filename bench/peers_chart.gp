# peers_chart.gp -- draws the peer benchmark's table (bench_peers' output)
# as bars: GB/s for each chunk and data size, bulk_crc beside each peer, one
# panel per checksum type.  scripts/bench-peers.sh --chart FILE runs it with
# table='...' chart='FILE.svg' (or .png).
if (chart[strlen(chart)-2:] eq "png") {
  set terminal pngcairo size 1400,900 font ",11"
} else {
  set terminal svg size 1400,900 dynamic font ",11"
}
set output chart

# Data rows start with the type; columns after the bars' separator are
# bulk_crc, ISA-L, zlib, JDK ("-" where a peer has no such checksum).
rows(type) = sprintf("< awk '$1 == \"%s\" { print $2 $3 \"/\" $4 $5, $7, $8, $9, $10 }' '%s'", type, table)

set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set ylabel "GB/s (per second of thread CPU time)"
set xlabel "chunk / data"
set xtics rotate by -30
set key top right
set datafile missing "-"
set yrange [0:*]
set multiplot layout 2,1 title "bulk\\_crc and its peers, one CRC per chunk"
do for [type in "CRC32C CRC-32"] {
  set title type
  plot rows(type) using 2:xtic(1) title "bulk\\_crc" lc rgb "#1f6fb2", \
       '' using 3 title "ISA-L" lc rgb "#e08b2c", \
       '' using 4 title "zlib" lc rgb "#6aa84f", \
       '' using 5 title "JDK" lc rgb "#999999"
}
unset multiplot
