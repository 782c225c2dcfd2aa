#!/usr/bin/env bash
# Times the PLINK and VCF writers on workload W1 of bench.sh (example panel,
# 2000 controls and 2000 cases) against the user's way without them:
# converting the run's plain files with plink2, plink1.9 and bcftools.
# Reports time and disk; see bench/README.md.
#
#   bench/bench_formats.sh [build directory]      (default: build-bench)
#   REPEATS=5 bench/bench_formats.sh              (default 3; the best run of each counts)
#   BENCH_WORK=/some/dir bench/bench_formats.sh   (default: <build directory>/formats-work)
#
# Every timed command starts after a `sync`. Needs about 2.5 GB of free disk.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
repeats="${REPEATS:-3}"
work="${BENCH_WORK:-$build/formats-work}"

source "$root/bench/common.sh"
build_targets tarvik
tarvik="$build/tarvik"
for tool in plink1.9 plink2 bcftools; do
  command -v "$tool" >/dev/null || { echo "bench_formats: $tool is needed" >&2; exit 1; }
done

fresh_results

# The user's path to one PLINK set today: each group's haplotypes to a .bed
# set with plink2, then the two sets merged with plink1.9.
convert_plink() {
  set -e
  cd "$work/plain"
  for g in controls cases; do
    plink2 --haps run.$g.haps ref-first --legend run.legend 20 --sample run.$g.sample \
      --make-bed --out ../conv/$g
  done
  plink1.9 --bfile ../conv/controls --bmerge ../conv/cases --allow-no-sex --make-bed --out ../conv/run
}

# ... and to one indexed VCF: bcftools wants legend IDs of the form
# CHROM:POS_REF_ALT, no blank at the end of a haplotype line and one sample
# header line, so the files are adapted, both groups side by side.
convert_vcf() {
  set -e
  cd "$work/plain"
  awk 'NR == 1 {print; next} {print "20:" $2 "_" $3 "_" $4, $2, $3, $4}' run.legend >../conv/run.legend
  paste -d ' ' <(sed 's/ $//' run.controls.haps) <(sed 's/ $//' run.cases.haps) >../conv/run.haps
  { head -1 run.controls.sample; tail -n +3 run.controls.sample; tail -n +3 run.cases.sample; } >../conv/run.sample
  bcftools convert --haplegendsample2vcf ../conv/run.haps,../conv/run.legend,../conv/run.sample \
    -Oz -o ../conv/run.vcf.gz
  bcftools index -t ../conv/run.vcf.gz
}

export work
for ((r = 1; r <= repeats; r++)); do
  echo "run $r of $repeats ..." >&2
  rm -rf "$work"/{plink,vcf,none,plink_only,vcf_only,conv}
  mkdir -p "$work/conv"
  if [[ $r -eq 1 ]]; then
    measure plain "$tarvik" "${w1[@]}" -o "$work/plain/run"
  else
    rm -rf "$work/plain2"
    measure plain "$tarvik" "${w1[@]}" -o "$work/plain2/run"
    rm -rf "$work/plain2"
  fi
  measure with_plink "$tarvik" "${w1[@]}" -o "$work/plink/run" -chr 20 -output_plink
  measure with_vcf "$tarvik" "${w1[@]}" -o "$work/vcf/run" -chr 20 -output_vcf
  # The same without the plain files, whose writing weighs most in the noise.
  measure none "$tarvik" "${w1[@]}" -o "$work/none/run" -no_haps_output -no_gens_output
  measure plink_only "$tarvik" "${w1[@]}" -o "$work/plink_only/run" -no_haps_output -no_gens_output \
    -chr 20 -output_plink
  measure vcf_only "$tarvik" "${w1[@]}" -o "$work/vcf_only/run" -no_haps_output -no_gens_output \
    -chr 20 -output_vcf
  measure convert_plink bash -c "$(declare -f convert_plink); convert_plink"
  measure convert_vcf bash -c "$(declare -f convert_vcf); convert_vcf"
  if [[ $r -lt $repeats ]]; then rm -rf "$work/conv"; fi
done

size() { du -cb "$@" | tail -1 | cut -f1; }
plain_files=("$work"/plain/run.{controls,cases}.{haps,gen,sample} "$work/plain/run.legend")
echo
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores," \
  "load average now $(cut -d' ' -f1-3 /proc/loadavg); best of $repeats runs each"
echo
awk -v plain_bytes="$(size "${plain_files[@]}")" -v plink_bytes="$(size "$work"/plink/run.{bed,bim,fam})" \
  -v vcf_bytes="$(size "$work"/vcf/run.{vcf.gz,vcf.gz.tbi,pheno})" \
  -v conv_plink_bytes="$(size "$work"/conv/run.{bed,bim,fam})" \
  -v conv_vcf_bytes="$(size "$work"/conv/run.{vcf.gz,vcf.gz.tbi})" '
  # Wall times in ms; CPU is user + system of the command and its children,
  # which a shared machine disturbs less than the wall time.
  {
    if (!($1 in wall) || 1000 * $2 < wall[$1]) wall[$1] = 1000 * $2
    if (!($1 in cpu) || $3 + $4 < cpu[$1]) cpu[$1] = $3 + $4
  }
  function verdict(ok) { return ok ? "met" : "NOT met" }
  # writer FORMAT WITH WITHOUT CONVERSION: the cost of a writer as the
  # difference of two runs, against the conversion, in wall and CPU time.
  # A difference that is not positive is below the noise of the machine and
  # gives no ratio; the verdict then rests on what was measured above it.
  function writer(format, with, without, conversion,   w, c, ratio_w, ratio_c) {
    w = (wall[with] - wall[without]) / 1000; c = cpu[with] - cpu[without]
    ratio_w = w > 0 ? sprintf("%.1fx", wall[conversion] / 1000 / w) : "(noise)"
    ratio_c = c > 0 ? sprintf("%.1fx", cpu[conversion] / c) : "(noise)"
    printf "%-5s writer (%s - %s): %6.3f s wall, %5.2f s CPU; conversion %6.3f s wall, %5.2f s CPU:" \
      " %s / %s faster (target >= 5: %s)\n", format, with, without, w, c, wall[conversion] / 1000,
      cpu[conversion], ratio_w, ratio_c, verdict(wall[conversion] / 1000 >= 5 * w && cpu[conversion] >= 5 * c)
  }
  END {
    printf "%-14s %8s %8s\n", "run", "wall s", "CPU s"
    n = split("plain with_plink with_vcf none plink_only vcf_only convert_plink convert_vcf", names, " ")
    for (i = 1; i <= n; i++) printf "%-14s %8.3f %8.2f\n", names[i], wall[names[i]] / 1000, cpu[names[i]]
    print ""
    writer("PLINK", "with_plink", "plain", "convert_plink")
    writer("PLINK", "plink_only", "none", "convert_plink")
    writer("VCF", "with_vcf", "plain", "convert_vcf")
    writer("VCF", "vcf_only", "none", "convert_vcf")
    printf "\ndisk: plain files %.1f MB; .bed/.bim/.fam %.1f MB (converted: %.1f MB);" \
      " .vcf.gz/.tbi/.pheno %.1f MB (converted .vcf.gz/.tbi: %.1f MB)\n",
      plain_bytes / 1e6, plink_bytes / 1e6, conv_plink_bytes / 1e6, vcf_bytes / 1e6, conv_vcf_bytes / 1e6
  }' "$results"
