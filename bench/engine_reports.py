"""Means and SDs of validation figures over the runs of bench/engine_reports.sh, per engine."""
import glob, math, sys
work = sys.argv[1]
def load(path):
    d = {}
    for line in open(path):
        f = line.rstrip("\n").split("\t")
        if len(f) == 3 and f[0] != "section":
            try: d[f[0] + ":" + f[1]] = float(f[2])
            except ValueError: pass
    return d
runs = {e: [load(p) for p in sorted(glob.glob(f"{work}/{e}*/run.validation.tsv"))] for e in ("snp", "pop")}
keys = ["allele_frequency:pearson_r"] + [f"ld:ratio_{b}cM" for b in ("0-0.1", "0.1-0.2", "0.2-0.3", "0.3-0.4", "0.4-0.5", "0.9-1")] + \
       ["clones:fraction_sim_exact_duplicate_in_sim", "clones:fraction_sim_exact_duplicate_in_panel", "clones:adversarial_accuracy", "clones:fraction_sim_near_duplicate_in_panel"]
print(f"runs: per-SNP {len(runs['snp'])}, population {len(runs['pop'])}")
print(f"{'figure':44s} {'per-SNP mean (SD)':>24s} {'population mean (SD)':>24s} {'diff/SE':>8s}")
for k in keys:
    stats = []
    for e in ("snp", "pop"):
        x = [r[k] for r in runs[e] if k in r]
        if not x: stats.append(None); continue
        m = sum(x) / len(x); sd = math.sqrt(sum((v - m) ** 2 for v in x) / (len(x) - 1)) if len(x) > 1 else 0
        stats.append((m, sd, len(x)))
    if None in stats: continue
    (m1, s1, n1), (m2, s2, n2) = stats
    se = math.sqrt(s1 ** 2 / n1 + s2 ** 2 / n2)
    print(f"{k:44s} {m1:12.6g} ({s1:.2g}) {m2:14.6g} ({s2:.2g}) {((m2 - m1) / se if se > 0 else 0):8.2f}")
