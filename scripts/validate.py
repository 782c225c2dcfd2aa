#!/usr/bin/env python3
"""Validation report of a tarvik run against the panel it copied from.

    scripts/validate.py <output stem> -h <haps> -l <legend> [-m <map>]
                        [-dl <pos> <allele> <rr1> <rr2> ...] [--seed N] [--figure PNG]

Reads the run's files (<stem>.controls.haps, .cases.haps, .legend, plain or
gzip; the .gen files when the run wrote no haplotypes) and the panel files as
tarvik reads them, and writes <stem>.validation.html (one self-contained page)
and <stem>.validation.tsv (every number on the page: section, metric, value).
--figure also writes the four main plots as one PNG.

Large runs are subsampled (haplotypes, individuals, SNP pairs) with a fixed
seed; what was subsampled is printed and recorded in the report.
"""
import os
import sys

try:
    import numpy as np
except ImportError:
    # numpy, scipy and matplotlib come as Debian packages for the system
    # interpreter; a python3 found earlier on PATH (pyenv, a virtualenv) may
    # lack them.
    _system = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(_system) and os.access(_system, os.X_OK):
        os.execv(_system, [_system] + sys.argv)
    sys.exit("validate.py: error: needs numpy, scipy and matplotlib "
             "(Debian: apt-get install python3-numpy python3-scipy python3-matplotlib)")

import argparse
import base64
import gzip
import html
import io
import math
import time
import zlib

from scipy import special, stats

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

KINSHIP_THRESHOLDS = [("3rd", 0.0442), ("2nd", 0.0884), ("1st", 0.177), ("duplicate", 0.354)]
NEAR_MISMATCHES = 10
HWE_ALPHA = 1e-6
MAF_BINS = [0.0, 0.01, 0.05, 0.1, 0.2, 0.3, 0.4, 0.5]
LD_MIN_MAF = 0.05

# Subsampling limits: chosen so that 10,000 + 10,000 individuals on the
# example panel validate within a minute on two cores.
KEEP_INDIVIDUALS = 10000        # simulated controls held in memory
LD_HAPLOTYPES = 5000            # simulated haplotypes used for r^2
LD_PAIRS_PER_BIN = 5000
KINSHIP_INDIVIDUALS = 1000      # simulated controls in the kinship pairs
KINSHIP_PANEL_INDIVIDUALS = 1000
CLONE_WORK = 10_000_000         # queries x reference haplotypes for near duplicates
CLONE_MIN_QUERIES = 500
NN_SET = 1000                   # haplotypes per side for the nearest-neighbour sets
SCREEN_SNPS = 2048              # SNPs of the screen for near duplicates


class InputError(Exception):
    pass


# ---------------------------------------------------------------------------
# Input

def open_binary(path, what):
    try:
        f = open(path, "rb")
    except OSError as e:
        raise InputError(f"cannot open {what} {path}: {e.strerror}")
    # gzip is recognised by content, as tarvik does, not by the name.
    magic = f.read(2)
    f.seek(0)
    if magic == b"\x1f\x8b":
        return gzip.GzipFile(fileobj=f, mode="rb")
    return f


def lines_of(path, what):
    """Yields (line number, line without its end) of a plain or gzip file."""
    f = open_binary(path, what)
    try:
        number = 0
        for line in f:
            number += 1
            yield number, line.rstrip(b"\r\n")
    except (OSError, EOFError, zlib.error) as e:
        raise InputError(f"cannot read {what} {path}: {e}")
    finally:
        f.close()


def parse_codes(line, path, number):
    """Allele codes 0/1 of one haplotype line as uint8."""
    s = line.rstrip()
    if len(s) % 2 == 1:
        # The usual layout, single codes between single blanks, read at once.
        a = np.frombuffer(s, np.uint8)
        codes = a[0::2] - np.uint8(48)
        if (len(s) == 1 or (a[1::2] == 32).all()) and (codes.size == 0 or codes.max() <= 1):
            return codes
    out = []
    for t in s.split():
        try:
            v = int(t)
        except ValueError:
            v = -1
        if v not in (0, 1):
            raise InputError(f"{path}: line {number}: allele code {t.decode(errors='replace')!r} is not 0 or 1")
        out.append(v)
    return np.array(out, dtype=np.uint8)


def read_legend(path, what):
    """Positions, rsids and alleles of a legend file (header line skipped)."""
    positions, rsids = [], []
    for number, line in lines_of(path, what):
        if number == 1:
            continue
        f = line.split()
        if len(f) < 4:
            raise InputError(f"{path}: line {number}: expected 'rsid position allele0 allele1'")
        try:
            pos = int(f[1])
        except ValueError:
            raise InputError(f"{path}: line {number}: position {f[1].decode(errors='replace')!r} is not an integer")
        if not -2**31 <= pos < 2**31:
            raise InputError(f"{path}: line {number}: position {pos} does not fit in 32 bits")
        positions.append(pos)
        rsids.append(f[0].decode(errors="replace"))
    return np.array(positions, dtype=np.int64), rsids


def read_map(path):
    pos, cm = [], []
    for number, line in lines_of(path, "genetic map"):
        if number == 1:
            continue
        f = line.split()
        try:
            p, c = float(f[0]), float(f[2])
            ok = math.isfinite(p) and math.isfinite(c)
        except (ValueError, IndexError):
            ok = False
        if not ok:
            raise InputError(f"{path}: line {number}: expected 'position rate cumulative_cM'")
        if pos and p < pos[-1]:
            raise InputError(f"{path}: line {number}: positions decrease")
        pos.append(p)
        cm.append(c)
    if not pos:
        raise InputError(f"{path}: no map rows")
    return np.array(pos), np.array(cm)


def read_panel(hap_path, legend_path, wanted, run_legend):
    """Panel rows (SNP-major uint8) at the positions `wanted`, in that order.

    Of several legend lines with one position the first is kept, as in tarvik.
    """
    positions, _ = read_legend(legend_path, "panel legend")
    first_line = {}
    for i, p in enumerate(positions.tolist()):
        first_line.setdefault(p, i)
    row_of_line = {}
    for k, p in enumerate(wanted.tolist()):
        if p not in first_line:
            raise InputError(f"the run's legend {run_legend} has a SNP at position {p} that is not in the panel "
                             f"legend {legend_path}: the run was not made from this panel")
        row_of_line[first_line[p]] = k
    rows = None
    n = None
    count = 0
    for number, line in lines_of(hap_path, "panel haplotype file"):
        count = number
        if number > len(positions):
            continue
        codes = parse_codes(line, hap_path, number)
        if n is None:
            n = codes.size
            if n == 0:
                raise InputError(f"{hap_path}: line 1: no haplotypes")
            rows = np.empty((len(wanted), n), dtype=np.uint8)
        elif codes.size != n:
            raise InputError(f"{hap_path}: line {number}: {codes.size} allele codes where line 1 has {n}")
        k = row_of_line.get(number - 1)
        if k is not None:
            rows[k] = codes
    if count != len(positions):
        raise InputError(f"the panel legend {legend_path} has {len(positions)} SNP lines but the haplotype file "
                         f"{hap_path} has {count} lines: they do not belong together")
    return rows


def existing(base, suffix):
    for name in (base + suffix, base + suffix + ".gz"):
        if os.path.exists(name):
            return name
    return None


class Sample:
    """Simulated individuals of one file: SNP-major haplotypes (or genotypes
    when only .gen files exist), with counts over every individual."""
    haplotypes = True
    path = ""
    individuals = 0        # in the file
    kept = None            # SNP-major matrix of the kept individuals
    kept_individuals = None
    allele1 = None         # per SNP, over all individuals
    het = None
    hom1 = None


def keep_plan(individuals, rng):
    if individuals <= KEEP_INDIVIDUALS:
        return None
    return np.sort(rng.choice(individuals, KEEP_INDIVIDUALS, replace=False))


def read_run_haps(path, nsnp, rng, rows_wanted=None):
    """All SNP lines of a .haps file, or only `rows_wanted` (row index list)."""
    s = Sample()
    s.path = path
    wanted = None if rows_wanted is None else {r: k for k, r in enumerate(rows_wanted)}
    # Line 1 is read even when no row is wanted: it gives the number of individuals.
    last = None if rows_wanted is None else (max(rows_wanted) + 1 if rows_wanted else 1)
    lines = 0
    cols = None
    for number, line in lines_of(path, "haplotype file"):
        lines = number
        if last is not None and number > last:
            break
        if number > nsnp:
            raise InputError(f"{path} has more SNP lines than the run's legend ({nsnp})")
        codes = parse_codes(line, path, number)
        if number == 1:
            if codes.size % 2:
                raise InputError(f"{path}: line 1: {codes.size} haplotypes, not pairs of individuals")
            s.individuals = codes.size // 2
            chosen = keep_plan(s.individuals, rng) if wanted is None else None
            s.kept_individuals = np.arange(s.individuals) if chosen is None else chosen
            if chosen is not None:
                cols = np.stack([2 * chosen, 2 * chosen + 1], axis=1).ravel()
            nrows = nsnp if wanted is None else len(wanted)
            width = 2 * s.kept_individuals.size
            s.kept = np.empty((nrows, width), dtype=np.uint8)
            s.allele1 = np.zeros(nrows, dtype=np.int64)
            s.het = np.zeros(nrows, dtype=np.int64)
            s.hom1 = np.zeros(nrows, dtype=np.int64)
        elif codes.size != 2 * s.individuals:
            raise InputError(f"{path}: line {number}: {codes.size} allele codes where line 1 has {2 * s.individuals}")
        k = number - 1 if wanted is None else wanted.get(number - 1)
        if k is None:
            continue
        g = codes[0::2] + codes[1::2]
        s.allele1[k] = np.count_nonzero(codes)
        s.het[k] = np.count_nonzero(g == 1)
        s.hom1[k] = np.count_nonzero(g == 2)
        s.kept[k] = codes if cols is None else codes[cols]
    if (last is None and lines != nsnp) or (last is not None and lines < last):
        raise InputError(f"{path} has {lines} SNP lines but the run's legend has {nsnp}: they do not belong together")
    return s


def read_run_gen(path, rng, rows_wanted=None):
    """A .gen file: its SNP positions and a Sample of genotypes."""
    s = Sample()
    s.haplotypes = False
    s.path = path
    positions, rows, counts = [], [], []
    wanted = None if rows_wanted is None else set(rows_wanted)
    last = None if rows_wanted is None else (max(rows_wanted) + 1 if rows_wanted else 0)
    nind = None
    for number, line in lines_of(path, "genotype file"):
        if last is not None and number > last:
            break
        f = line.split(None, 5)
        if len(f) < 5:
            raise InputError(f"{path}: line {number}: expected 'snp rsid position allele0 allele1 probabilities...'")
        try:
            positions.append(int(f[2]))
        except ValueError:
            raise InputError(f"{path}: line {number}: position {f[2].decode(errors='replace')!r} is not an integer")
        if wanted is not None and number - 1 not in wanted:
            continue
        body = f[5] if len(f) > 5 else b""
        codes = parse_codes(body, path, number) if body.strip() else np.zeros(0, np.uint8)
        if codes.size % 3:
            raise InputError(f"{path}: line {number}: genotype probabilities do not come in threes")
        trip = codes.reshape(-1, 3)
        if trip.size and not (trip.sum(axis=1) == 1).all():
            raise InputError(f"{path}: line {number}: a genotype is not one of '1 0 0', '0 1 0', '0 0 1'")
        g = np.argmax(trip, axis=1).astype(np.uint8) if trip.size else np.zeros(0, np.uint8)
        if nind is None:
            nind = g.size
        elif g.size != nind:
            raise InputError(f"{path}: line {number}: {g.size} genotypes where line 1 has {nind}")
        rows.append(g)
    if not rows:
        raise InputError(f"{path}: no SNP lines")
    s.individuals = nind
    chosen = keep_plan(nind, rng) if rows_wanted is None else None
    s.kept_individuals = np.arange(nind) if chosen is None else chosen
    G = np.array(rows, dtype=np.uint8)
    s.allele1 = G.sum(axis=1, dtype=np.int64)
    s.het = np.count_nonzero(G == 1, axis=1).astype(np.int64)
    s.hom1 = np.count_nonzero(G == 2, axis=1).astype(np.int64)
    s.kept = G if chosen is None else G[:, chosen]
    return np.array(positions, dtype=np.int64), s


# ---------------------------------------------------------------------------
# Statistics

def genotypes_of(haps):
    """SNP-major genotypes (allele-1 counts) of consecutive haplotype pairs."""
    m = haps.shape[1] // 2 * 2
    return haps[:, 0:m:2] + haps[:, 1:m:2]


def hamming(a, b, chunk=2048):
    """Hamming distances between the columns of two SNP-major 0/1 matrices."""
    A = np.ascontiguousarray(a.T, dtype=np.float32)
    na = A.sum(axis=1)
    out = np.empty((a.shape[1], b.shape[1]), dtype=np.float32)
    for c0 in range(0, b.shape[1], chunk):
        B = b[:, c0:c0 + chunk].astype(np.float32)
        out[:, c0:c0 + chunk] = na[:, None] + B.sum(axis=0)[None, :] - 2.0 * (A @ B)
    return out


def nearest_within(A, qa, B, limit, rng, same=False, subset=SCREEN_SNPS):
    """For the columns qa of A: the Hamming distance to the nearest column of
    B (another column than itself when `same`) where it is <= limit, else inf.

    Exact: the distance over a subset of the SNPs is at most the full one, so
    a screen on `subset` random SNPs keeps every pair within `limit`, and only
    those pairs are compared over all SNPs."""
    Q = len(qa)
    out = np.full(Q, np.inf)
    if Q == 0 or B.shape[1] == 0:
        return out
    L = A.shape[0]
    screened = L > 4 * subset
    rows = np.sort(rng.choice(L, subset, replace=False)) if screened else slice(None)
    d = hamming(A[rows][:, qa], B[rows])
    if same:
        d[np.arange(Q), qa] = np.inf
    if not screened:
        nearest = d.min(axis=1)
        return np.where(nearest <= limit, nearest, np.inf)
    qi, cj = np.nonzero(d <= limit)  # row-major: grouped by query
    del d
    if qi.size == 0:
        return out
    At = np.ascontiguousarray(A[:, qa].T)
    Bt = np.ascontiguousarray(B.T)
    starts = np.flatnonzero(np.r_[True, qi[1:] != qi[:-1]])
    for i, cand in zip(qi[starts], np.split(cj, starts[1:])):
        full = np.count_nonzero(Bt[cand] != At[i], axis=1).min()
        if full <= limit:
            out[i] = full
    return out


def king_robust(G):
    """KING-robust kinship of every pair of columns of SNP-major genotypes:
    (N_het,het - 2 N_opposite_hom) / (N_het(i) + N_het(j))."""
    H = (G.T == 1).astype(np.float32)
    A = (G.T == 2).astype(np.float32)
    R = (G.T == 0).astype(np.float32)
    hethet = H @ H.T
    opp = A @ R.T
    opp = opp + opp.T
    nhet = H.sum(axis=1)
    denom = nhet[:, None] + nhet[None, :]
    with np.errstate(invalid="ignore", divide="ignore"):
        return np.where(denom > 0, (hethet - 2.0 * opp) / denom, np.nan)


def pair_r2(X, I, J, chunk=1024):
    """Squared Pearson correlation of rows I[k] and J[k] of a small-integer
    SNP-major matrix (r^2 of haplotypes for 0/1 codes, of allele counts for
    genotypes); nan where either row does not vary."""
    K = X.shape[1]
    s1 = X.sum(axis=1, dtype=np.int64).astype(np.float64)
    s2 = (X * X).sum(axis=1, dtype=np.int64).astype(np.float64)
    out = np.empty(len(I))
    for c0 in range(0, len(I), chunk):
        i, j = I[c0:c0 + chunk], J[c0:c0 + chunk]
        cross = (X[i] * X[j]).sum(axis=1, dtype=np.int64).astype(np.float64)
        cov = K * cross - s1[i] * s1[j]
        va = K * s2[i] - s1[i] ** 2
        vb = K * s2[j] - s1[j] ** 2
        with np.errstate(invalid="ignore", divide="ignore"):
            r2 = cov * cov / (va * vb)
        r2[(va <= 0) | (vb <= 0)] = np.nan
        out[c0:c0 + chunk] = r2
    return out


_hwe_cache = {}


def hwe_exact(n, rare, het):
    """Exact HWE p-value for n individuals, `rare` copies of the rarer allele
    and `het` heterozygotes: the sum of the probabilities, given the allele
    counts, of the heterozygote counts no more likely than the one seen."""
    key = (n, rare)
    pv = _hwe_cache.get(key)
    if pv is None:
        h = np.arange(rare % 2, rare + 1, 2)
        homr = (rare - h) // 2
        homc = n - h - homr
        logp = (special.gammaln(n + 1) - special.gammaln(homr + 1) - special.gammaln(h + 1)
                - special.gammaln(homc + 1) + h * math.log(2.0) + special.gammaln(rare + 1)
                + special.gammaln(2 * n - rare + 1) - special.gammaln(2 * n + 1))
        p = np.exp(logp)
        order = np.sort(p)
        cum = np.cumsum(order)
        idx = np.searchsorted(order, p * (1 + 1e-7), side="right") - 1
        pv = np.minimum(cum[idx], 1.0)
        _hwe_cache[key] = pv
    return pv[(het - rare % 2) // 2]


def hwe_counts(n, allele1, het, hom1):
    """Numbers of SNPs tested and with exact / chi-square p below HWE_ALPHA."""
    hom0 = n - het - hom1
    poly = (allele1 > 0) & (allele1 < 2 * n)
    exact_low = chi_low = 0
    for a1, h, o1, o0 in zip(allele1[poly], het[poly], hom1[poly], hom0[poly]):
        rare = int(min(a1, 2 * n - a1))
        if hwe_exact(n, rare, int(h)) < HWE_ALPHA:
            exact_low += 1
    p = allele1[poly] / (2.0 * n)
    q = 1 - p
    obs = np.stack([hom0[poly], het[poly], hom1[poly]], axis=1).astype(float)
    exp = np.stack([n * q * q, 2 * n * p * q, n * p * p], axis=1)
    chi = ((obs - exp) ** 2 / exp).sum(axis=1)
    chi_low = int(np.count_nonzero(stats.chi2.sf(chi, 1) < HWE_ALPHA))
    return int(poly.sum()), exact_low, chi_low


# ---------------------------------------------------------------------------
# Report

def fmt(v):
    if isinstance(v, (bool, np.bool_)):
        return str(int(v))
    if isinstance(v, (int, np.integer)):
        return str(int(v))
    if isinstance(v, (float, np.floating)):
        v = float(v)
        if math.isnan(v):
            return "nan"
        return f"{v:.6g}"
    return str(v)


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
        buf = io.BytesIO()
        fig.savefig(buf, format="png", dpi=80)
        plt.close(fig)
        data = base64.b64encode(buf.getvalue()).decode("ascii")
        self.html(f'<img alt="plot" src="data:image/png;base64,{data}">')

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


def bin_label(lo, hi):
    return f"{lo:g}-{hi:g}"


# ---------------------------------------------------------------------------
# Sections

def section_allele_frequencies(rep, panel, ctrl, n, M, figs):
    S = "allele_frequency"
    p = panel.mean(axis=1)
    f = ctrl.allele1 / M
    sd = np.sqrt(p * (1 - p) * (n + M) / (M * (n + 1)))
    diff = f - p
    outside = np.abs(diff) > 2 * sd + 1e-12
    rep.section("1. Allele frequencies: simulated controls against the panel")
    rep.para("Each SNP of a simulated haplotype is copied from the panel or an earlier simulated haplotype, so "
             "at every SNP the simulated allele frequency follows a P&oacute;lya urn started from the panel: "
             "mean p, variance pq(n+M)/(M(n+1)) for n panel and M simulated haplotypes (mutation adds a little). "
             "The band is p &plusmn; 2 SD; about 5% of the SNPs polymorphic in the panel outside it is what "
             "the urn gives. A SNP monomorphic in the panel varies in the controls only through mutation.")
    rep.add(S, "snps", p.size)
    r = float(np.corrcoef(p, f)[0, 1]) if p.size > 1 and p.std() > 0 and f.std() > 0 else float("nan")
    rep.add(S, "pearson_r", r)
    rep.add(S, "snps_outside_2sd_band", int(outside.sum()))
    rep.add(S, "fraction_outside_2sd_band", float(outside.mean()) if p.size else float("nan"))
    rep.add(S, "max_abs_difference", float(np.abs(diff).max()) if p.size else float("nan"))
    # At a SNP without variation in the panel the band has width 0, so any
    # mutation in a simulated haplotype puts it outside: counted apart.
    poly = (p > 0) & (p < 1)
    rep.add(S, "panel_polymorphic_snps", int(poly.sum()))
    rep.add(S, "panel_polymorphic_snps_outside_2sd_band", int((outside & poly).sum()))
    rep.add(S, "fraction_of_panel_polymorphic_outside_2sd_band",
            float(outside[poly].mean()) if poly.any() else float("nan"))
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
    maf = np.minimum(p, 1 - p)
    rows = []
    for lo, hi in zip(MAF_BINS[:-1], MAF_BINS[1:]):
        sel = (maf >= lo) & ((maf < hi) if hi < 0.5 else (maf <= hi))
        k = bin_label(lo, hi)
        cnt = rep.add(S, f"snps_maf_{k}", int(sel.sum()))
        mad = rep.add(S, f"mean_abs_difference_maf_{k}", float(np.abs(diff[sel]).mean()) if cnt else float("nan"))
        # E|X| = SD * sqrt(2/pi) for a normal difference.
        emad = rep.add(S, f"expected_mean_abs_difference_maf_{k}",
                       float((sd[sel] * math.sqrt(2 / math.pi)).mean()) if cnt else float("nan"))
        rows.append((k, cnt, mad, emad))
    rep.para("Mean |simulated &minus; panel| by panel minor-allele-frequency bin, and what the urn gives "
             "(SD &middot; &radic;(2/&pi;) averaged over the bin):")
    rep.table(["panel MAF", "SNPs", "mean |difference|", "expected"], rows)

    fig, ax = plt.subplots(figsize=(5.5, 5))
    grid = np.linspace(0, 1, 201)
    gsd = np.sqrt(grid * (1 - grid) * (n + M) / (M * (n + 1)))
    ax.fill_between(grid, grid - 2 * gsd, grid + 2 * gsd, color="#9ecae1", alpha=0.6, label="±2 SD (urn)")
    ax.scatter(p[~outside], f[~outside], s=3, color="#333333", alpha=0.5, label="SNP", rasterized=True)
    ax.scatter(p[outside], f[outside], s=5, color="#d62728", label="outside band")
    ax.plot([0, 1], [0, 1], color="k", lw=0.5)
    ax.set_xlabel("panel allele-1 frequency")
    ax.set_ylabel("simulated control allele-1 frequency")
    ax.set_title(f"Allele frequencies (r = {fmt(r)})")
    ax.legend(loc="upper left", fontsize=8)
    figs["af"] = (p, f, outside, grid, gsd, r)
    rep.figure(fig)


def sample_pairs(coord, edges, per_bin, rng):
    """SNP pairs (i < j) with coordinate distance in [edges[0], edges[-1]):
    all of them when there are few, else per_bin random pairs per bin."""
    N = coord.size
    nb = edges.size - 1
    if N * (N - 1) // 2 <= per_bin * nb:
        I, J = np.triu_indices(N, 1)
    else:
        Is, Js = [], []
        for b in range(nb):
            i = rng.integers(N, size=4 * per_bin)
            start = np.maximum(np.searchsorted(coord, coord[i] + edges[b], "left"), i + 1)
            stop = np.searchsorted(coord, coord[i] + edges[b + 1], "left")
            ok = stop > start
            i, start, stop = i[ok][:per_bin], start[ok][:per_bin], stop[ok][:per_bin]
            j = start + (rng.random(i.size) * (stop - start)).astype(np.int64)
            Is.append(i)
            Js.append(j)
        I, J = np.concatenate(Is), np.concatenate(Js)
    d = coord[J] - coord[I]
    b = np.searchsorted(edges, d, "right") - 1
    keep = (b >= 0) & (b < nb)
    return I[keep], J[keep], b[keep]


def section_ld(rep, p, panel_X, sim_X, what, coord, unit, width, nbins, rng, figs, notes):
    S = "ld"
    rep.section("2. Linkage disequilibrium decay")
    eligible = np.flatnonzero(np.minimum(p, 1 - p) >= LD_MIN_MAF)
    edges = np.arange(nbins + 1) * width
    c = coord[eligible]
    I, J, b = sample_pairs(c, edges, LD_PAIRS_PER_BIN, rng)
    if sim_X.shape[1] > LD_HAPLOTYPES:
        cols = np.sort(rng.choice(sim_X.shape[1], LD_HAPLOTYPES, replace=False))
        notes.append(f"LD: r^2 over {LD_HAPLOTYPES} of {sim_X.shape[1]} simulated {what}")
        sim_X = sim_X[np.ix_(eligible, cols)]
    else:
        sim_X = sim_X[eligible]
    rp = pair_r2(panel_X[eligible], I, J)
    rs = pair_r2(sim_X, I, J)
    ok = ~(np.isnan(rp) | np.isnan(rs))
    rep.add(S, "min_maf", LD_MIN_MAF)
    rep.add(S, "eligible_snps", int(eligible.size))
    rep.add(S, f"simulated_{what}_used", int(sim_X.shape[1]))
    rep.add(S, "pairs", int(ok.sum()))
    rep.para(f"Mean r&sup2; of SNP pairs (both with panel MAF &ge; {LD_MIN_MAF:g}; the same pairs in the panel "
             f"and the simulated controls; a pair monomorphic in either is left out) by distance in {unit}. "
             "Copying segments from the panel keeps its LD at short range; recombination between segments "
             "lowers it with distance, as in the panel.")
    rows = []
    mids, mp, ms = [], [], []
    for k in range(nbins):
        sel = ok & (b == k)
        lab = bin_label(edges[k], edges[k + 1])
        cnt = rep.add(S, f"pairs_{lab}{unit}", int(sel.sum()))
        a = rep.add(S, f"panel_mean_r2_{lab}{unit}", float(rp[sel].mean()) if cnt else float("nan"))
        s = rep.add(S, f"sim_mean_r2_{lab}{unit}", float(rs[sel].mean()) if cnt else float("nan"))
        ratio = rep.add(S, f"ratio_{lab}{unit}", s / a if cnt and a > 0 else float("nan"))
        rows.append((f"{lab} {unit}", cnt, a, s, ratio))
        mids.append((edges[k] + edges[k + 1]) / 2)
        mp.append(a)
        ms.append(s)
    rep.table([f"distance", "pairs", "panel mean r²", "simulated mean r²", "simulated / panel"], rows)
    fig, ax = plt.subplots(figsize=(6.5, 4))
    draw_ld(ax, mids, mp, ms, unit)
    figs["ld"] = (mids, mp, ms, unit)
    rep.figure(fig)


def draw_ld(ax, mids, mp, ms, unit):
    mids, mp, ms = np.array(mids), np.array(mp), np.array(ms)
    ax.plot(mids, mp, "o-", label="panel")
    ax.plot(mids, ms, "s--", label="simulated controls")
    if np.all(np.nan_to_num(mp) > 0) and np.all(np.nan_to_num(ms) > 0):
        ax.set_yscale("log")
    ax.set_xlabel(f"distance ({unit})")
    ax.set_ylabel("mean r²")
    ax.set_title("LD decay")
    with np.errstate(invalid="ignore", divide="ignore"):
        ratio = ms / mp
    ax2 = ax.twinx()
    ax2.plot(mids, ratio, ":", color="grey", marker=".", label="simulated / panel")
    ax2.set_ylim(0, max(1.5, float(np.nanmax(ratio)) * 1.1) if np.isfinite(ratio).any() else 1.5)
    ax2.set_ylabel("simulated / panel")
    h1, l1 = ax.get_legend_handles_labels()
    h2, l2 = ax2.get_legend_handles_labels()
    ax.legend(h1 + h2, l1 + l2, fontsize=8)


def section_relatedness(rep, sim_X, sim_haplotypes, panel_G, rng, figs, notes):
    """sim_X: SNP-major haplotypes (pairs of columns) or genotypes."""
    S = "relatedness"
    rep.section("3. Relatedness (KING-robust kinship)")
    ns = sim_X.shape[1] // 2 if sim_haplotypes else sim_X.shape[1]
    pick = np.arange(ns)
    if ns > KINSHIP_INDIVIDUALS:
        pick = np.sort(rng.choice(ns, KINSHIP_INDIVIDUALS, replace=False))
        notes.append(f"kinship: {KINSHIP_INDIVIDUALS} of {ns} simulated controls")
    sim_G = sim_X[:, 2 * pick] + sim_X[:, 2 * pick + 1] if sim_haplotypes else sim_X[:, pick]
    npn = panel_G.shape[1]
    if npn > KINSHIP_PANEL_INDIVIDUALS:
        pick = np.sort(rng.choice(npn, KINSHIP_PANEL_INDIVIDUALS, replace=False))
        notes.append(f"kinship: {KINSHIP_PANEL_INDIVIDUALS} of {npn} panel individuals")
        panel_G = panel_G[:, pick]
    a, bn = sim_G.shape[1], panel_G.shape[1]
    phi = king_robust(np.concatenate([sim_G, panel_G], axis=1))
    groups = {
        "sim_sim": phi[:a, :a][np.triu_indices(a, 1)],
        "sim_panel": phi[:a, a:].ravel(),
        "panel_panel": phi[a:, a:][np.triu_indices(bn, 1)],
    }
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
        v = v[~np.isnan(v)]
        row = [name, rep.add(S, f"{name}_pairs", int(v.size)),
               rep.add(S, f"{name}_mean_kinship", float(v.mean()) if v.size else float("nan")),
               rep.add(S, f"{name}_max_kinship", float(v.max()) if v.size else float("nan"))]
        for label, t in KINSHIP_THRESHOLDS:
            row.append(rep.add(S, f"{name}_fraction_above_{t:g}", float((v > t).mean()) if v.size else float("nan")))
        rows.append(row)
        groups[name] = v
    rep.table(["pairs", "number", "mean φ", "max φ"] + [f"> {t:g} ({l})" for l, t in KINSHIP_THRESHOLDS], rows)
    fig, ax = plt.subplots(figsize=(6.5, 4))
    draw_kinship(ax, groups)
    figs["kin"] = groups
    rep.figure(fig)


def draw_kinship(ax, groups):
    allv = np.concatenate([v for v in groups.values() if v.size] or [np.zeros(1)])
    lo, hi = min(-0.1, allv.min()), max(0.5, allv.max())
    bins = np.linspace(lo, hi, 121)
    for name, v in groups.items():
        if v.size:
            ax.hist(v, bins=bins, histtype="step", density=True, label=f"{name} ({v.size})")
    for label, t in KINSHIP_THRESHOLDS:
        ax.axvline(t, color="grey", ls=":", lw=1)
    ax.set_yscale("log")
    ax.set_xlabel("KING-robust kinship")
    ax.set_ylabel("density")
    ax.set_title("Kinship")
    ax.legend(fontsize=8)


def section_clones(rep, sim_H, panel_H, rng, figs, notes):
    S = "clones"
    rep.section("4. Clones and nearest neighbours")
    if sim_H is None:
        rep.para("Not available: the run wrote no haplotype files.")
        return
    Mk, n = sim_H.shape[1], panel_H.shape[1]
    Q = min(Mk, max(CLONE_MIN_QUERIES, CLONE_WORK // max(Mk, 1)))
    q = np.sort(rng.choice(Mk, Q, replace=False)) if Q < Mk else np.arange(Mk)
    if Q < Mk:
        notes.append(f"clones: {Q} query haplotypes of {Mk} simulated, against all {Mk}")
    nn_ss = nearest_within(sim_H, q, sim_H, NEAR_MISMATCHES, rng, same=True)
    nn_sp = nearest_within(sim_H, q, panel_H, NEAR_MISMATCHES, rng)
    nn_pp_all = nearest_within(panel_H, np.arange(n), panel_H, NEAR_MISMATCHES, rng, same=True)
    rep.add(S, "query_haplotypes", Q)
    rep.add(S, "simulated_reference_haplotypes", Mk)
    rep.add(S, "panel_haplotypes", n)
    rep.add(S, "near_max_mismatches", NEAR_MISMATCHES)
    vals = {
        "sim_exact_duplicate_in_sim": (nn_ss == 0).mean(),
        "sim_near_duplicate_in_sim": (nn_ss <= NEAR_MISMATCHES).mean(),
        "sim_exact_duplicate_in_panel": (nn_sp == 0).mean(),
        "sim_near_duplicate_in_panel": (nn_sp <= NEAR_MISMATCHES).mean(),
        "panel_exact_duplicate_in_panel": (nn_pp_all == 0).mean() if n > 1 else float("nan"),
        "panel_near_duplicate_in_panel": (nn_pp_all <= NEAR_MISMATCHES).mean() if n > 1 else float("nan"),
    }
    for k, v in vals.items():
        rep.add(S, "fraction_" + k, float(v))
    rep.para(f"Fraction of simulated haplotypes with an exact copy (Hamming distance 0) or a near copy "
             f"(&le; {NEAR_MISMATCHES} mismatches over all SNPs of the run) among the other simulated "
             f"control haplotypes and in the panel; the panel's own fractions are the baseline.")
    rep.table(["haplotypes", "compared with", "exact", f"≤ {NEAR_MISMATCHES}"],
              [("simulated", "simulated", vals["sim_exact_duplicate_in_sim"], vals["sim_near_duplicate_in_sim"]),
               ("simulated", "panel", vals["sim_exact_duplicate_in_panel"], vals["sim_near_duplicate_in_panel"]),
               ("panel", "panel", vals["panel_exact_duplicate_in_panel"], vals["panel_near_duplicate_in_panel"])])

    # Nearest-neighbour distances depend on the size of the set searched, so
    # the three distributions and the adversarial accuracy use sets of equal
    # size m drawn from each side.
    m = min(n, Mk, NN_SET)
    t = np.sort(rng.choice(n, m, replace=False)) if m < n else np.arange(n)
    s = np.sort(rng.choice(Mk, m, replace=False)) if m < Mk else np.arange(Mk)
    if m < n or m < Mk:
        notes.append(f"nearest neighbours: {m} panel and {m} simulated haplotypes")
    T, Sm = panel_H[:, t], sim_H[:, s]
    d_tt = hamming(T, T)
    np.fill_diagonal(d_tt, np.inf)
    d_ss = hamming(Sm, Sm)
    np.fill_diagonal(d_ss, np.inf)
    d_ts = hamming(T, Sm)
    nn_tt, nn_ss2 = d_tt.min(axis=1), d_ss.min(axis=1)
    nn_ts, nn_st = d_ts.min(axis=1), d_ts.min(axis=0)
    rep.add(S, "nn_set_size", m)
    for name, v in (("sim_to_panel", nn_st), ("sim_to_sim", nn_ss2), ("panel_to_panel", nn_tt)):
        rep.add(S, f"nn_{name}_mean", float(v.mean()))
        rep.add(S, f"nn_{name}_median", float(np.median(v)))
    aa = 0.5 * ((nn_ts > nn_tt).mean() + (nn_st > nn_ss2).mean())
    aa_ties = 0.5 * ((nn_ts > nn_tt).mean() + 0.5 * (nn_ts == nn_tt).mean()
                     + (nn_st > nn_ss2).mean() + 0.5 * (nn_st == nn_ss2).mean())
    rep.add(S, "adversarial_accuracy", float(aa))
    rep.add(S, "adversarial_accuracy_ties_half", float(aa_ties))
    rep.add(S, "fraction_ties_panel_side", float((nn_ts == nn_tt).mean()))
    rep.add(S, "fraction_ties_sim_side", float((nn_st == nn_ss2).mean()))
    rep.para(f"Nearest-neighbour Hamming distances within sets of m panel and m simulated haplotypes. "
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
    fig, ax = plt.subplots(figsize=(6.5, 4))
    nn = {"simulated→panel": nn_st, "simulated→simulated": nn_ss2, "panel→panel": nn_tt}
    draw_nn(ax, nn)
    figs["nn"] = nn
    rep.figure(fig)


def draw_nn(ax, nn):
    hi = max(float(v.max()) for v in nn.values())
    bins = np.linspace(0, max(hi, 1), 61)
    for name, v in nn.items():
        ax.hist(v, bins=bins, histtype="step", label=name)
    ax.axvline(NEAR_MISMATCHES, color="grey", ls=":", lw=1)
    ax.set_xlabel("nearest-neighbour Hamming distance")
    ax.set_ylabel("haplotypes")
    ax.set_title("Nearest neighbours")
    ax.legend(fontsize=8)


def section_disease(rep, loci, run_pos, panel, ctrl, cases, n):
    rep.section("5. Disease loci")
    if not loci:
        rep.para("No disease loci given (-dl).")
        return
    nc = ctrl.individuals
    nk = cases.individuals if cases is not None else 0
    lam = (n / (n + 2.0 * nc) / nc + 1.0 / nk) / (1.0 / nc + 1.0 / nk) if nc and nk else float("nan")
    rep.add("disease_loci", "lambda_null", lam)
    rows, missing = [], []
    index = {p: i for i, p in enumerate(run_pos.tolist())}
    for pos, allele, rr1, rr2 in loci:
        S = f"disease_locus_{pos}"
        i = index.get(pos)
        if i is None:
            rep.add(S, "in_run", 0)
            rows.append((pos, allele, rr1, rr2) + (float("nan"),) * 9)
            missing.append(str(pos))
            continue
        rep.add(S, "in_run", 1)
        for k, v in (("risk_allele", allele), ("rr1", rr1), ("rr2", rr2)):
            rep.add(S, k, v)

        def risk_count(a1, total):
            return a1 if allele == 1 else total - a1
        pan = int(panel[i].sum())
        pan = risk_count(pan, n)
        ctl = risk_count(int(ctrl.allele1[i]), 2 * nc)
        cas = risk_count(int(cases.allele1[cases.row_of[i]]), 2 * nk) if nk else 0
        fc = rep.add(S, "control_freq", ctl / (2.0 * nc))
        fk = rep.add(S, "case_freq", cas / (2.0 * nk) if nk else float("nan"))
        rep.add(S, "panel_freq", pan / n)
        p = rep.add(S, "pooled_freq", (pan + ctl) / (n + 2.0 * nc))
        q = 1 - p
        D = q * q + 2 * p * q * rr1 + p * p * rr2
        e = rep.add(S, "expected_case_freq", p * (rr1 * q + rr2 * p) / D if D > 0 else float("nan"))
        # Cases are drawn independently, each with genotype probabilities
        # q^2, 2pq rr1, p^2 rr2 (over D): the SE of the case frequency
        # follows from the variance of that genotype count.
        P1, P2 = 2 * p * q * rr1 / D, p * p * rr2 / D
        var_g = P1 + 4 * P2 - (2 * e) ** 2
        se = rep.add(S, "se_case_freq", math.sqrt(max(var_g, 0) / nk) / 2 if nk else float("nan"))
        z = rep.add(S, "z", (fk - e) / se if nk and se > 0 else float("nan"))
        a, b, c, d = cas, 2 * nk - cas, ctl, 2 * nc - ctl
        if min(a, b, c, d) > 0:
            orr = (a / b) / (c / d)
            se_log = math.sqrt(1 / a + 1 / b + 1 / c + 1 / d)
            lo, hi = orr * math.exp(-1.96 * se_log), orr * math.exp(1.96 * se_log)
        else:
            orr = lo = hi = float("nan")
        rep.add(S, "allelic_or", orr)
        rep.add(S, "allelic_or_ci_low", lo)
        rep.add(S, "allelic_or_ci_high", hi)
        eor = rep.add(S, "expected_allelic_or", (e / (1 - e)) / (p / q) if 0 < e < 1 and 0 < p < 1 else float("nan"))
        rows.append((pos, allele, rr1, rr2, fc, fk, e, se, z, orr, lo, hi, eor))
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


def section_hwe(rep, ctrl, panel_G):
    S = "hwe"
    rep.section("6. Hardy–Weinberg equilibrium")
    rows = []
    n = ctrl.individuals
    t, e, c = hwe_counts(n, ctrl.allele1, ctrl.het, ctrl.hom1)
    rows.append(("simulated controls", rep.add(S, "sim_individuals", n), rep.add(S, "sim_snps_tested", t),
                 rep.add(S, "sim_exact_p_below_1e-6", e), rep.add(S, "sim_chisq_p_below_1e-6", c)))
    npn = panel_G.shape[1]
    a1 = panel_G.sum(axis=1, dtype=np.int64)
    het = np.count_nonzero(panel_G == 1, axis=1).astype(np.int64)
    hom1 = np.count_nonzero(panel_G == 2, axis=1).astype(np.int64)
    t, e, c = hwe_counts(npn, a1, het, hom1)
    rows.append(("panel", rep.add(S, "panel_individuals", npn), rep.add(S, "panel_snps_tested", t),
                 rep.add(S, "panel_exact_p_below_1e-6", e), rep.add(S, "panel_chisq_p_below_1e-6", c)))
    rep.para(f"SNPs (polymorphic in the sample) with an exact or a 1-df chi-square Hardy–Weinberg p-value "
             f"below {HWE_ALPHA:g}. Simulated individuals pair two independently copied haplotypes, so they "
             "should be in equilibrium; the chi-square test over-rejects at rare SNPs.")
    rep.table(["sample", "individuals", "SNPs tested", "exact p < 1e-6", "chi-square p < 1e-6"], rows)


def summary_figure(path, figs):
    fig, axes = plt.subplots(2, 2, figsize=(10, 8))
    ax = axes[0, 0]
    if "af" in figs:
        p, f, outside, grid, gsd, r = figs["af"]
        ax.fill_between(grid, grid - 2 * gsd, grid + 2 * gsd, color="#9ecae1", alpha=0.6, label="±2 SD (urn)")
        ax.scatter(p, f, s=2, color="#333333", alpha=0.4, rasterized=True)
        ax.scatter(p[outside], f[outside], s=4, color="#d62728", label="outside band")
        ax.set_xlabel("panel allele-1 frequency")
        ax.set_ylabel("simulated frequency")
        ax.set_title(f"Allele frequencies (r = {fmt(r)})")
        ax.legend(fontsize=8, loc="upper left")
    ax = axes[0, 1]
    if "ld" in figs:
        draw_ld(ax, *figs["ld"])
    if "kin" in figs:
        draw_kinship(axes[1, 0], figs["kin"])
    if "nn" in figs:
        draw_nn(axes[1, 1], figs["nn"])
    else:
        axes[1, 1].axis("off")
    fig.tight_layout()
    fig.savefig(path, dpi=72)
    plt.close(fig)


# ---------------------------------------------------------------------------
# Driver

class Parser(argparse.ArgumentParser):
    def error(self, message):
        sys.stderr.write(f"validate.py: error: {message}\n")
        sys.exit(1)


def parse_args(argv):
    ap = Parser(add_help=False, allow_abbrev=False,
                usage="validate.py <output stem> -h <haps> -l <legend> [-m <map>] "
                      "[-dl <pos> <allele> <rr1> <rr2> ...] [--seed N] [--figure PNG]")
    ap.add_argument("stem")
    ap.add_argument("-h", dest="haps", required=True)
    ap.add_argument("-l", dest="legend", required=True)
    ap.add_argument("-m", dest="map")
    ap.add_argument("-dl", nargs="+", action="extend", default=[])
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--figure")
    ap.add_argument("--help", action="help")
    a = ap.parse_args(argv)
    if len(a.dl) % 4:
        ap.error("-dl values come in groups of four: position allele rr1 rr2")
    loci = []
    for k in range(0, len(a.dl), 4):
        try:
            pos, allele = float(a.dl[k]), int(a.dl[k + 1])
            rr1, rr2 = float(a.dl[k + 2]), float(a.dl[k + 3])
            if pos != int(pos):
                raise ValueError
            pos = int(pos)
        except (ValueError, OverflowError):
            ap.error(f"-dl: bad values {' '.join(a.dl[k:k + 4])}")
        if allele not in (0, 1) or rr1 < 0 or rr2 < 0:
            ap.error(f"-dl: the allele must be 0 or 1 and the relative risks not negative: {' '.join(a.dl[k:k + 4])}")
        loci.append((pos, allele, rr1, rr2))
    a.loci = loci
    return a


def run(argv):
    t_start = time.time()
    a = parse_args(argv)
    rng = np.random.default_rng(a.seed)
    base = a.stem[:-3] if a.stem.endswith(".gz") else a.stem
    notes = []
    # Input named on the command line is checked before the long reads.
    for path, what in ((a.haps, "panel haplotype file"), (a.legend, "panel legend"), (a.map, "genetic map")):
        if path is not None and not os.path.isfile(path):
            raise InputError(f"cannot open {what} {path}: no such file")

    def stage(msg):
        print(f"[{time.time() - t_start:6.1f} s] {msg}", flush=True)

    ctrl_haps = existing(base, ".controls.haps")
    if ctrl_haps is not None:
        legend = base + ".legend"
        if not os.path.exists(legend):
            raise InputError(f"{ctrl_haps} exists but the run's legend {legend} does not")
        run_pos, _ = read_legend(legend, "run legend")
        run_legend = legend
        if run_pos.size == 0:
            raise InputError(f"the run's legend {legend} has no SNPs")
        stage(f"reading {ctrl_haps}")
        ctrl = read_run_haps(ctrl_haps, run_pos.size, rng)
    else:
        ctrl_gen = existing(base, ".controls.gen")
        if ctrl_gen is None:
            raise InputError(f"no tarvik output for stem {a.stem}: none of {base}.controls.haps(.gz), "
                             f"{base}.controls.gen(.gz) exists")
        stage(f"reading {ctrl_gen} (no haplotype files)")
        run_pos, ctrl = read_run_gen(ctrl_gen, rng)
        run_legend = ctrl_gen
    if ctrl.individuals == 0:
        raise InputError(f"{ctrl.path} holds no simulated controls")
    if ctrl.individuals > ctrl.kept_individuals.size:
        notes.append(f"{ctrl.kept_individuals.size} of {ctrl.individuals} simulated controls held for the "
                     "matrix-based sections (allele frequencies and HWE use all)")

    cases = None
    if a.loci:
        index = {p: i for i, p in enumerate(run_pos.tolist())}
        # Line 1 is read in any case: it gives the number of cases.
        rows = sorted({index[p] for p, *_ in a.loci if p in index} | {0})
        if ctrl.haplotypes:
            path = existing(base, ".cases.haps")
            if path is None:
                raise InputError(f"-dl needs the cases: {base}.cases.haps(.gz) does not exist")
            stage(f"reading the disease-locus lines of {path}")
            cases = read_run_haps(path, run_pos.size, rng, rows_wanted=rows)
        else:
            path = existing(base, ".cases.gen")
            if path is None:
                raise InputError(f"-dl needs the cases: {base}.cases.gen(.gz) does not exist")
            stage(f"reading the disease-locus lines of {path}")
            _, cases = read_run_gen(path, rng, rows_wanted=rows)
        cases.row_of = {r: k for k, r in enumerate(rows)}

    stage(f"reading the panel {a.haps}")
    panel = read_panel(a.haps, a.legend, run_pos, run_legend)
    n = panel.shape[1]
    if a.map:
        mpos, mcm = read_map(a.map)
        coord, unit, width = np.interp(run_pos.astype(float), mpos, mcm), "cM", 0.1
    else:
        coord, unit, width = run_pos.astype(float) / 1000.0, "kb", 100.0

    rep = Report()
    R = "run"
    rep.section("Run")
    rep.add(R, "snps", int(run_pos.size))
    rep.add(R, "panel_haplotypes", n)
    rep.add(R, "simulated_controls", ctrl.individuals)
    rep.add(R, "simulated_control_haplotypes", 2 * ctrl.individuals)
    rep.add(R, "simulated_controls_held", int(ctrl.kept_individuals.size))
    rep.add(R, "simulated_cases", cases.individuals if cases is not None else 0)
    rep.add(R, "haplotype_files", int(ctrl.haplotypes))
    rep.add(R, "seed", a.seed)
    rep.para(f"Run <code>{html.escape(base)}</code> ({html.escape(ctrl.path)}), panel "
             f"<code>{html.escape(a.haps)}</code> / <code>{html.escape(a.legend)}</code>, map "
             f"<code>{html.escape(a.map or 'none')}</code>.")
    rep.metric_table(R, [("SNPs in the run", "snps"), ("panel haplotypes", "panel_haplotypes"),
                         ("simulated controls", "simulated_controls"),
                         ("simulated controls held in memory", "simulated_controls_held"),
                         ("simulated cases", "simulated_cases"),
                         ("haplotype files read (0: genotypes)", "haplotype_files"),
                         ("subsampling seed", "seed")])
    subsample_block = len(rep.blocks) - 1
    figs = {}

    M = 2 * ctrl.individuals
    panel_G = genotypes_of(panel)
    stage("allele frequencies")
    section_allele_frequencies(rep, panel, ctrl, n, M, figs)
    if ctrl.haplotypes:
        stage("LD decay")
        section_ld(rep, panel.mean(axis=1), panel, ctrl.kept, "haplotypes", coord, unit, width, 10, rng, figs, notes)
    else:
        stage("LD decay (genotype r^2)")
        section_ld(rep, panel.mean(axis=1), panel_G, ctrl.kept, "individuals", coord, unit, width, 10, rng, figs, notes)
    # A SNP with one allele in every panel and control haplotype adds nothing
    # to a kinship count or a Hamming distance; leaving it out saves time.
    # (A SNP fixed for different alleles in the two stays: it separates them.)
    total = panel.sum(axis=1, dtype=np.int64) + ctrl.allele1
    varies = (total > 0) & (total < M + n)
    rows = slice(None) if varies.all() else np.flatnonzero(varies)
    stage("relatedness")
    section_relatedness(rep, ctrl.kept[rows], ctrl.haplotypes, panel_G[rows], rng, figs, notes)
    stage("clones and nearest neighbours")
    section_clones(rep, ctrl.kept[rows] if ctrl.haplotypes else None, panel[rows], rng, figs, notes)
    stage("disease loci")
    section_disease(rep, a.loci, run_pos, panel, ctrl, cases, n)
    stage("Hardy-Weinberg")
    section_hwe(rep, ctrl, panel_G)

    title_block = rep.blocks[subsample_block][1]
    title_block.append("<p>Subsampled: " + (html.escape("; ".join(notes)) if notes else "nothing") + ".</p>")
    html_path, tsv_path = base + ".validation.html", base + ".validation.tsv"
    try:
        rep.write(html_path, tsv_path, f"tarvik validation: {os.path.basename(base)}")
        if a.figure:
            summary_figure(a.figure, figs)
    except OSError as e:
        raise InputError(f"cannot write {e.filename}: {e.strerror}")
    for note in notes:
        print("subsampled: " + note)
    if not notes:
        print("subsampled: nothing")
    stage(f"wrote {html_path} and {tsv_path}" + (f" and {a.figure}" if a.figure else ""))


def main(argv=None):
    try:
        run(sys.argv[1:] if argv is None else argv)
    except InputError as e:
        sys.stderr.write(f"validate.py: error: {e}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
