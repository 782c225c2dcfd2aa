#!/usr/bin/env bash
# The validation report's figures for the two engines of -copy_panel_only
# runs: SEEDS runs (default 16) of 2,000 + 0 individuals on the example panel
# from a build before the population engine (PER_SNP, a tarvik binary: the
# per-SNP engine) and from this build (the population engine), seeds
# interleaved; then the mean and SD of each figure over the runs, and the
# difference of the means in standard errors.
#
#   PER_SNP=<old build>/tarvik bench/engine_reports.sh [build dir]     (default: build-bench)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-engines}"
seeds="${SEEDS:-16}"
[[ -x "${PER_SNP:-}" ]] || { echo "set PER_SNP to a tarvik binary built before the population engine" >&2; exit 2; }

source "$root/bench/common.sh"
build_targets tarvik
mkdir -p "$work"
panel=(-h "$ex/chr20.hap.gz" -l "$ex/chr20.legend.gz" -m "$ex/chr20.map.gz")
for ((s = 1; s <= seeds; s++)); do
  for engine in snp pop; do
    binary="$build/tarvik"
    [[ $engine == pop ]] || binary="$PER_SNP"
    rm -rf "$work/$engine$s"
    "$binary" "${panel[@]}" -n 2000 0 -dl 1945626 1 1.0 1.0 -seed "$s" -copy_panel_only -no_gens_output \
      -o "$work/$engine$s/run" >/dev/null
    python3 "$root/scripts/validate.py" "$work/$engine$s/run" "${panel[@]}" -copy_panel_only >/dev/null
    rm -f "$work/$engine$s"/run.*.haps
  done
done
python3 "$root/bench/engine_reports.py" "$work"
