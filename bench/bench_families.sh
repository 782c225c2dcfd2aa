#!/usr/bin/env bash
# Families against unrelated individuals on the scale panel of bench_scale.sh
# (4,800 haplotypes x 199,920 SNPs): 10,000 individuals as 2,500 families of
# four (two founders, two children) and 10,000 unrelated individuals, both
# copied from the panel alone, PLINK output, interleaved in one run.
#
#   bench/bench_families.sh [build directory]     (default: build-bench)
#   BENCH_WORK=/some/dir  REPEATS=3               (work directory, runs of each)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-families}"
repeats="${REPEATS:-3}"

source "$root/bench/common.sh"
build_targets tarvik make_scale_panel
mkdir -p "$work"
scale_panel
awk 'BEGIN { for (f = 1; f <= 2500; ++f) {
         printf "f%d f%dp 0 0 1\nf%d f%dm 0 0 2\n", f, f, f, f
         for (c = 1; c <= 2; ++c) printf "f%d f%dc%d f%dp f%dm %d\n", f, f, c, f, f, c } }' >"$work/families.ped"
results="$work/results.txt"
: >"$results"
common=(-h "$panel.hap" -l "$panel.legend" -m "$root/example/chr20.map.gz" -copy_panel_only -chr 20
  -output_plink -no_haps_output -no_gens_output -nrs)
for ((r = 1; r <= repeats; ++r)); do
  measure families "$build/tarvik" "${common[@]}" -pedigree "$work/families.ped" -o "$work/out/fam"
  measure unrelated "$build/tarvik" "${common[@]}" -n 10000 0 -o "$work/out/unrelated"
  rm -rf "$work/out"
done
echo "machine: $(nproc) cores, load average now $(cut -d' ' -f1-3 /proc/loadavg)"
awk '{ wall[$1] = wall[$1] " " $2; rss[$1] = $5 / 1024 }
     END { for (k in wall) printf "%-10s wall (s):%s  peak RSS %.0f MiB\n", k, wall[k], rss[k] }' "$results"
