#!/usr/bin/env bash
# Compares the time the input readers take on the example panel with the time
# zcat takes merely to decompress the same three files. Best of three each.
#
#   bench/bench_read.sh [build directory]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
hap="$root/example/chr20.hap.gz"
legend="$root/example/chr20.legend.gz"
map="$root/example/chr20.map.gz"

source "$root/bench/common.sh"
build_targets read_panel

# Best wall-clock seconds of three runs of the given command.
best_of_3() {
  local best="" start end t
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    t=$((end - start))
    if [[ -z "$best" || $t -lt $best ]]; then best=$t; fi
  done
  echo "$best"
}

"$build/bench/read_panel" "$hap" "$legend" "$map" >/dev/null  # warm the page cache
zcat_ns=$(best_of_3 zcat "$hap" "$legend" "$map")
read_ns=$(best_of_3 "$build/bench/read_panel" "$hap" "$legend" "$map")
# The same read keeping only a handful of SNPs: decompressing and parsing
# alone, without filling the memory that the kept SNPs' codes occupy.
parse_ns=$(best_of_3 "$build/bench/read_panel" "$hap" "$legend" "$map" 1000000 1001000)

awk -v z="$zcat_ns" -v r="$read_ns" -v p="$parse_ns" 'BEGIN {
  printf "zcat of the three files:          %.3f s\n", z / 1e9
  printf "map and panel reader:             %.3f s\n", r / 1e9
  printf "reader keeping few SNPs:          %.3f s\n", p / 1e9
  printf "ratio reader / zcat:              %.2f\n", r / z
}'
