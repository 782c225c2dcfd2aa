"""The page and the TSV: a Report collects (section, metric, value) rows and
HTML pieces; one function per section fills it."""
import html

import numpy as np

from . import figures, stats
from .figures import fmt
from .stats import HWE_ALPHA, KINSHIP_THRESHOLDS, LD_MIN_MAF, NAN, NEAR_MISMATCHES


class Report:
    def __init__(self):
        self.rows = []       # (section, metric, value)
        self.blocks = []     # (section title, list of html pieces)

    def add(self, section, metric, value):
        self.rows.append((section, metric, value))
        return value

    def section(self, title):
        self.blocks.append((title, []))

    def html(self, piece):
        self.blocks[-1][1].append(piece)

    def para(self, text):
        self.html(f"<p>{text}</p>")

    def table(self, header, rows):
        out = ["<table><tr>" + "".join(f"<th>{html.escape(h)}</th>" for h in header) + "</tr>"]
        for r in rows:
            out.append("<tr>" + "".join(f"<td>{html.escape(fmt(c))}</td>" for c in r) + "</tr>")
        out.append("</table>")
        self.html("".join(out))

    def metric_table(self, section, metrics):
        """A table of (label, metric) pairs of `section`, values from the TSV rows."""
        values = {m: v for s, m, v in self.rows if s == section}
        self.table(["quantity", "value"], [(label, values[m]) for label, m in metrics])

    def figure(self, fig):
        self.html(f'<img alt="plot" src="data:image/png;base64,{figures.png_data(fig)}">')

    def write(self, html_path, tsv_path, title):
        with open(tsv_path, "w") as f:
            f.write("section\tmetric\tvalue\n")
            for s, m, v in self.rows:
                f.write(f"{s}\t{m}\t{fmt(v)}\n")
        page = [f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{html.escape(title)}</title>",
                "<style>body{font-family:sans-serif;max-width:1000px;margin:2em auto;line-height:1.4}"
                "table{border-collapse:collapse;margin:0.5em 0}td,th{border:1px solid #bbb;padding:2px 8px;"
                "text-align:right}th{background:#eee}img{max-width:100%}code{background:#f4f4f4}</style>",
                f"</head><body><h1>{html.escape(title)}</h1>"]
        for t, pieces in self.blocks:
            page.append(f"<h2>{html.escape(t)}</h2>")
            page.extend(pieces)
        page.append("</body></html>\n")
        with open(html_path, "w") as f:
            f.write("\n".join(page))


# ---------------------------------------------------------------------------
# 1. Allele frequencies

def section_allele_frequencies(rep, panel, ctrl, n, M, figs):
    S = "allele_frequency"
    p = panel.mean(axis=1)
    f = ctrl.allele1 / M
    sd = stats.urn_sd(p, n, M)
    diff = f - p
    outside = np.abs(diff) > 2 * sd + 1e-12
    rep.section("1. Allele frequencies: simulated controls against the panel")
    rep.para("Each SNP of a simulated haplotype is copied from the panel or an earlier simulated haplotype, so "
             "at every SNP the simulated allele frequency follows a P&oacute;lya urn started from the panel: "
             "mean p, variance pq(n+M)/(M(n+1)) for n panel and M simulated haplotypes (mutation adds a little). "
             "The band is p &plusmn; 2 SD; about 5% of the SNPs polymorphic in the panel outside it is what "
             "the urn gives. A SNP monomorphic in the panel varies in the controls only through mutation.")
    rep.add(S, "snps", p.size)
    r = rep.add(S, "pearson_r", stats.pearson(p, f))
    rep.add(S, "snps_outside_2sd_band", int(outside.sum()))
    rep.add(S, "fraction_outside_2sd_band", float(outside.mean()) if p.size else NAN)
    rep.add(S, "max_abs_difference", float(np.abs(diff).max()) if p.size else NAN)
    # At a SNP without variation in the panel the band has width 0, so any
    # mutation in a simulated haplotype puts it outside: counted apart.
    poly = (p > 0) & (p < 1)
    rep.add(S, "panel_polymorphic_snps", int(poly.sum()))
    rep.add(S, "panel_polymorphic_snps_outside_2sd_band", int((outside & poly).sum()))
    rep.add(S, "fraction_of_panel_polymorphic_outside_2sd_band", float(outside[poly].mean()) if poly.any() else NAN)
    rep.add(S, "panel_monomorphic_snps_varying_in_sim", int((~poly & (diff != 0)).sum()))
    rep.metric_table(S, [("SNPs", "snps"), ("Pearson r", "pearson_r"),
                         ("SNPs outside the 2 SD band", "snps_outside_2sd_band"),
                         ("fraction outside", "fraction_outside_2sd_band"),
                         ("largest |difference|", "max_abs_difference"),
                         ("SNPs polymorphic in the panel", "panel_polymorphic_snps"),
                         ("of these outside the band", "panel_polymorphic_snps_outside_2sd_band"),
                         ("fraction of these outside", "fraction_of_panel_polymorphic_outside_2sd_band"),
                         ("SNPs monomorphic in the panel that vary in the controls (mutation)",
                          "panel_monomorphic_snps_varying_in_sim")])
    rows = stats.maf_bins(p, diff, sd)
    for k, cnt, mad, emad in rows:
        rep.add(S, f"snps_maf_{k}", cnt)
        rep.add(S, f"mean_abs_difference_maf_{k}", mad)
        rep.add(S, f"expected_mean_abs_difference_maf_{k}", emad)
    rep.para("Mean |simulated &minus; panel| by panel minor-allele-frequency bin, and what the urn gives "
             "(SD &middot; &radic;(2/&pi;) averaged over the bin):")
    rep.table(["panel MAF", "SNPs", "mean |difference|", "expected"], rows)
    grid = np.linspace(0, 1, 201)
    figs["af"] = (p, f, outside, grid, stats.urn_sd(grid, n, M), r)
    rep.figure(figures.frequency_figure(figs["af"]))


# ---------------------------------------------------------------------------
# 2. Linkage disequilibrium

def section_ld(rep, p, panel_X, sim_X, what, coord, unit, width, nbins, rng, figs, notes):
    S = "ld"
    rep.section("2. Linkage disequilibrium decay")
    edges = np.arange(nbins + 1) * width
    ld = stats.ld_pairs(p, panel_X, sim_X, what, coord, edges, rng, notes)
    rep.add(S, "min_maf", LD_MIN_MAF)
    rep.add(S, "eligible_snps", int(ld.eligible.size))
    rep.add(S, f"simulated_{what}_used", ld.simulated_used)
    rep.add(S, "pairs", int(ld.ok.sum()))
    rep.para(f"Mean r&sup2; of SNP pairs (both with panel MAF &ge; {LD_MIN_MAF:g}; the same pairs in the panel "
             f"and the simulated controls; a pair monomorphic in either is left out) by distance in {unit}. "
             "Copying segments from the panel keeps its LD at short range; recombination between segments "
             "lowers it with distance, as in the panel.")
    rows = []
    mids, mp, ms = [], [], []
    for k in range(nbins):
        sel = ld.ok & (ld.bin == k)
        lab = stats.bin_label(edges[k], edges[k + 1])
        cnt = rep.add(S, f"pairs_{lab}{unit}", int(sel.sum()))
        a = rep.add(S, f"panel_mean_r2_{lab}{unit}", float(ld.panel_r2[sel].mean()) if cnt else NAN)
        s = rep.add(S, f"sim_mean_r2_{lab}{unit}", float(ld.sim_r2[sel].mean()) if cnt else NAN)
        ratio = rep.add(S, f"ratio_{lab}{unit}", s / a if cnt and a > 0 else NAN)
        rows.append((f"{lab} {unit}", cnt, a, s, ratio))
        mids.append((edges[k] + edges[k + 1]) / 2)
        mp.append(a)
        ms.append(s)
    rep.table(["distance", "pairs", "panel mean r²", "simulated mean r²", "simulated / panel"], rows)
    figs["ld"] = (mids, mp, ms, unit)
    rep.figure(figures.single(figures.draw_ld, figs["ld"]))


# ---------------------------------------------------------------------------
# 3. Relatedness

def section_relatedness(rep, sim_X, sim_haplotypes, panel_G, rng, figs, notes):
    """sim_X: SNP-major haplotypes (pairs of columns) or genotypes."""
    S = "relatedness"
    rep.section("3. Relatedness (KING-robust kinship)")
    a, bn, groups = stats.kinship_groups(sim_X, sim_haplotypes, panel_G, rng, notes)
    rep.add(S, "simulated_individuals", a)
    rep.add(S, "panel_individuals", bn)
    rep.para("Kinship &phi; = (N<sub>het,het</sub> &minus; 2 N<sub>opposite homozygotes</sub>) / "
             "(N<sub>het</sub>(i) + N<sub>het</sub>(j)) over all SNPs of the run, for pairs of simulated "
             "controls, simulated&ndash;panel pairs and panel pairs (panel individuals are consecutive "
             "haplotype pairs). Lines: 3rd, 2nd and 1st degree and duplicate thresholds. "
             "Over a short interval few independent segments inform each pair, so the estimate is noisy "
             "and population structure in the panel widens it: read the simulated rows against the "
             "panel&ndash;panel row. Later simulated haplotypes copy long segments from earlier ones, so "
             "the copying model makes some simulated individuals relatives of each other.")
    rows = []
    for name, v in groups.items():
        row = [name, rep.add(S, f"{name}_pairs", int(v.size)),
               rep.add(S, f"{name}_mean_kinship", float(v.mean()) if v.size else NAN),
               rep.add(S, f"{name}_max_kinship", float(v.max()) if v.size else NAN)]
        for label, t in KINSHIP_THRESHOLDS:
            row.append(rep.add(S, f"{name}_fraction_above_{t:g}", float((v > t).mean()) if v.size else NAN))
        rows.append(row)
    rep.table(["pairs", "number", "mean φ", "max φ"] + [f"> {t:g} ({l})" for l, t in KINSHIP_THRESHOLDS], rows)
    figs["kin"] = groups
    rep.figure(figures.single(figures.draw_kinship, groups))


# ---------------------------------------------------------------------------
# 4. Clones and nearest neighbours

def section_clones(rep, sim_H, panel_H, rng, figs, notes):
    S = "clones"
    rep.section("4. Clones and nearest neighbours")
    if sim_H is None:
        rep.para("Not available: the run wrote no haplotype files.")
        return
    Q, vals = stats.copy_fractions(sim_H, panel_H, rng, notes)
    rep.add(S, "query_haplotypes", Q)
    rep.add(S, "simulated_reference_haplotypes", sim_H.shape[1])
    rep.add(S, "panel_haplotypes", panel_H.shape[1])
    rep.add(S, "near_max_mismatches", NEAR_MISMATCHES)
    for k, v in vals.items():
        rep.add(S, "fraction_" + k, float(v))
    rep.para(f"Fraction of simulated haplotypes with an exact copy (Hamming distance 0) or a near copy "
             f"(&le; {NEAR_MISMATCHES} mismatches over all SNPs of the run) among the other simulated "
             f"control haplotypes and in the panel; the panel's own fractions are the baseline.")
    rep.table(["haplotypes", "compared with", "exact", f"≤ {NEAR_MISMATCHES}"],
              [("simulated", "simulated", vals["sim_exact_duplicate_in_sim"], vals["sim_near_duplicate_in_sim"]),
               ("simulated", "panel", vals["sim_exact_duplicate_in_panel"], vals["sim_near_duplicate_in_panel"]),
               ("panel", "panel", vals["panel_exact_duplicate_in_panel"], vals["panel_near_duplicate_in_panel"])])
    section_nearest_neighbours(rep, sim_H, panel_H, rng, figs, notes)


def section_nearest_neighbours(rep, sim_H, panel_H, rng, figs, notes):
    S = "clones"
    m, nn = stats.nearest_neighbours(sim_H, panel_H, rng, notes)
    rep.add(S, "nn_set_size", m)
    for name, v in (("sim_to_panel", nn["st"]), ("sim_to_sim", nn["ss"]), ("panel_to_panel", nn["tt"])):
        rep.add(S, f"nn_{name}_mean", float(v.mean()))
        rep.add(S, f"nn_{name}_median", float(np.median(v)))
    aa, aa_ties = stats.adversarial_accuracy(nn)
    rep.add(S, "adversarial_accuracy", aa)
    rep.add(S, "adversarial_accuracy_ties_half", aa_ties)
    rep.add(S, "fraction_ties_panel_side", float((nn["ts"] == nn["tt"]).mean()))
    rep.add(S, "fraction_ties_sim_side", float((nn["st"] == nn["ss"]).mean()))
    rep.para("Nearest-neighbour Hamming distances within sets of m panel and m simulated haplotypes. "
             "T is the panel set, S the simulated set; d<sub>TS</sub>(i) is the distance of panel haplotype i "
             "to its nearest simulated one, d<sub>TT</sub>(i) to its nearest other panel haplotype, and "
             "likewise d<sub>ST</sub>, d<sub>SS</sub>. Adversarial accuracy "
             "AA = &frac12;(mean[d<sub>TS</sub> &gt; d<sub>TT</sub>] + mean[d<sub>ST</sub> &gt; d<sub>SS</sub>]): "
             "0.5 when a nearest neighbour tells nothing about the side; below 0.5 when the simulated "
             "haplotypes sit closer to the panel than the panel to itself (copying), above when they "
             "form their own cluster. Integer distances tie often, so AA with ties counted half is given too.")
    rep.metric_table(S, [("m (per side)", "nn_set_size"),
                         ("mean d simulated→panel", "nn_sim_to_panel_mean"),
                         ("median d simulated→panel", "nn_sim_to_panel_median"),
                         ("mean d simulated→simulated", "nn_sim_to_sim_mean"),
                         ("median d simulated→simulated", "nn_sim_to_sim_median"),
                         ("mean d panel→panel", "nn_panel_to_panel_mean"),
                         ("median d panel→panel", "nn_panel_to_panel_median"),
                         ("adversarial accuracy (strict >)", "adversarial_accuracy"),
                         ("adversarial accuracy (ties half)", "adversarial_accuracy_ties_half"),
                         ("ties d_TS = d_TT", "fraction_ties_panel_side"),
                         ("ties d_ST = d_SS", "fraction_ties_sim_side")])
    figs["nn"] = {"simulated→panel": nn["st"], "simulated→simulated": nn["ss"], "panel→panel": nn["tt"]}
    rep.figure(figures.single(figures.draw_nn, figs["nn"]))


# ---------------------------------------------------------------------------
# 5. Disease loci

def disease_locus(rep, S, locus, panel_row, ctrl, cases, i, n):
    """The TSV rows of one disease locus of the run (run SNP i); returns its table row."""
    pos, allele, rr1, rr2 = locus
    nc = ctrl.individuals
    nk = cases.individuals if cases is not None else 0

    def risk_count(a1, total):
        return a1 if allele == 1 else total - a1
    pan = risk_count(int(panel_row.sum()), n)
    ctl = risk_count(int(ctrl.allele1[i]), 2 * nc)
    cas = risk_count(int(cases.allele1[cases.row_of[i]]), 2 * nk) if nk else 0
    fc = rep.add(S, "control_freq", ctl / (2.0 * nc))
    fk = rep.add(S, "case_freq", cas / (2.0 * nk) if nk else NAN)
    rep.add(S, "panel_freq", pan / n)
    p = rep.add(S, "pooled_freq", (pan + ctl) / (n + 2.0 * nc))
    e, se = stats.expected_case_freq(p, rr1, rr2, nk)
    rep.add(S, "expected_case_freq", e)
    rep.add(S, "se_case_freq", se)
    z = rep.add(S, "z", (fk - e) / se if nk and se > 0 else NAN)
    orr, lo, hi = stats.allelic_or(cas, 2 * nk - cas, ctl, 2 * nc - ctl)
    rep.add(S, "allelic_or", orr)
    rep.add(S, "allelic_or_ci_low", lo)
    rep.add(S, "allelic_or_ci_high", hi)
    q = 1 - p
    eor = rep.add(S, "expected_allelic_or", (e / (1 - e)) / (p / q) if 0 < e < 1 and 0 < p < 1 else NAN)
    return (pos, allele, rr1, rr2, fc, fk, e, se, z, orr, lo, hi, eor)


def section_disease(rep, loci, run_pos, panel, ctrl, cases, n):
    rep.section("5. Disease loci")
    if not loci:
        rep.para("No disease loci given (-dl).")
        return
    nc = ctrl.individuals
    nk = cases.individuals if cases is not None else 0
    lam = rep.add("disease_loci", "lambda_null", stats.lambda_null(n, nc, nk))
    rows, missing = [], []
    index = {p: i for i, p in enumerate(run_pos.tolist())}
    for locus in loci:
        pos, allele, rr1, rr2 = locus
        S = f"disease_locus_{pos}"
        i = index.get(pos)
        rep.add(S, "in_run", int(i is not None))
        if i is None:
            rows.append((pos, allele, rr1, rr2) + (NAN,) * 9)
            missing.append(str(pos))
            continue
        for k, v in (("risk_allele", allele), ("rr1", rr1), ("rr2", rr2)):
            rep.add(S, k, v)
        rows.append(disease_locus(rep, S, locus, panel[i], ctrl, cases, i, n))
    rep.para("Risk-allele frequencies at each disease locus. p is the risk-allele frequency pooled over the panel "
             "and the simulated controls (the population the cases are drawn from); the model's case frequency "
             "is p(rr1&middot;q + rr2&middot;p)/(q&sup2; + 2pq&middot;rr1 + p&sup2;&middot;rr2). z is the distance "
             "of the observed case frequency from it in standard errors (exact for one locus, or loci in "
             "linkage equilibrium). The allelic odds ratio (95% CI) of cases against controls compares with rr1 "
             "(equal under a multiplicative model, rr2 = rr1&sup2;) and with the model's expected value.")
    rep.table(["position", "risk allele", "rr1", "rr2", "control freq", "case freq", "expected case freq",
               "SE", "z", "allelic OR", "CI low", "CI high", "expected OR"], rows)
    if missing:
        rep.para("Not a SNP of the run (outside its interval, or not a panel SNP): " + ", ".join(missing) + ".")
    rep.para(f"Cases are drawn from a pool that contains the controls, so under the null (rr1 = rr2 = 1) an "
             f"association test at a disease locus has an inflation factor "
             f"&lambda; = [n/(n+2&middot;nc)/nc + 1/nk] / [1/nc + 1/nk] = {html.escape(fmt(lam))} "
             f"(n = {n} panel haplotypes, nc = {nc} controls, nk = {nk} cases): below 1, such tests are "
             f"conservative.")


# ---------------------------------------------------------------------------
# 6. Hardy-Weinberg equilibrium

def section_hwe(rep, ctrl, panel_G):
    S = "hwe"
    rep.section("6. Hardy–Weinberg equilibrium")
    rows = []
    n = ctrl.individuals
    t, e, c = stats.hwe_counts(n, ctrl.allele1, ctrl.het, ctrl.hom1)
    rows.append(("simulated controls", rep.add(S, "sim_individuals", n), rep.add(S, "sim_snps_tested", t),
                 rep.add(S, "sim_exact_p_below_1e-6", e), rep.add(S, "sim_chisq_p_below_1e-6", c)))
    npn = panel_G.shape[1]
    t, e, c = stats.hwe_counts(npn, *stats.genotype_counts(panel_G))
    rows.append(("panel", rep.add(S, "panel_individuals", npn), rep.add(S, "panel_snps_tested", t),
                 rep.add(S, "panel_exact_p_below_1e-6", e), rep.add(S, "panel_chisq_p_below_1e-6", c)))
    rep.para(f"SNPs (polymorphic in the sample) with an exact or a 1-df chi-square Hardy–Weinberg p-value "
             f"below {HWE_ALPHA:g}. Simulated individuals pair two independently copied haplotypes, so they "
             "should be in equilibrium; the chi-square test over-rejects at rare SNPs.")
    rep.table(["sample", "individuals", "SNPs tested", "exact p < 1e-6", "chi-square p < 1e-6"], rows)
