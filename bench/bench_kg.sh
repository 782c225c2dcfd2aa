#!/usr/bin/env bash
# The workloads on a panel of 1000 Genomes density (bench/make_scale_panel:
# the example's 600 haplotypes widened to 4,800, its 24,990 SNPs tiled 44
# times over a tiled map, written as BCF; 1,041,480 biallelic SNPs are read):
#
#   W5: -copy_panel_only to .bed at 5,000 + 5,000 and 50,000 + 50,000
#       individuals (-threads 2), beside the write floors of the same run:
#       `cat` of the .bed to a new file and plink2 --dummy of the same size;
#   W6: 5,000 + 5,000 individuals to BCF (-threads 2), and the same with a
#       BASELINE binary when one is given;
#   R:  reading the BCF panel (bench/read_panel, 2 threads) beside
#       `bcftools view -Ou` of it.
#
# Each is run once: the large ones take minutes. A run's write phase is the
# output file's life, from its creation (birth time) to its last write.
#
#   bench/bench_kg.sh [build directory]       (default: build-bench)
#   BENCH_WORK=/dir W5_SIZES="5000 50000" BASELINE=/path/tarvik bench/bench_kg.sh
#
# W5 at 50,000 + 50,000 writes a 27 GB .bed and its copy: about 60 GB of free disk.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-kg}"
sizes="${W5_SIZES:-5000 50000}"

source "$root/bench/common.sh"
build_targets tarvik make_scale_panel read_panel
mkdir -p "$work"
kg_panel
results="$work/results.txt"
: >"$results"
nsnps=1041480

# write_phase FILE: seconds from the file's creation to its last change.
write_phase() {
  local born changed
  born=$(stat -c %w "$1") changed=$(stat -c %y "$1")
  echo "$(( $(date -d "$changed" +%s%N) - $(date -d "$born" +%s%N) ))" | awk '{printf "%.1f", $1 / 1e9}'
}
# note NAME FILE: appends the write phase and size of FILE to NAME's line.
note() {
  sed -i "\$s/\$/ $(write_phase "$2") $(stat -c %s "$2")/" "$results"
}
run=(-vcf "$panel.bcf" -chr 20 -m "$panel.map" -dl 1945626 1 1.5 2.25 -copy_panel_only -no_haps_output
  -no_gens_output -threads 2 -seed 1)

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >"$work/load.txt"
measure R_bcftools sh -c "bcftools view -Ou '$panel.bcf' >/dev/null"
measure R_tarvik "$build/bench/read_panel" -vcf "$panel.bcf" "$panel.map" 2
for binary in "$build/tarvik" ${BASELINE:-}; do
  name=W6; [[ "$binary" == "$build/tarvik" ]] || name=W6_baseline
  rm -rf "$work/out"
  measure "$name" "$binary" "${run[@]}" -n 5000 5000 -output_bcf -o "$work/out/run"
  note "$name" "$work/out/run.bcf"
done
for n in $sizes; do
  rm -rf "$work/out"
  measure "W5_$((2 * n))" "$build/tarvik" "${run[@]}" -n "$n" "$n" -output_plink -o "$work/out/run"
  note "W5_$((2 * n))" "$work/out/run.bed"
  measure "W5_$((2 * n))_cat" sh -c "cat '$work/out/run.bed' >'$work/out/copy.bed'"
  rm -rf "$work/out"
  mkdir -p "$work/out"
  measure "W5_$((2 * n))_plink2" plink2 --dummy "$((2 * n))" "$nsnps" --make-bed --threads 2 --out "$work/out/dummy"
  rm -rf "$work/out"
done
rm -rf "$work/out"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$work/load.txt"

echo "machine: $(nproc) cores; $(paste -sd';' "$work/load.txt")"
awk -v snps="$nsnps" '
  BEGIN {printf "%-16s %9s %8s %8s %10s %9s %14s %10s\n", "run", "wall s", "user s", "sys s", "peak RSS",
         "write s", "bytes", "ns/geno"}
  {
    w[$1] = $2; wr[$1] = $6
    n = $1; sub(/^W5_/, "", n); sub(/_.*/, "", n)
    geno = ($1 ~ /^W5_[0-9]+$/) ? n * snps : ($1 ~ /^W6/ ? 10000 * snps : 0)
    printf "%-16s %9.1f %8.1f %8.1f %6d MiB %9s %14s %10s\n", $1, $2, $3, $4, $5 / 1024, $6 == "" ? "-" : $6,
           $7 == "" ? "-" : $7, (geno > 0 && $6 != "") ? sprintf("%.2f", $6 * 1e9 / geno) : "-"
  }
  END {
    printf "\nreading the BCF panel / bcftools view -Ou: %.2f (target <= 1.5)\n", w["R_tarvik"] / w["R_bcftools"]
    for (k in w) if (k ~ /^W5_[0-9]+$/)
      printf "%s: run / cat of its .bed %.2f, write phase / cat %.2f (target <= 2), run / plink2 --dummy %.2f (target < 1)\n",
             k, w[k] / w[k "_cat"], wr[k] / w[k "_cat"], w[k] / w[k "_plink2"]
    if ("W6_baseline" in w)
      printf "W6: baseline / this build, whole run %.2f, BCF write phase %.2f (target >= 4)\n",
             w["W6_baseline"] / w["W6"], wr["W6_baseline"] / wr["W6"]
  }' "$results"
