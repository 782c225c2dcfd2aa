#!/usr/bin/env bash
# The scale workload (W4): a synthetic chromosome-scale panel built from the
# bundled example (600 haplotypes widened to 4,800 by rotated copies, 24,990
# SNPs tiled 8 times along chromosome 20's map: 199,920 SNPs), then
# 1,000+1,000 and 10,000+10,000 individuals with tag output. Reports time,
# peak RSS and the memory budget
#   1.25 x panel bits + 64 B per SNP + 40 B per simulated haplotype + 256 MiB.
#
#   bench/bench_scale.sh [build directory]     (default: build-bench)
#   BENCH_WORK=/some/dir bench/bench_scale.sh  (needs about 25 GB of free disk)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-scale}"
copies=8 tiles=8

source "$root/bench/common.sh"
build_targets tarvik make_scale_panel
mkdir -p "$work"
scale_panel
# Every 50th SNP is a tag SNP.
awk 'NR > 1 && NR % 50 == 0 {print $2}' "$panel.legend" >"$work/tags.txt"
nhaps=$((600 * copies))
nsnps=$(($(wc -l <"$panel.legend") - 1))

results="$work/results.txt"
: >"$results"
for n in 1000 10000; do
  rm -rf "$work/out"
  sync
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time.txt" "$build/tarvik" -h "$panel.hap" -l "$panel.legend" \
    -m "$root/example/chr20.map.gz" -o "$work/out/run" -n "$n" "$n" \
    -dl 1945626 1 1.5 2.25 -t "$work/tags.txt" -nrs >/dev/null
  end=$(date +%s%N)
  bytes=$(du -sb "$work/out" | cut -f1)
  awk -v n="$n" -v ns=$((end - start)) -v bytes="$bytes" '
    /Maximum resident/ {rss = $NF} /User time/ {user = $NF} /System time/ {sys = $NF}
    END {printf "%d %.2f %s %s %d %.0f\n", n, ns / 1e9, user, sys, rss, bytes}' "$work/time.txt" >>"$results"
  rm -rf "$work/out"
done

echo "machine: $(nproc) cores, load average now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "panel: $nhaps haplotypes, $nsnps SNPs"
awk -v nhaps="$nhaps" -v nsnps="$nsnps" '
  function budget(T) { return (1.25 * nhaps * nsnps / 8 + 64 * nsnps + 40 * T + 256 * 1048576) / 1048576 }
  { n[NR] = $1; wall[NR] = $2; rss[NR] = $5 / 1024; out[NR] = $6 / 1e9
    printf "W4 %5d+%-5d  wall %7.2f s  user %7.2f s  sys %6.2f s  peak RSS %6.0f MiB  budget %6.0f MiB (%s)  output %5.1f GB\n",
      $1, $1, $2, $3, $4, rss[NR], budget(4 * $1), rss[NR] <= budget(4 * $1) ? "met" : "NOT met", out[NR] }
  END { r = wall[2] / wall[1]
        printf "10x the individuals in %.2fx the time (target <= 11.5: %s)\n", r, r <= 11.5 ? "met" : "NOT met" }' "$results"
