#!/usr/bin/env bash
# An ascertained case/control study of a polygenic disease on the panel of
# 1000 Genomes density (bench_kg.sh builds it): prevalence 0.01, 500 causal
# SNPs, h2 0.5, 5,000 cases and 5,000 controls picked by liability from the
# population engine's individuals (-ascertain), written as PLINK files on
# two threads. Reports the run's time and peak RSS and, from its log, the
# population scored and its case fraction against the prevalence.
#
#   bench/bench_ascertain.sh [build directory]     (default: build-bench)
#   BENCH_WORK=/dir CASES=5000 CONTROLS=5000 bench/bench_ascertain.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-kg}"
cases="${CASES:-5000}" controls="${CONTROLS:-5000}"

source "$root/bench/common.sh"
build_targets tarvik make_scale_panel
kg_panel
results="$work/results_ascertain.txt"
: >"$results"
rm -rf "$work/asc"
measure ascertain "$build/tarvik" -vcf "$panel.bcf" -chr 20 -m "$panel.map" -copy_panel_only -threads 2 -seed 5 \
  -causal_random 500 -h2 0.5 -prevalence 0.01 -ascertain "$cases" "$controls" -output_plink -no_haps_output \
  -no_gens_output -o "$work/asc/run"
echo "machine: $(nproc) cores; load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk '{printf "wall %.1f s, user %.1f s, sys %.1f s, peak RSS %d MiB\n", $2, $3, $4, $5 / 1024}' "$results"
grep -A2 "^Ascertainment" "$work/asc/run.summary"
sed -n 's/.*scored \([0-9]*\) individuals.* \([0-9]*\) above.*standard error \([0-9.e-]*\)).*/\1 \2 \3/p' \
  "$work/asc/run.summary" |
  awk '{f = $2 / $1; printf "case fraction %.6f against 0.01: %.2f standard errors\n", f, (f - 0.01) / $3}'
