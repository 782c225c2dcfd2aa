#!/usr/bin/env bash
# The workflow's trait section on the example panel split into two regions
# treated as two chromosomes: each run writes its genetic values, the
# combining step sums them and adds the noise once. Checks the sum, the noise
# against the heritability, the realized h2 of the log, and that plink2 --glm
# on the merged set puts a causal SNP (or one in r2 > 0.8 with one) at the top.
#   tests/test_workflow_trait.sh <source dir> <tarvik binary>
set -euo pipefail
src="$(cd "$1" && pwd)" tarvik="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
for tool in snakemake plink1.9 plink2 python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not found"; exit 1; }
done
work=$(mktemp -d /tmp/tarvik_workflow_trait_XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
ex="$src/example"
cat >config.yaml <<YAML
tarvik: $tarvik
out: genome
controls: 1000
cases: 0
base_seed: 4242
format: plink
threads: 1
copy_panel_only: true
trait:
  causal_random: 5
  h2: 0.5
chromosomes:
  "1":
    haps: $ex/chr20.hap.gz
    legend: $ex/chr20.legend.gz
    map: $ex/chr20.map.gz
    interval: [1000000, 1600000]
  "2":
    haps: $ex/chr20.hap.gz
    legend: $ex/chr20.legend.gz
    map: $ex/chr20.map.gz
    interval: [2500000, 3100000]
YAML
fail() { echo "FAIL: $*"; exit 1; }
snakemake -s "$src/workflow/Snakefile" --configfile config.yaml --cores 2 -q >snake.log 2>&1 ||
  { cat snake.log; fail "the workflow failed"; }
g=genome
grep -q -- "trait: -seed [0-9]" $g/trait.log || fail "the trait's seed is not logged"
plink2 --bfile $g/merged --pheno $g/merged.pheno --glm allow-no-covars --out glm >/dev/null 2>&1 || fail "plink2 --glm"
plink2 --bfile $g/merged --export A --out merged >/dev/null 2>&1 || fail "plink2 --export"
python3 - "$g" <<'PY' || fail "trait checks"
import sys, re
g = sys.argv[1]
def table(path, sep=None):
    rows = [line.split(sep) for line in open(path).read().splitlines()]
    return rows[0], rows[1:]
def var(x):
    m = sum(x) / len(x)
    return sum((v - m) ** 2 for v in x) / len(x)
def corr(x, y):
    mx, my = sum(x) / len(x), sum(y) / len(y)
    return sum((a - mx) * (b - my) for a, b in zip(x, y)) / (var(x) * var(y)) ** 0.5 / len(x)
_, gv1 = table(f"{g}/chr1.gv"); _, gv2 = table(f"{g}/chr2.gv"); _, merged = table(f"{g}/merged.gv")
head, pheno = table(f"{g}/merged.pheno")
assert head == ["FID", "IID", "PHENO1"], head
ids = [r[:2] for r in pheno]
assert ids == [r[:2] for r in gv1] == [r[:2] for r in gv2] == [r[:2] for r in merged] == [["0", f"id1_{i}"] for i in range(1000)]
G = [float(a[2]) + float(b[2]) for a, b in zip(gv1, gv2)]
assert G == [float(r[2]) for r in merged], "merged.gv is not the sum"
Y = [float(r[2]) for r in pheno]
E = [y - x for y, x in zip(Y, G)]
h2 = 0.5
expected = var(G) * (1 - h2) / h2
assert abs(var(E) / expected - 1) < 0.2, f"noise variance {var(E)} against {expected}"
logged = float(re.search(r"realized h2 ([0-9.e-]+)", open(f"{g}/merged.summary").read()).group(1))
assert abs(logged - var(G) / var(Y)) < 1e-5, (logged, var(G) / var(Y))
# The top hit of plink2 --glm: a causal SNP, or one in r2 > 0.8 with one.
_, causal = table(f"{g}/merged.causal.tsv", "\t")
causal_ids = {r[1] for r in causal}
assert len(causal) == 10, len(causal)
header, rows = table("glm.PHENO1.glm.linear")
p = header.index("P")
top = min((r for r in rows if r[p] != "NA"), key=lambda r: float(r[p]))
raw_head, raw = table("merged.raw")
col = {name.rsplit("_", 1)[0]: k for k, name in enumerate(raw_head) if k >= 6}
def dosage(rsid):
    return [float(r[col[rsid]]) for r in raw]
best = max(corr(dosage(top[2]), dosage(c)) ** 2 for c in causal_ids)
print(f"top hit {top[2]} p={top[p]}; causal: {top[2] in causal_ids}; best r2 with a causal SNP {best:.3f}")
assert top[2] in causal_ids or best > 0.8
PY

# Ascertained: the chromosomes score 3,000 individuals, -combine picks 100 cases and 150 controls by the
# genome-wide liability (prevalence 0.05), and the chromosomes write those individuals' genotypes alone.
sed -e 's/^controls: 1000/controls: 150/' -e 's/^cases: 0/cases: 100/' -e 's/^out: genome/out: asc/' \
    -e 's/^  h2: 0.5/  h2: 0.5\n  prevalence: 0.05\n  ascertain:\n    population: 3000/' config.yaml >asc.yaml
snakemake -s "$src/workflow/Snakefile" --configfile asc.yaml --cores 2 -q >asc.log 2>&1 ||
  { cat asc.log; fail "the ascertaining workflow failed"; }
python3 - <<'PY' || fail "ascertainment checks"
rows = lambda path: [line.split() for line in open(path).read().splitlines()]
pheno, fam, population = rows("asc/merged.pheno")[1:], rows("asc/merged.fam"), rows("asc/merged.gv")[1:]
assert len(population) == 3000, len(population)
assert [r[2] for r in pheno].count("2") == 100 and len(pheno) == 250, len(pheno)
index = [int(r[1][4:]) for r in pheno]
assert index == sorted(index) and index[-1] < 3000, index[-5:]
assert [(r[0], r[1], r[5]) for r in fam] == [tuple(r) for r in pheno], "the .fam is not the sample"
PY
echo "2 passed, 0 failed"
