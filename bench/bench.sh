#!/usr/bin/env bash
# Builds a Release tarvik and times fixed workloads on the bundled example
# panel against the cost of merely writing (W1) or compressing (W2) the same
# output, all in this one run, on one thread and on two. See bench/README.md
# for the workloads and the targets.
#
#   bench/bench.sh [build directory]      (default: build-bench)
#   REPEATS=5 bench/bench.sh              (default 3; the best run of each counts)
#   BENCH_WORK=/some/dir bench/bench.sh   (default: <build directory>/bench-work)
#   BASELINE=/old/build/tarvik bench/bench.sh  (also times W1 and W2 with that build)
#
# Each measurement is repeated REPEATS times, the workloads and their floors
# interleaved so that they see the same load, and the fastest run of each is
# reported. Every timed command starts after a `sync`, so that no run pays for
# the previous run's dirty pages. The script needs about 3.5 GB of free disk.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
repeats="${REPEATS:-3}"
work="${BENCH_WORK:-$build/bench-work}"
expected="$root/bench/expected_checksums.txt"

source "$root/bench/common.sh"
build_targets tarvik
tarvik="$build/tarvik"

panel=(-h "$ex/chr20.hap.gz" -l "$ex/chr20.legend.gz" -m "$ex/chr20.map.gz")
# One disease locus at a common SNP (allele-1 frequency 0.32), the whole panel.
model=(-dl 1945626 1 1.5 2.25 -nrs -output_snp_summary)

fresh_results

# check_checksums DIR: the files of the work directory's DIR/ against their
# lines of expected_checksums.txt; a .gz file counts by the sum of its
# decompressed bytes.
check_checksums() {
  local sum file actual bad=0
  while read -r sum file; do
    [[ -z "$sum" || "$sum" == \#* || "$file" != "$1"/* ]] && continue
    if [[ "$file" == *.gz ]]; then
      actual=$(gzip -dc "$work/$file" | sha256sum | cut -d' ' -f1)
    else
      actual=$(sha256sum <"$work/$file" | cut -d' ' -f1)
    fi
    if [[ "$actual" != "$sum" ]]; then
      echo "$file: output differs from before" >&2
      bad=1
    fi
  done <"$expected"
  return "$bad"
}

w1_files=(run.controls.haps run.cases.haps run.legend run.controls.gen run.cases.gen
  run.controls.sample run.cases.sample)
plain_files=(run.controls.haps run.cases.haps run.controls.gen run.cases.gen)

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
checks_failed=0
for ((r = 1; r <= repeats; r++)); do
  echo "run $r of $repeats ..." >&2
  rm -rf "$work/w1" "$work/w2" "$work/w3"
  # The output files must be byte-identical to those of the code before the
  # optimisation (a "-nrs" run is reproducible), gzip files once
  # decompressed, for one thread and for two.
  measure W1_t1 "$tarvik" "${panel[@]}" -o "$work/w1/run" -n 2000 2000 "${model[@]}" -threads 1
  if [[ $r -eq 1 ]] && ! check_checksums w1; then checks_failed=1; fi
  rm -rf "$work/w1"
  measure W1_t2 "$tarvik" "${panel[@]}" -o "$work/w1/run" -n 2000 2000 "${model[@]}" -threads 2
  if [[ $r -eq 1 ]] && ! check_checksums w1; then checks_failed=1; fi
  # Floor of W1: the same bytes written into one new file on the same disk.
  measure W1_floor sh -c 'cd "$1" && shift && cat "$@" >../floor.out' sh "$work/w1" "${w1_files[@]}"
  rm -f "$work/floor.out"
  measure W2_t2 "$tarvik" "${panel[@]}" -o "$work/w2/run.gz" -n 2000 2000 "${model[@]}" -threads 2
  if [[ -n "${BASELINE:-}" ]]; then
    # The same workloads with an earlier build, interleaved with this one's,
    # so that "no slower" is judged in one run.
    rm -rf "$work/wb" && measure W1_base "$BASELINE" "${panel[@]}" -o "$work/wb/run" -n 2000 2000 "${model[@]}"
    rm -rf "$work/wb" && measure W2_base "$BASELINE" "${panel[@]}" -o "$work/wb/run.gz" -n 2000 2000 "${model[@]}"
    rm -rf "$work/wb" && measure W2_t1 "$tarvik" "${panel[@]}" -o "$work/wb/run.gz" -n 2000 2000 "${model[@]}" -threads 1
    rm -rf "$work/wb"
  fi
  # Floor of W2: gzip -6, one process, of W1's plain haplotype and genotype files.
  measure W2_floor sh -c 'cd "$1" && shift && gzip -6 -c "$@" >../floor.gz' sh "$work/w1" "${plain_files[@]}"
  if [[ $r -eq 1 ]]; then
    if ! check_checksums w2; then checks_failed=1; fi
    w2_bytes=$(cd "$work/w2" && cat "${plain_files[@]/%/.gz}" | wc -c)
    gzip_bytes=$(wc -c <"$work/floor.gz")
    nsnps=$(awk -F': ' '/number of SNPs in interval/ {print $2 + 0}' "$work/w1/run.summary")
    nhaps=$(awk -F': ' '/number of haplotypes/ {print $2 + 0}' "$work/w1/run.summary")
  fi
  rm -f "$work/floor.gz"
  rm -rf "$work/w1" "$work/w2"
  measure W3_2000 "$tarvik" "${panel[@]}" -o "$work/w3/run" -n 1000 1000 "${model[@]}"
  rm -rf "$work/w3"
  measure W3_8000 "$tarvik" "${panel[@]}" -o "$work/w3/run" -n 4000 4000 "${model[@]}"
  rm -rf "$work/w3"
done

echo
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores," \
  "$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo), kernel $(uname -r)," \
  "load average before $load_before, now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "panel: $nhaps haplotypes, $nsnps SNPs; best of $repeats runs each"
echo

awk -v nsnps="$nsnps" -v nhaps="$nhaps" -v checks="$checks_failed" -v w2_bytes="$w2_bytes" \
  -v gzip_bytes="$gzip_bytes" '
  {
    if (!($1 in wall) || $2 < wall[$1]) { wall[$1] = $2; user[$1] = $3; sys[$1] = $4 }
    if ($5 > rss[$1]) rss[$1] = $5
  }
  function individuals(name) { return name == "W3_2000" ? 2000 : name == "W3_8000" ? 8000 : 4000 }
  # Simulated rows (2 bytes per allele) + panel (4 bytes per allele) + 100 MiB, in KiB.
  function limit(name) { return (2 * 2 * individuals(name) * nsnps + 4 * nhaps * nsnps) / 1024 + 102400 }
  function verdict(ok) { return ok ? "met" : "NOT met" }
  END {
    printf "%-9s %9s %9s %9s %12s %12s %16s\n", "workload", "wall s", "user s", "sys s", "peak RSS", "RSS limit", "genotypes/s"
    n = split("W1_t1 W1_t2 W1_floor W2_t2 W2_floor W3_2000 W3_8000", names, " ")
    for (i = 1; i <= n; i++) {
      name = names[i]
      is_run = name !~ /floor/
      printf "%-9s %9.3f %9.2f %9.2f %9.0f MiB", name, wall[name], user[name], sys[name], rss[name] / 1024
      if (is_run) printf " %8.0f MiB %16.0f\n", limit(name) / 1024, individuals(name) * nsnps / wall[name]
      else printf " %12s %16s\n", "-", "-"
    }
    r1 = wall["W1_t1"] / wall["W1_floor"]
    r1t = wall["W1_t2"] / wall["W1_floor"]
    r2 = wall["W2_t2"] / wall["W2_floor"]
    size = w2_bytes / gzip_bytes
    r3 = (wall["W3_8000"] / 8000) / (wall["W3_2000"] / 2000)
    print ""
    printf "W1 -threads 1 / write floor (cat, same bytes):  %6.2f  (target <= 2.00: %s)\n", r1, verdict(r1 <= 2.0)
    printf "W1 -threads 2 / write floor:                    %6.2f  (target <= 1.30: %s)\n", r1t, verdict(r1t <= 1.3)
    printf "W2 -threads 2 / gzip -6 of the same plain files:%6.2f  (target <= 0.35: %s)\n", r2, verdict(r2 <= 0.35)
    printf "W2 size / gzip -6 size (%d / %d bytes): %6.3f  (target <= 1.15: %s)\n", w2_bytes, gzip_bytes, size, verdict(size <= 1.15)
    printf "W3 time per individual, 8000 / 2000:            %6.2f  (target <= 1.30: %s)\n", r3, verdict(r3 <= 1.3)
    memory_ok = 1
    for (i = 1; i <= n; i++) if (names[i] !~ /floor/ && rss[names[i]] > limit(names[i])) memory_ok = 0
    printf "peak RSS within rows + panel + 100 MiB:         %6s  (all workloads: %s)\n", "", verdict(memory_ok)
    printf "W1 and W2 output files identical to before:     %6s  (%s)\n", "", checks ? "NO, see above" : "yes"
    if ("W1_base" in wall) {
      printf "\nagainst the BASELINE build, best of each:\n"
      split("W1_base W1_t1 W2_base W2_t1 W2_t2", more, " ")
      for (i = 1; i <= 5; i++) printf "%-9s %9.3f %9.2f %9.2f %9.0f MiB\n", more[i], wall[more[i]], user[more[i]], sys[more[i]], rss[more[i]] / 1024
      printf "W1 -threads 1 / W1 of the baseline:             %6.2f\n", wall["W1_t1"] / wall["W1_base"]
      printf "W2 -threads 1 / W2 of the baseline:             %6.2f\n", wall["W2_t1"] / wall["W2_base"]
      printf "W2 -threads 2 / W2 of the baseline:             %6.2f\n", wall["W2_t2"] / wall["W2_base"]
    }
  }' "$results"
exit "$checks_failed"
