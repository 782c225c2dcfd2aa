#!/usr/bin/env bash
# What -copy_panel_only changes, on the bundled example panel, side by side
# with the default copying model (every haplotype copies from the panel and
# the haplotypes simulated before it):
#
#  1. one run of BIG_N controls + BIG_N cases per mode (-no_gens_output, a
#     strong disease locus: -dl 1945626 1 2.0 4.0, the same -seed): exact
#     duplicate haplotypes (all of them, by grouping identical haplotypes),
#     the variance of the control allele frequencies around the panel's
#     against pq/M, and the case risk-allele frequency against the disease
#     model in standard errors; plus a few figures of scripts/validate.py;
#  2. the duplicates expected for independent mosaics of the panel, computed
#     exactly from the copying model with N = n (panel_only_stats.py expected);
#  3. RUNS runs of NULL_N + NULL_N per mode with seeds 1 .. RUNS and seven
#     null loci (rr1 = rr2 = 1): the 1-df allelic chi-square of cases against
#     controls at each, and lambda = median / 0.4549 (bootstrap SE over runs);
#     and the control allele-frequency figure of every run, whose spread
#     over the runs is its standard error (neighbouring SNPs share copied
#     segments, so the SNPs of one run are far from independent).
#
#   bench/panel_only_stats.sh [build directory]   (default: build-bench)
#   BIG_N=5000 RUNS=60 NULL_N=1000 SEED=1 BENCH_WORK=/some/dir bench/panel_only_stats.sh
#
# Defaults: BIG_N=10000 (10,000 controls + 10,000 cases), RUNS=40,
# NULL_N=1000, SEED=1. Needs about 2.5 GB of free disk and numpy (the
# system python3 is used when the one on PATH lacks it).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${BENCH_WORK:-$build/panel-only-stats}"
big_n="${BIG_N:-10000}"
runs="${RUNS:-40}"
null_n="${NULL_N:-1000}"
seed="${SEED:-1}"

source "$root/bench/common.sh"
build_targets tarvik
tarvik="$build/tarvik"
python=python3
python3 -c 'import numpy' 2>/dev/null || python=/usr/bin/python3
stats() { "$python" "$root/bench/panel_only_stats.py" "$@"; }

panel=(-h "$ex/chr20.hap.gz" -l "$ex/chr20.legend.gz" -m "$ex/chr20.map.gz")
locus=(1945626 1 2.0 4.0)
null_loci=(1152237 1561204 1945626 2554907 2961408 3357385 3759528)
modes=(default panel_only)
mode_flags() { [[ $1 == panel_only ]] && echo -copy_panel_only || true; }

rm -rf "$work"
mkdir -p "$work"
t0=$(date +%s)

# 1. The large runs.
for mode in "${modes[@]}"; do
  echo "[$(($(date +%s) - t0)) s] $big_n + $big_n, $mode ..." >&2
  out="$work/big_$mode/run"
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time_$mode.txt" "$tarvik" "${panel[@]}" -o "$out" -n "$big_n" "$big_n" \
    -seed "$seed" -dl "${locus[@]}" -no_gens_output $(mode_flags "$mode") >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) '/Maximum resident/ {rss = $NF}
    END {printf "tarvik_wall_s %.2f\ntarvik_peak_rss_mib %.0f\n", ns / 1e9, rss / 1024}' \
    "$work/time_$mode.txt" >"$work/big_$mode.txt"
  stats run "$out" -h "$ex/chr20.hap.gz" -l "$ex/chr20.legend.gz" -dl "${locus[@]}" >>"$work/big_$mode.txt"
  "$python" "$root/scripts/validate.py" "$out" "${panel[@]}" -dl "${locus[@]}" >/dev/null
  awk -F'\t' '$2 ~ /^(fraction_sim_exact_duplicate_in_sim|fraction_sim_near_duplicate_in_sim|query_haplotypes|sim_sim_fraction_above_0.177|sim_sim_fraction_above_0.0442|panel_panel_fraction_above_0.177|adversarial_accuracy)$/ {
      print "validate_" $2, $3 }' "$out.validation.tsv" >>"$work/big_$mode.txt"
  rm -rf "$work/big_$mode"
done

# 2. What independent mosaics of the panel give.
echo "[$(($(date +%s) - t0)) s] duplicates expected for independent mosaics ..." >&2
stats expected "${panel[@]}" -haplotypes $((2 * big_n)) >"$work/expected.txt"

# 3. Null loci over repeated runs.
echo "[$(($(date +%s) - t0)) s] $runs runs of $null_n + $null_n per mode at null loci ..." >&2
null_dl=()
for p in "${null_loci[@]}"; do null_dl+=("$p" 1 1 1); done
: >"$work/null_counts.txt"
mkdir -p "$work/freq"
for ((s = 1; s <= runs; s++)); do
  for mode in "${modes[@]}"; do
    out="$work/null/run"
    "$tarvik" "${panel[@]}" -o "$out" -n "$null_n" "$null_n" -seed "$s" -dl "${null_dl[@]}" \
      -no_gens_output $(mode_flags "$mode") >/dev/null
    # Line k of a .haps file is SNP k of the legend (after its header);
    # count the 1 alleles (the risk allele of every null locus) there.
    awk -v mode="$mode" -v seed="$s" -v wanted="${null_loci[*]}" '
      BEGIN { n = split(wanted, w, " "); for (i = 1; i <= n; i++) want[w[i]] = 1 }
      FILENAME ~ /legend$/ { if (FNR > 1 && ($2 in want)) { row[FNR - 1] = $2; if (FNR - 1 > last) last = FNR - 1 } next }
      FNR in row { c = gsub(/1/, "1"); if (FILENAME ~ /controls/) ctl[row[FNR]] = c; else cas[row[FNR]] = c }
      FNR >= last { nextfile }
      END { for (p in ctl) print mode, seed, p, ctl[p], cas[p] }' \
      "$out.legend" "$out.controls.haps" "$out.cases.haps" >>"$work/null_counts.txt"
    # The allele-1 count of every SNP of the controls.
    awk '{print gsub(/1/, "1")}' "$out.controls.haps" >"$work/freq/${mode}_$s.txt"
    [[ -s "$work/null.legend" ]] || cp "$out.legend" "$work/null.legend"
    rm -rf "$work/null"
  done
done
stats lambda "$work/null_counts.txt" "$null_n" "$null_n" >"$work/lambda.txt"
stats freq-runs "$work/freq" "$work/null.legend" "$ex/chr20.hap.gz" "$ex/chr20.legend.gz" $((2 * null_n)) \
  >>"$work/lambda.txt"
elapsed=$(($(date +%s) - t0))

# The report.
echo
echo "machine: $(nproc) cores, load average now $(cut -d' ' -f1-3 /proc/loadavg); total $elapsed s"
echo "big runs: -n $big_n $big_n -seed $seed -dl ${locus[*]} -no_gens_output; null runs: -n $null_n $null_n," \
  "-seed 1..$runs, -dl at ${null_loci[*]} with rr1 = rr2 = 1"
echo
awk '
  FILENAME ~ /big_default/ { d[$1] = $2; next }
  FILENAME ~ /big_panel_only/ { p[$1] = $2; next }
  FILENAME ~ /expected/ { e[$1] = $2; next }
  FILENAME ~ /lambda/ { l[$1] = $2; next }
  function row(label, a, ea, b, eb) { printf "%-58s %14s %14s %16s %14s\n", label, a, ea, b, eb }
  function frac(x, total) { return sprintf("%.3g%%", 100 * x / total) }
  END {
    nn = NULL_N
    M = p["control_haplotypes"]; S = M + p["case_haplotypes"]; n = p["panel_haplotypes"]
    urn = (n + M) / (n + 1)
    row("", "default", "expected", "-copy_panel_only", "expected")
    row("tarvik wall s", d["tarvik_wall_s"], "", p["tarvik_wall_s"], "")
    row("tarvik peak RSS MiB", d["tarvik_peak_rss_mib"], "", p["tarvik_peak_rss_mib"], "")
    row("identical pairs of control haplotypes", d["control_pairs_identical"], "",
        p["control_pairs_identical"], sprintf("%.3g", e["expected_pairs_identical"]))
    row("  per pair", sprintf("%.3g", d["control_pairs_identical"] / d["control_pairs"]), "",
        sprintf("%.3g", p["control_pairs_identical"] / p["control_pairs"]), sprintf("%.3g", e["p_pair_identical"]))
    row("identical pairs of simulated haplotypes (controls + cases)", d["simulated_pairs_identical"], "",
        p["simulated_pairs_identical"], sprintf("%.3g", e["p_pair_identical"] * S * (S - 1) / 2))
    row("control haplotypes with a copy among the controls", frac(d["controls_with_copy_in_controls"], M), "",
        frac(p["controls_with_copy_in_controls"], M), "")
    row("simulated haplotypes with a copy among the simulated", frac(d["simulated_with_copy_in_simulated"], S), "",
        frac(p["simulated_with_copy_in_simulated"], S), "")
    row("largest group of identical simulated haplotypes", d["largest_simulated_clone_group"], "",
        p["largest_simulated_clone_group"], "")
    row("control haplotypes identical to a panel haplotype", d["controls_with_copy_in_panel"], "",
        p["controls_with_copy_in_panel"], sprintf("%.3g", e["expected_panel_pairs_identical"]))
    row("identical pairs of panel haplotypes", d["panel_pairs_identical"], "", p["panel_pairs_identical"], "")
    row("validate: copy among simulated, exact (" d["validate_query_haplotypes"] " queries)",
        d["validate_fraction_sim_exact_duplicate_in_sim"], "", p["validate_fraction_sim_exact_duplicate_in_sim"], "")
    row("validate: copy among simulated, <= 10 mismatches", d["validate_fraction_sim_near_duplicate_in_sim"], "",
        p["validate_fraction_sim_near_duplicate_in_sim"], "")
    row("validate: simulated pairs with kinship > 0.177", d["validate_sim_sim_fraction_above_0.177"], "",
        p["validate_sim_sim_fraction_above_0.177"], "panel " d["validate_panel_panel_fraction_above_0.177"])
    row("validate: adversarial accuracy", d["validate_adversarial_accuracy"], "",
        p["validate_adversarial_accuracy"], "0.5")
    for (k = 1; k <= 2; k++) {
      t = k == 1 ? "maf05" : "poly"
      label = k == 1 ? "panel MAF >= 0.05" : "panel-polymorphic"
      row("Var(p_hat - p) / (pq/M), " label " SNPs (" p["freq_snps_" t] ")",
          sprintf("%.3f", d["freq_var_ratio_" t]), sprintf("%.2f", urn), sprintf("%.3f", p["freq_var_ratio_" t]), "1")
      row("  same, " l["panel_only_freq_runs"] " null runs (M = " 2 * nn "): mean +- SD",
          sprintf("%.3f +- %.3f", l["default_freq_var_ratio_" t "_mean"], l["default_freq_var_ratio_" t "_sd"]),
          sprintf("%.2f", l["freq_var_ratio_urn"]),
          sprintf("%.3f +- %.3f", l["panel_only_freq_var_ratio_" t "_mean"], l["panel_only_freq_var_ratio_" t "_sd"]), "1")
    }
    row("case risk-allele frequency at 1945626 (panel f " sprintf("%.4f", p["locus_panel_freq"]) ")",
        sprintf("%.4f", d["locus_case_freq"]), sprintf("%.4f", d["locus_expected_case_freq_pooled"]),
        sprintf("%.4f", p["locus_case_freq"]), sprintf("%.4f", p["locus_expected_case_freq_panel"]))
    row("  z against the model with the panel frequency f", sprintf("%.2f", d["locus_z_panel"]), "",
        sprintf("%.2f", p["locus_z_panel"]), "")
    row("  z against the model with f pooled over panel + controls", sprintf("%.2f", d["locus_z_pooled"]), "",
        sprintf("%.2f", p["locus_z_pooled"]), "")
    row("  control risk-allele frequency", sprintf("%.4f", d["locus_control_freq"]), "",
        sprintf("%.4f", p["locus_control_freq"]), "")
    row("null lambda = median chi2 / 0.4549 (" l["panel_only_statistics"] " tests)",
        sprintf("%.3f +- %.3f", l["default_lambda_median"], l["default_lambda_median_se"]), l["lambda_expected_pool"],
        sprintf("%.3f +- %.3f", l["panel_only_lambda_median"], l["panel_only_lambda_median_se"]), "1")
    row("null mean chi2",
        sprintf("%.3f +- %.3f", l["default_lambda_mean"], l["default_lambda_mean_se"]), l["lambda_expected_pool"],
        sprintf("%.3f +- %.3f", l["panel_only_lambda_mean"], l["panel_only_lambda_mean_se"]), "1")
    print ""
    printf "independent mosaics (N = n = %d): %.3g switches and %.3g mutations per haplotype over %d SNPs;\n",
      n, e["expected_switches"], e["expected_mutations"], e["snps"]
    printf "P(two identical) = %.3g (%.3g from copying the same sources throughout);\n",
      e["p_pair_identical"], e["p_pair_identical_same_path"]
    printf "P(a mosaic equals a given panel haplotype) = %.3g (%.3g from copying it throughout)\n",
      e["p_mosaic_equals_panel_haplotype"], e["p_mosaic_equals_panel_haplotype_same_path"]
  }' NULL_N="$null_n" "$work/big_default.txt" "$work/big_panel_only.txt" "$work/expected.txt" "$work/lambda.txt"
