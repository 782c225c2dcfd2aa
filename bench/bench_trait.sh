#!/usr/bin/env bash
# The cost of a trait: on bench_scale.sh's panel (4,800 haplotypes x 199,920
# SNPs), 10,000 individuals of a population sample with PLINK output, without
# a trait (a neutral disease locus, which changes no draw) and with
# -causal_random 1000 -h2 0.5 -prevalence 0.1, the two interleaved; the
# fastest of REPEATS runs of each counts, peak RSS the largest.
#
#   bench/bench_trait.sh [build directory]           (default: build-bench)
#   SCALE_PANEL=<stem of an existing scale panel> REPEATS=2 N=10000 bench/bench_trait.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-trait}"
repeats="${REPEATS:-2}" n="${N:-10000}"

source "$root/bench/common.sh"
build_targets tarvik make_scale_panel
panel="${SCALE_PANEL:-$build/bench-scale/scale}"
if [[ ! -s "$panel.legend" ]]; then
  echo "building the scale panel $panel ..." >&2
  mkdir -p "$(dirname "$panel")"
  "$build/bench/make_scale_panel" "$root/example/chr20.hap.gz" "$root/example/chr20.legend.gz" 8 8 "$panel"
fi
fresh_results
common=(-h "$panel.hap" -l "$panel.legend" -m "$root/example/chr20.map.gz" -n "$n" 0 -seed 7
  -copy_panel_only -chr 20 -output_plink -no_haps_output -no_gens_output)
for ((r = 1; r <= repeats; ++r)); do
  measure plain "$build/tarvik" "${common[@]}" -dl 1945626 1 1 1 -o "$work/plain/run"
  measure trait "$build/tarvik" "${common[@]}" -causal_random 1000 -h2 0.5 -prevalence 0.1 -o "$work/trait/run"
done
cmp -s "$work/plain/run.bed" "$work/trait/run.bed" || { echo "the trait changed the genotypes" >&2; exit 1; }
awk '{ if (!($1 in wall) || $2 < wall[$1]) wall[$1] = $2; if ($5 > rss[$1]) rss[$1] = $5 }
     END { printf "without trait: %.2f s, %.0f MiB\nwith trait:    %.2f s, %.0f MiB\nadded: %.1f%%\n",
                  wall["plain"], rss["plain"] / 1024, wall["trait"], rss["trait"] / 1024,
                  100 * (wall["trait"] / wall["plain"] - 1) }' "$work/results.txt"
grep -h "Trait:\|realized" "$work/trait/run.summary"
