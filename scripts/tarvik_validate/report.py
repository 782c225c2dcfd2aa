"""The page and the TSV: a Report collects (section, metric, value) rows and
HTML pieces; one function per section fills it."""
import html

import numpy as np

from . import figures, stats
from .figures import fmt, fmt_page
from .stats import HWE_ALPHA, KINSHIP_THRESHOLDS, LD_MIN_MAF, NAN, NEAR_MISMATCHES


GROUP_WORDS = {"sim_sim": "simulated–simulated", "sim_panel": "simulated–panel", "panel_panel": "panel–panel"}

STYLE = ("body{font-family:sans-serif;max-width:1200px;margin:1.5em auto;padding:0 1em;line-height:1.45}"
         "table{border-collapse:collapse;margin:0.5em 0}td,th{border:1px solid #bbb;padding:2px 8px;"
         "text-align:right}th{background:#eee}td:first-child{text-align:left}img{width:100%;max-width:1100px}"
         "code{background:#f4f4f4}.pass{color:#1a7f37;font-weight:bold}.look{color:#b35900;font-weight:bold}"
         ".params{color:#444}")


class Report:
    def __init__(self, pdf=None):
        self.rows = []       # (section, metric, value)
        self.blocks = []     # (section title, list of html pieces)
        self.verdicts = []   # (check, measured, tolerance, passed)
        self.pdf = pdf       # a PdfPages that receives every figure, or None

    def add(self, section, metric, value):
        self.rows.append((section, metric, value))
        return value

    def verdict(self, key, check, measured, tolerance, passed):
        """One line of the first section (and a TSV row: 1 pass, 0 look,
        nan not available)."""
        self.verdicts.append((check, measured, tolerance, passed))
        self.add("verdicts", key, NAN if passed is None else int(bool(passed)))

    def section(self, title):
        self.blocks.append((title, []))

    def html(self, piece):
        self.blocks[-1][1].append(piece)

    def para(self, text):
        self.html(f"<p>{text}</p>")

    def table(self, header, rows):
        out = ["<table><tr>" + "".join(f"<th>{html.escape(h)}</th>" for h in header) + "</tr>"]
        for r in rows:
            out.append("<tr>" + "".join(f"<td>{html.escape(fmt_page(c))}</td>" for c in r) + "</tr>")
        out.append("</table>")
        self.html("".join(out))

    def metric_table(self, section, metrics):
        """A table of (label, metric) pairs of `section`, values from the TSV rows."""
        values = {m: v for s, m, v in self.rows if s == section}
        self.table(["quantity", "value"], [(label, values[m]) for label, m in metrics])

    def figure(self, fig, name="plot"):
        if self.pdf is not None:
            self.pdf.savefig(fig)
        self.html(f'<img alt="{html.escape(name)}" src="data:image/png;base64,{figures.png_data(fig)}">')

    def verdict_table(self):
        out = ["<table><tr><th>check</th><th>measured</th><th>tolerance</th><th>verdict</th></tr>"]
        for check, measured, tolerance, passed in self.verdicts:
            word = "pass" if passed else "n/a" if passed is None else "look"
            out.append(f"<tr><td>{html.escape(check)}</td><td>{html.escape(measured)}</td>"
                       f"<td>{html.escape(tolerance)}</td><td class='{word}'>{word}</td></tr>")
        out.append("</table>")
        return "".join(out)

    def write(self, html_path, tsv_path, title, subtitle):
        with open(tsv_path, "w") as f:
            f.write("section\tmetric\tvalue\n")
            for s, m, v in self.rows:
                f.write(f"{s}\t{m}\t{fmt(v)}\n")
        looks = sum(1 for *_, passed in self.verdicts if passed is False)
        summary = ("Every check passes." if looks == 0 else
                   f"{looks} of {len(self.verdicts)} checks to look at: see their sections.")
        page = [f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{html.escape(title)}</title>",
                f"<style>{STYLE}</style></head><body><h1>{html.escape(title)}</h1>",
                f"<p class='params'>{subtitle}</p>",
                "<h2>Verdicts</h2>",
                f"<p>Each check against its tolerance: <b>pass</b>, or <b>look</b> at its section. {summary}</p>",
                self.verdict_table()]
        for t, pieces in self.blocks:
            page.append(f"<h2>{html.escape(t)}</h2>")
            page.extend(pieces)
        page.append("</body></html>\n")
        with open(html_path, "w") as f:
            f.write("\n".join(page))


# ---------------------------------------------------------------------------
# 1. Allele frequencies

def section_allele_frequencies(rep, panel, ctrl, n, M, figs, panel_only=False):
    S = "allele_frequency"
    p = panel.mean(axis=1)
    f = ctrl.allele1 / M
    spread = stats.binomial_sd if panel_only else stats.urn_sd
    sd = spread(p, n, M)
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
    if panel_only:
        rep.para("This run copied from the panel alone: every simulated haplotype draws from the panel "
                 "independently, so the frequency is binomial, variance pq/M, and the band is narrower than the "
                 "urn's.")
    grid = np.linspace(0, 1, 201)
    figs["af"] = (p, f, outside, grid, spread(grid, n, M), r)
    rep.figure(figures.frequency_figure(figs["af"]), "allele frequencies")


# ---------------------------------------------------------------------------
# 2. Linkage disequilibrium

def ld_theory(ld, sel, model, n):
    """The copying model's prediction of the corrected ratio in a bin: the
    simulated r^2 is the panel's own (its floor included, since that is what
    is copied) times c^2, c the probability that one source gives both SNPs."""
    c2 = stats.same_source(ld.distance[sel], model["Ne"], n) ** 2
    raw = ld.panel_r2[sel]
    corrected = stats.floor_corrected(raw.mean(), ld.panel_used)
    return float((c2 * raw).mean() / corrected) if corrected > 0 else NAN


def section_ld(rep, p, panel_X, sim_X, what, coord, unit, width, nbins, rng, figs, notes, model):
    S = "ld"
    rep.section("2. Linkage disequilibrium decay")
    edges = np.arange(nbins + 1) * width
    ld = stats.ld_pairs(p, panel_X, sim_X, what, coord, edges, rng, notes)
    ld.panel_used = panel_X.shape[1]
    n_panel, m_sim = ld.panel_used, ld.simulated_used
    rep.add(S, "min_maf", LD_MIN_MAF)
    rep.add(S, "eligible_snps", int(ld.eligible.size))
    rep.add(S, f"simulated_{what}_used", m_sim)
    rep.add(S, "pairs", int(ld.ok.sum()))
    rep.add(S, "panel_floor", stats.unlinked_floor(n_panel))
    rep.add(S, "sim_floor", stats.unlinked_floor(m_sim))
    theory = model["panel_only"] and unit == "cM"
    rep.para(f"Mean r&sup2; of SNP pairs (both with panel MAF &ge; {LD_MIN_MAF:g}; the same pairs in the panel "
             f"and the simulated controls; a pair monomorphic in either is left out) by distance in {unit}. "
             f"Two unlinked SNPs have a mean r&sup2; of 1/(k&minus;1) in k {what} (the floor): "
             f"{fmt_page(stats.unlinked_floor(n_panel))} for the {n_panel} of the panel, "
             f"{fmt_page(stats.unlinked_floor(m_sim))} for the {m_sim} simulated, so raw r&sup2; of the two are "
             "not comparable at long range. The corrected r&sup2; takes each sample's floor off, "
             "(r&sup2; &minus; f)/(1 &minus; f), and the corrected ratio compares those.")
    if theory:
        rep.para(f"Theory (<code>-copy_panel_only</code>, N<sub>e</sub> = {fmt_page(model['Ne'])}, n = {n_panel}): "
                 "a simulated haplotype takes two SNPs d cM apart from one panel haplotype with probability "
                 "c = e<sup>&minus;&lambda;</sup> + (1 &minus; e<sup>&minus;&lambda;</sup>)/n, "
                 "&lambda; = 4N<sub>e</sub>d/(100n); otherwise from two independent ones, which carry no LD. "
                 "So the simulated r&sup2; is c&sup2; times the panel's own r&sup2; (its floor included, since "
                 "that is what is copied), and the corrected ratio the model predicts is the mean of "
                 "c&sup2;&middot;r&sup2;<sub>panel</sub> over the bin's pairs divided by the panel's corrected "
                 "r&sup2;. The check: observed / predicted within 0.8&ndash;1.2 in every bin up to 1 cM.")
    else:
        rep.para("A prediction is drawn for <code>-copy_panel_only</code> runs with a genetic map; in the "
                 "default model later haplotypes also copy earlier simulated ones, which keeps more LD.")
    rows = []
    plot = {"mid": [], "panel": [], "sim": [], "panel_corr": [], "sim_corr": [], "ratio": [], "theory": []}
    for k in range(nbins):
        sel = ld.ok & (ld.bin == k)
        lab = stats.bin_label(edges[k], edges[k + 1])
        cnt = rep.add(S, f"pairs_{lab}{unit}", int(sel.sum()))
        a = rep.add(S, f"panel_mean_r2_{lab}{unit}", float(ld.panel_r2[sel].mean()) if cnt else NAN)
        s = rep.add(S, f"sim_mean_r2_{lab}{unit}", float(ld.sim_r2[sel].mean()) if cnt else NAN)
        rep.add(S, f"ratio_{lab}{unit}", s / a if cnt and a > 0 else NAN)
        ac = rep.add(S, f"panel_corrected_r2_{lab}{unit}", stats.floor_corrected(a, n_panel) if cnt else NAN)
        sc = rep.add(S, f"sim_corrected_r2_{lab}{unit}", stats.floor_corrected(s, m_sim) if cnt else NAN)
        ratio = rep.add(S, f"corrected_ratio_{lab}{unit}", sc / ac if cnt and ac > 0 else NAN)
        row = [f"{lab} {unit}", cnt, a, s, ac, sc, ratio]
        if theory:
            t = rep.add(S, f"theory_corrected_ratio_{lab}{unit}", ld_theory(ld, sel, model, n_panel) if cnt else NAN)
            row += [t, rep.add(S, f"observed_over_theory_{lab}{unit}", ratio / t if cnt and t > 0 else NAN)]
            plot["theory"].append(t)
        rows.append(row)
        for key, v in (("mid", (edges[k] + edges[k + 1]) / 2), ("panel", a), ("sim", s), ("panel_corr", ac),
                       ("sim_corr", sc), ("ratio", ratio)):
            plot[key].append(v)
    header = ["distance", "pairs", "panel r²", "simulated r²", "panel r² corrected", "simulated r² corrected",
              "corrected ratio"]
    rep.table(header + (["predicted ratio", "observed / predicted"] if theory else []), rows)
    plot["unit"] = unit
    figs["ld"] = plot
    rep.figure(figures.single(figures.draw_ld, plot), "ld")
    return plot


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
        row = [GROUP_WORDS[name] + " pairs", rep.add(S, f"{name}_pairs", int(v.size)),
               rep.add(S, f"{name}_mean_kinship", float(v.mean()) if v.size else NAN),
               rep.add(S, f"{name}_max_kinship", float(v.max()) if v.size else NAN)]
        for label, t in KINSHIP_THRESHOLDS:
            row.append(rep.add(S, f"{name}_fraction_above_{t:g}", float((v > t).mean()) if v.size else NAN))
        rows.append(row)
    rep.table(["pairs", "number", "mean φ", "max φ"] +
              [f"fraction > {t:g} ({l}{' degree' if l != 'duplicate' else ''})" for l, t in KINSHIP_THRESHOLDS], rows)
    figs["kin"] = {GROUP_WORDS[name]: v for name, v in groups.items()}
    rep.figure(figures.single(figures.draw_kinship, figs["kin"]), "kinship")


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
    figs["nn"] = {"simulated haplotype to the nearest panel one": nn["st"],
                  "simulated haplotype to the nearest other simulated one": nn["ss"],
                  "panel haplotype to the nearest other panel one": nn["tt"]}
    rep.figure(figures.single(figures.draw_nn, figs["nn"]), "nearest neighbours")


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
             f"&lambda; = [n/(n+2&middot;nc)/nc + 1/nk] / [1/nc + 1/nk] = {html.escape(fmt_page(lam))} "
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


# ---------------------------------------------------------------------------
# The verdicts: each check against its stated tolerance

def add_verdicts(rep, ld_plot, model, loci_given):
    v = {(s, m): val for s, m, val in rep.rows}

    def get(section, metric):
        return v.get((section, metric), NAN)

    frac = get("allele_frequency", "fraction_of_panel_polymorphic_outside_2sd_band")
    rep.verdict("allele_frequencies", "allele frequencies: SNPs outside the expected band",
                f"{fmt_page(frac)} of the SNPs polymorphic in the panel", "at most 0.10 (about 0.05 expected)",
                None if np.isnan(frac) else bool(frac <= 0.10))
    ld_verdict(rep, ld_plot, model)
    sp = get("relatedness", "sim_panel_fraction_above_0.177")
    pp = get("relatedness", "panel_panel_fraction_above_0.177")
    rep.verdict("relatedness", "relatedness: simulated–panel pairs of 1st degree or closer",
                f"{fmt_page(sp)} (panel–panel: {fmt_page(pp)})", "at most the panel–panel fraction + 0.01",
                None if np.isnan(sp) or np.isnan(pp) else bool(sp <= pp + 0.01))
    se = get("clones", "fraction_sim_exact_duplicate_in_panel")
    pe = get("clones", "fraction_panel_exact_duplicate_in_panel")
    rep.verdict("clones", "clones: simulated haplotypes with an exact copy in the panel",
                f"{fmt_page(se)} (panel in itself: {fmt_page(pe)})", "at most the panel's own fraction + 0.01",
                None if np.isnan(se) or np.isnan(pe) else bool(se <= pe + 0.01))
    loci = [s for s, m in v if m == "z" and s.startswith("disease_locus_")]
    zs = [get(s, "z") for s in loci]
    zs = [z for z in zs if not np.isnan(z)]
    rep.verdict("disease_loci", "disease loci: case risk-allele frequency against the model",
                ("largest |z| " + fmt_page(max(abs(z) for z in zs))) if zs else "no locus with cases",
                "|z| at most 3 at every locus", bool(max(abs(z) for z in zs) <= 3) if zs else None)
    tested, low = get("hwe", "sim_snps_tested"), get("hwe", "sim_exact_p_below_1e-6")
    allowed = max(1, int(0.001 * tested)) if not np.isnan(tested) else 1
    rep.verdict("hardy_weinberg", "Hardy–Weinberg: simulated SNPs with exact p < 1e-6",
                f"{fmt_page(low)} of {fmt_page(tested)}", f"at most {allowed} (0.1% of those tested, at least 1)",
                None if np.isnan(low) else bool(low <= allowed))


def ld_verdict(rep, plot, model):
    pairs = [r for r in zip(plot["mid"], plot["ratio"], plot["theory"] or [NAN] * len(plot["mid"]))
             if plot["unit"] == "cM" and r[0] <= 1.0 and not np.isnan(r[1])]
    if model["panel_only"] and plot["theory"] and pairs:
        q = [ratio / t for _, ratio, t in pairs if t > 0]
        rep.verdict("ld_decay", "LD decay: corrected ratio against the copying model, up to 1 cM",
                    f"observed / predicted {fmt_page(min(q))} to {fmt_page(max(q))} over {len(q)} bins",
                    "0.8 to 1.2 in every bin", bool(q) and bool(min(q) >= 0.8 and max(q) <= 1.2))
    elif pairs:
        first = pairs[0][1]
        rep.verdict("ld_decay", "LD decay: corrected ratio at the shortest distances",
                    f"{fmt_page(first)} in the first bin", "at least 0.8 (short-range LD kept)",
                    bool(first >= 0.8))
    else:
        rep.verdict("ld_decay", "LD decay", "no bin with pairs (or no genetic map)", "–", None)
