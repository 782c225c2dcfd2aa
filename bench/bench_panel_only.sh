#!/usr/bin/env bash
# Times W1 (bench.sh: the example panel, 2,000 controls + 2,000 cases, plain
# files, -dl 1945626 1 1.5 2.25 -nrs -output_snp_summary) with and without
# -copy_panel_only, interleaved, and W4 at 1,000 + 1,000 (bench_scale.sh's
# panel of 4,800 haplotypes x 199,920 SNPs, tags every 50th SNP) likewise
# when its panel is there. Wall time from the clock, user and system time and
# peak RSS from /usr/bin/time -v; the fastest run of each counts (peak RSS:
# the largest).
#
#   bench/bench_panel_only.sh [build directory]       (default: build-bench)
#   REPEATS=3 W4_REPEATS=2 bench/bench_panel_only.sh
#   SCALE_PANEL=/dir/scale bench/bench_panel_only.sh  (scale.hap and scale.legend
#                              as bench_scale.sh builds them; default
#                              <build directory>/bench-scale/scale; W4 is left
#                              out when they are missing)
#   BENCH_WORK=/some/dir bench/bench_panel_only.sh    (default: <build directory>/bench-panel-only;
#                              about 1 GB, 5 GB with W4)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
repeats="${REPEATS:-3}"
w4_repeats="${W4_REPEATS:-2}"
work="${BENCH_WORK:-$build/bench-panel-only}"
scale="${SCALE_PANEL:-$build/bench-scale/scale}"

source "$root/bench/common.sh"
build_targets tarvik
tarvik="$build/tarvik"

w4=(-h "$scale.hap" -l "$scale.legend" -m "$ex/chr20.map.gz" -n 1000 1000
  -dl 1945626 1 1.5 2.25 -t "$work/tags.txt" -nrs)

fresh_results

# measure_both NAME DIR ARGS...: the run without and with -copy_panel_only, its
# output removed after each.
measure_both() {
  local name=$1 dir=$2
  shift 2
  measure "$name" "$tarvik" "$@" -o "$dir/run"
  rm -rf "$dir"
  measure "${name}_panel_only" "$tarvik" "$@" -copy_panel_only -o "$dir/run"
  rm -rf "$dir"
}

for ((r = 1; r <= repeats; r++)); do
  echo "W1 run $r of $repeats ..." >&2
  measure_both W1 "$work/w1" "${w1[@]}"
done

if [[ -s "$scale.legend" && -s "$scale.hap" ]]; then
  awk 'NR > 1 && NR % 50 == 0 {print $2}' "$scale.legend" >"$work/tags.txt"
  for ((r = 1; r <= w4_repeats; r++)); do
    echo "W4 run $r of $w4_repeats ..." >&2
    measure_both W4 "$work/w4" "${w4[@]}"
  done
else
  echo "no scale panel at $scale.hap / $scale.legend: W4 left out (bench_scale.sh builds it)" >&2
fi

echo
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores," \
  "load average now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "best of $repeats runs (W1), $w4_repeats (W4)"
echo
awk '
  { if (!($1 in wall) || $2 < wall[$1]) { wall[$1] = $2; user[$1] = $3; sys[$1] = $4 }
    if ($5 > rss[$1]) rss[$1] = $5
    if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
  END {
    printf "%-20s %9s %9s %9s %12s\n", "workload", "wall s", "user s", "sys s", "peak RSS"
    for (i = 1; i <= n; i++) {
      w = order[i]
      printf "%-20s %9.3f %9.2f %9.2f %8.0f MiB\n", w, wall[w], user[w], sys[w], rss[w] / 1024
    }
    print ""
    for (i = 1; i <= n; i++) {
      w = order[i]
      if (w ~ /_panel_only$/) {
        b = substr(w, 1, length(w) - 11)
        printf "%s: -copy_panel_only / default  wall %.2f  user %.2f  peak RSS %.2f\n", b,
          wall[w] / wall[b], (user[b] > 0 ? user[w] / user[b] : 0), rss[w] / rss[b]
      }
    }
  }' "$results"
