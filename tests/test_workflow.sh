#!/usr/bin/env bash
# The genome-wide workflow on the example panel split into two regions
# treated as two chromosomes: the first from its haplotype/legend form with
# the disease locus, the second from a VCF form whose SNPs have no ID (".")
# and no disease locus. Both runs, the merge, a second run of the workflow
# with the same base seed, the default configuration, and one line for each
# mistake of a configuration.
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
# The VCF form of the panel, contig 2, every ID ".".
sh "$src/tests/hap_legend_to_vcf.sh" "$ex/chr20.hap.gz" "$ex/chr20.legend.gz" 2 |
  awk 'BEGIN { OFS = "\t" } /^#/ { print; next } { $3 = "."; print }' >panel2.vcf
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
    vcf: $work/panel2.vcf
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
  plink2 --bed $g/chr$c.bed --bim $g/chr$c.named.bim --fam $g/chr$c.fam --export A --out run_$c >/dev/null 2>&1 ||
    fail "export run $c"
  cmp -s merged_$c.raw run_$c.raw || fail "chromosome $c differs from its run"
done
grep -q -- "-seed [0-9]" $g/chr1.log || fail "the seed is not logged"
[ "$(head -1 $g/merged.pheno)" = "FID IID PHENO" ] || fail "pheno header"
# One identity per individual: family 0, individual id1_<i>, in the merged
# .fam and .pheno as in each chromosome's files.
awk 'NR > 1 { print $1, $2 }' $g/merged.pheno >pheno_ids
awk '{ print $1, $2 }' $g/merged.fam >fam_ids
awk '{ print 0, "id1_" NR - 1 }' $g/merged.fam >expected_ids
cmp -s pheno_ids expected_ids && cmp -s fam_ids expected_ids || fail "merged identities are not '0 id1_<i>'"
# The unnamed SNPs of chromosome 2 are named by position.
[ "$(awk '$1 == 2 && $2 != "2:" $4' $g/merged.bim | wc -l)" -eq 0 ] || fail "chromosome 2 SNPs not named 2:<pos>"

# The same base seed gives the same files.
mkdir again && cd again
snakemake -s "$src/workflow/Snakefile" --configfile ../config.yaml "${run[@]}" -q >snake2.log 2>&1 ||
  { cat snake2.log; fail "the second workflow run failed"; }
for f in merged.bed merged.bim merged.fam merged.pheno; do
  cmp -s "genome/$f" "../genome/$f" || fail "$f differs between two runs with one base seed"
done
cd ..

# Without --configfile the workflow runs its own configuration: the example.
mkdir default && cd default
snakemake -s "$src/workflow/Snakefile" --cores 2 --config controls=30 cases=20 tarvik="$tarvik" -q >snake.log 2>&1 ||
  { cat snake.log; fail "the default configuration failed"; }
[ "$(wc -l <genome/merged.fam)" -eq 50 ] || fail "the default configuration's merged individuals"
cd ..

# Each mistake: a configuration (the good one with one change), and the one
# line the workflow answers with.
bad() {  # <name> <expected line> <sed expression applied to config.yaml>
  sed "$3" config.yaml >bad.yaml
  local out
  if out=$(snakemake -s "$src/workflow/Snakefile" --configfile bad.yaml --cores 1 -n 2>&1); then
    fail "$1: the workflow accepted it"
  fi
  [ "$out" = "tarvik workflow: $2" ] || fail "$1: expected the one line 'tarvik workflow: $2', got: $out"
}
bad "missing key" "config: the key 'out' is missing" '/^out:/d'
bad "misspelled key" "config: unknown key 'contrls' (did you mean 'controls'?)" 's/^controls:/contrls:/'
bad "unquoted chromosome" 'config: chromosome 1 is written unquoted, which YAML reads as a number; write "1": so that it is a name' 's/^  "1":/  1:/'
bad "missing file" "config: chromosome \"1\": haps file $ex/nope.hap.gz does not exist" "s|chr20.hap.gz|nope.hap.gz|"
bad "unknown format" "config: format must be plink or vcf, not 'bgen'" 's/^format: plink/format: bgen/'
bad "misspelled chromosome key" "config: chromosome \"2\": unknown key 'mapp' (did you mean 'map'?)" '/panel2.vcf/{n;s/map:/mapp:/}'
bad "no map" "config: chromosome \"2\": the key 'map' is missing" '/panel2.vcf/{n;d}'
bad "bad interval" "config: chromosome \"2\": interval must be [lower, upper], whole numbers with lower < upper, not [2800000, 2500000]" 's/\[2500000, 2800000\]/[2800000, 2500000]/'
bad "negative cases" "config: cases must be a whole number of at least 0, not -4" 's/^cases: 40/cases: -4/'
bad "loci of three" "config: chromosome \"1\": loci must be a list of [position, risk allele, rr1, rr2], not [[1066806, 1, 3.0]]" 's/, 9.0\]\]/]]/'
bad "both panels" "config: chromosome \"2\": the panel is either vcf or haps and legend, not both" "/panel2.vcf/a\\    haps: $ex/chr20.hap.gz"
echo "1 passed, 0 failed"
