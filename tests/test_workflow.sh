#!/usr/bin/env bash
# The genome-wide workflow on the example panel split into two regions
# treated as two chromosomes (the disease locus in the first): both runs,
# the merge, and a second run of the workflow with the same base seed.
#   tests/test_workflow.sh <source dir> <tarvik binary>
set -euo pipefail
src="$(cd "$1" && pwd)" tarvik="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
for tool in snakemake plink1.9 plink2; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not found"; exit 1; }
done
work=$(mktemp -d /tmp/tarvik_workflow_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
ex="$src/example"
cat >config.yaml <<YAML
tarvik: $tarvik
out: genome
controls: 60
cases: 40
base_seed: 777
format: plink
threads: 1
chromosomes:
  "1":
    haps: $ex/chr20.hap.gz
    legend: $ex/chr20.legend.gz
    map: $ex/chr20.map.gz
    interval: [1000000, 1400000]
    loci: [[1066806, 1, 3.0, 9.0]]
  "2":
    haps: $ex/chr20.hap.gz
    legend: $ex/chr20.legend.gz
    map: $ex/chr20.map.gz
    interval: [2500000, 2800000]
YAML
fail() { echo "FAIL: $*"; exit 1; }
# Locally on two cores, or through a cluster profile (tests/slurm_one_node.sh).
run=(--cores 2)
if [ -n "${SNAKEMAKE_PROFILE:-}" ]; then run=(--profile "$SNAKEMAKE_PROFILE"); fi
unset SNAKEMAKE_PROFILE
snakemake -s "$src/workflow/Snakefile" --configfile config.yaml "${run[@]}" -q >snake1.log 2>&1 ||
  { cat snake1.log; fail "the workflow failed"; }

g=genome
[ "$(wc -l <$g/merged.fam)" -eq 100 ] || fail "merged individuals"
[ "$(awk '$6 == 1' $g/merged.fam | wc -l)" -eq 60 ] || fail "controls"
[ "$(awk '$6 == 2' $g/merged.fam | wc -l)" -eq 40 ] || fail "cases"
snps=$(( $(wc -l <$g/chr1.bim) + $(wc -l <$g/chr2.bim) ))
plink2 --bfile $g/merged --freq --out check >/dev/null 2>&1 || fail "plink2 cannot read the merged set"
[ "$(($(wc -l <check.afreq) - 1))" -eq "$snps" ] || fail "merged SNPs != $snps"
# Each chromosome of the merged set holds exactly that run's genotypes.
for c in 1 2; do
  plink2 --bfile $g/merged --chr $c --export A --out merged_$c >/dev/null 2>&1 || fail "export $c"
  plink2 --bfile $g/chr$c --export A --out run_$c >/dev/null 2>&1 || fail "export run $c"
  cmp -s merged_$c.raw run_$c.raw || fail "chromosome $c differs from its run"
done
grep -q -- "-seed [0-9]" $g/chr1.log || fail "the seed is not logged"
[ "$(head -1 $g/merged.pheno)" = "FID IID PHENO" ] || fail "pheno header"

# The same base seed gives the same files.
mkdir again && cd again
snakemake -s "$src/workflow/Snakefile" --configfile ../config.yaml "${run[@]}" -q >snake2.log 2>&1 ||
  { cat snake2.log; fail "the second workflow run failed"; }
for f in merged.bed merged.bim merged.fam merged.pheno; do
  cmp -s "genome/$f" "../genome/$f" || fail "$f differs between two runs with one base seed"
done
echo "1 passed, 0 failed"
