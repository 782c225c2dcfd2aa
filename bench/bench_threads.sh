#!/usr/bin/env bash
# The thread budget: W2 (gzip panel in, gzip files out, 2,000 + 2,000
# individuals) with -threads 1, 2 and 3, each once: wall time, user + system
# CPU time and its ratio to the wall time (at most N for N busy threads), and
# the largest number of threads the process had, polled from /proc every
# millisecond.
#
#   bench/bench_threads.sh [build directory]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/bench-work}"
source "$root/bench/common.sh"
build_targets tarvik
fresh_results

printf "%-8s %8s %8s %10s %12s\n" threads "wall s" "cpu s" "cpu/wall" "peak threads"
for n in 1 2 3; do
  rm -rf "$work/t"
  sync
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$work/time.txt" "$build/tarvik" "${w1[@]}" -o "$work/t/run.gz" -threads "$n" \
    >/dev/null &
  time_pid=$!
  peak=0
  # The child of /usr/bin/time is the run.
  while kill -0 "$time_pid" 2>/dev/null; do
    pid=$(pgrep -P "$time_pid" tarvik || true)
    if [[ -n "$pid" ]]; then
      threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
      ((threads > peak)) && peak=$threads
    fi
    sleep 0.001
  done
  wait "$time_pid"
  end=$(date +%s%N)
  read -r user sys <"$work/time.txt"
  awk -v n="$n" -v ns=$((end - start)) -v u="$user" -v s="$sys" -v p="$peak" \
    'BEGIN { w = ns / 1e9; printf "%-8d %8.3f %8.2f %10.2f %12d\n", n, w, u + s, (u + s) / w, p }'
done
rm -rf "$work/t"
