#!/usr/bin/env bash
# The thread budget: W2 (gzip panel in, gzip files out, 2,000 + 2,000
# individuals) with -threads 1, 2 and 3, each once: wall time, user + system
# CPU time and its ratio to the wall time (at most N for N busy threads), and
# the largest number of threads the process had, polled from /proc every
# millisecond.
#
#   bench/bench_threads.sh [build directory]
#   BASELINE=/old/build/tarvik bench/bench_threads.sh   (the same for that build too)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-work}"
source "$root/bench/common.sh"
build_targets tarvik
fresh_results

printf "%-10s %8s %8s %8s %10s %12s\n" build threads "wall s" "cpu s" "cpu/wall" "peak threads"
for binary in "$build/tarvik" ${BASELINE:+"$BASELINE"}; do
for n in 1 2 3; do
  rm -rf "$work/t"
  sync
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$work/time.txt" "$binary" "${w1[@]}" -o "$work/t/run.gz" -threads "$n" \
    >/dev/null &
  time_pid=$!
  # The run is the child of /usr/bin/time; the polling uses bash builtins
  # alone, so that it takes next to no CPU from the run.
  pid=""
  while [[ -z "$pid" ]] && kill -0 "$time_pid" 2>/dev/null; do
    read -r pid _ <"/proc/$time_pid/task/$time_pid/children" || true
  done
  peak=0
  exec 3<> <(:)
  while [[ -n "$pid" ]]; do
    status=""
    { read -r -d '' status <"/proc/$pid/status"; } 2>/dev/null || [[ -n "$status" ]] || break
    [[ "$status" =~ Threads:[[:space:]]+([0-9]+) ]] && ((BASH_REMATCH[1] > peak)) && peak=${BASH_REMATCH[1]}
    read -r -t 0.001 -u 3 || true
  done
  wait "$time_pid"
  end=$(date +%s%N)
  read -r user sys <"$work/time.txt"
  label=$([[ "$binary" == "$build/tarvik" ]] && echo this || echo baseline)
  awk -v b="$label" -v n="$n" -v ns=$((end - start)) -v u="$user" -v s="$sys" -v p="$peak" \
    'BEGIN { w = ns / 1e9; printf "%-10s %8d %8.3f %8.2f %8.2f %12d\n", b, n, w, u + s, (u + s) / w, p }'
done
done
rm -rf "$work/t"
