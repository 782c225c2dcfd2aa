#!/usr/bin/env bash
# The R rows of bench_kg.sh alone, as interleaved pairs with medians: reading
# the BCF panel of 1000 Genomes density (bench/read_panel -vcf, the map and the
# panel as a run reads them) beside `bcftools view -Ou` of the same file, once
# on 2 threads and once on 1. The panel is bench_kg.sh's (built there).
#
#   bench/bench_read_kg.sh <panel stem> [pairs] [build directory]
#   e.g. bench/bench_read_kg.sh /work/scratch/panel/kg 5 build-bench
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
panel="$1"
pairs="${2:-5}"
build="${3:-$root/build-bench}"
source "$root/bench/common.sh"
build_targets read_panel

# seconds COMMAND...: the wall-clock seconds of one run.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN {printf "%.3f", ns / 1e9}'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
lines=""
for ((i = 1; i <= pairs; i++)); do
  b=$(seconds sh -c "bcftools view -Ou '$panel.bcf' >/dev/null")
  t2=$(seconds "$build/bench/read_panel" -vcf "$panel.bcf" "$panel.map" 2)
  t1=$(seconds "$build/bench/read_panel" -vcf "$panel.bcf" "$panel.map" 1)
  echo "pair $i: bcftools $b s, read_panel 2 threads $t2 s, 1 thread $t1 s"
  lines+="$b $t2 $t1"$'\n'
done
printf '%s' "$lines" | awk '
  { b[NR] = $1; t2[NR] = $2; t1[NR] = $3 }
  function median(a, n,   i, j, x) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { x = a[j]; a[j] = a[j - 1]; a[j - 1] = x }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  END {
    mb = median(b, NR); m2 = median(t2, NR); m1 = median(t1, NR)
    printf "medians: bcftools %.2f s, 2 threads %.2f s (%.2f x), 1 thread %.2f s (%.2f x); target <= 1.5 x\n",
           mb, m2, m2 / mb, m1, m1 / mb
  }'
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
