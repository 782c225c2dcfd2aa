#!/usr/bin/env bash
# W1 (the example panel, 2,000 + 2,000 individuals, plain text, -threads 1)
# written into memory (/dev/shm), against `cat` of the same seven files into
# one new file in /dev/shm: a floor that does not swing with the disk's
# writeback. PAIRS interleaved pairs (default 5); the median of the ratios.
# The files are checked against expected_checksums.txt (w1/ lines).
#
#   bench/bench_w1_memory.sh [build directory]      (default: build-bench)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-/dev/shm/tarvik-w1}"
pairs="${PAIRS:-5}"

source "$root/bench/common.sh"
build_targets tarvik
fresh_results
files=(run.controls.haps run.cases.haps run.legend run.controls.gen run.cases.gen run.controls.sample
  run.cases.sample)
for ((p = 1; p <= pairs; p++)); do
  rm -rf "$work/w1" "$work/floor.out"
  measure W1 "$build/tarvik" "${w1[@]}" -threads 1 -o "$work/w1/run"
  measure W1_floor sh -c 'cd "$1" && shift && cat "$@" >../floor.out' sh "$work/w1" "${files[@]}"
done
bad=0
while read -r sum file; do
  [[ "$file" == w1/* ]] || continue
  [[ "$(sha256sum <"$work/$file" | cut -d' ' -f1)" == "$sum" ]] || { echo "DIFFERS: $file"; bad=1; }
done <"$root/bench/expected_checksums.txt"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
awk '$1 == "W1" {w[++n] = $2} $1 == "W1_floor" {f[++m] = $2}
  END {for (i = 1; i <= n; i++) printf "pair %d: W1 %.3f s, cat %.3f s, ratio %.2f\n", i, w[i], f[i], w[i] / f[i]}' \
  "$results"
awk '$1 == "W1" {w[++n] = $2} $1 == "W1_floor" {print w[n] / $2}' "$results" | sort -g |
  awk '{r[NR] = $1} END {printf "median W1 / cat within /dev/shm: %.2f (target <= 1.5)\n",
                          NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2}'
[[ $bad -eq 0 ]] && echo "W1 files identical to expected_checksums.txt" || exit 1
rm -rf "$work"
