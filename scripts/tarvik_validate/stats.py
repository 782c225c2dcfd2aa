"""The numbers of the report: frequencies against the urn, r^2, kinship,
clones and nearest neighbours, Hardy-Weinberg tests and the disease model."""
import math

import numpy as np
from scipy import special, stats

KINSHIP_THRESHOLDS = [("3rd", 0.0442), ("2nd", 0.0884), ("1st", 0.177), ("duplicate", 0.354)]
NEAR_MISMATCHES = 10
HWE_ALPHA = 1e-6
MAF_BINS = [0.0, 0.01, 0.05, 0.1, 0.2, 0.3, 0.4, 0.5]
LD_MIN_MAF = 0.05

# Subsampling limits: chosen so that 10,000 + 10,000 individuals on the
# example panel validate within a minute on two cores.
LD_HAPLOTYPES = 5000            # simulated haplotypes used for r^2
LD_PAIRS_PER_BIN = 5000
KINSHIP_INDIVIDUALS = 1000      # simulated controls in the kinship pairs
KINSHIP_PANEL_INDIVIDUALS = 1000
CLONE_WORK = 10_000_000         # queries x reference haplotypes for near duplicates
CLONE_MIN_QUERIES = 500
NN_SET = 1000                   # haplotypes per side for the nearest-neighbour sets
SCREEN_SNPS = 2048              # SNPs of the screen for near duplicates

NAN = float("nan")


# ---------------------------------------------------------------------------
# Allele frequencies

def urn_sd(p, n, M):
    """SD of the frequency among M simulated haplotypes of a Pólya urn
    started from n panel haplotypes at frequency p."""
    return np.sqrt(p * (1 - p) * (n + M) / (M * (n + 1)))


def binomial_sd(p, n, M):
    """SD of the frequency among M haplotypes each copied from a random one
    of the n panel haplotypes (-copy_panel_only)."""
    return np.sqrt(p * (1 - p) / M)


def pearson(x, y):
    return float(np.corrcoef(x, y)[0, 1]) if x.size > 1 and x.std() > 0 and y.std() > 0 else NAN


def maf_bins(p, diff, sd):
    """(label, SNPs, mean |difference|, expected) per panel MAF bin."""
    maf = np.minimum(p, 1 - p)
    rows = []
    for lo, hi in zip(MAF_BINS[:-1], MAF_BINS[1:]):
        sel = (maf >= lo) & ((maf < hi) if hi < 0.5 else (maf <= hi))
        cnt = int(sel.sum())
        mad = float(np.abs(diff[sel]).mean()) if cnt else NAN
        # E|X| = SD * sqrt(2/pi) for a normal difference.
        emad = float((sd[sel] * math.sqrt(2 / math.pi)).mean()) if cnt else NAN
        rows.append((bin_label(lo, hi), cnt, mad, emad))
    return rows


def bin_label(lo, hi):
    return f"{lo:g}-{hi:g}"


# ---------------------------------------------------------------------------
# Linkage disequilibrium

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


class LDPairs:
    """r^2 of the same SNP pairs in the panel and the simulated sample."""
    eligible = None        # SNPs with panel MAF >= LD_MIN_MAF
    simulated_used = 0     # simulated columns in the r^2
    bin = None             # distance bin of each pair
    panel_r2 = None
    sim_r2 = None
    ok = None              # pairs that vary in both
    distance = None        # of each pair, in the unit of the coordinates


def ld_pairs(p, panel_X, sim_X, what, coord, edges, rng, notes):
    ld = LDPairs()
    ld.eligible = np.flatnonzero(np.minimum(p, 1 - p) >= LD_MIN_MAF)
    I, J, ld.bin = sample_pairs(coord[ld.eligible], edges, LD_PAIRS_PER_BIN, rng)
    if sim_X.shape[1] > LD_HAPLOTYPES:
        cols = np.sort(rng.choice(sim_X.shape[1], LD_HAPLOTYPES, replace=False))
        notes.append(f"LD: r^2 over {LD_HAPLOTYPES} of {sim_X.shape[1]} simulated {what}")
        sim_X = sim_X[np.ix_(ld.eligible, cols)]
    else:
        sim_X = sim_X[ld.eligible]
    ld.simulated_used = int(sim_X.shape[1])
    c = coord[ld.eligible]
    ld.distance = c[J] - c[I]
    ld.panel_r2 = pair_r2(panel_X[ld.eligible], I, J)
    ld.sim_r2 = pair_r2(sim_X, I, J)
    ld.ok = ~(np.isnan(ld.panel_r2) | np.isnan(ld.sim_r2))
    return ld


def unlinked_floor(k):
    """Mean r^2 of two unlinked SNPs over k haplotypes (or individuals):
    exactly 1/(k-1) when one of them is shuffled, whatever the frequencies.
    A smaller sample has the higher floor, so r^2 of samples of different
    size compare only once it is taken off."""
    return 1.0 / (k - 1) if k > 1 else NAN


def floor_corrected(r2, k):
    """r^2 with the floor of k draws taken off: (r^2 - f) / (1 - f)."""
    f = unlinked_floor(k)
    return (r2 - f) / (1 - f)


def same_source(distance_cm, Ne, n):
    """Probability that a haplotype copied from n panel haplotypes takes two
    SNPs distance_cm apart from one source: no switch (switches come at rate
    4 Ne cM / 100 / n, the copying model's with -copy_panel_only), or a switch
    back to the same one (1/n of the others)."""
    e = np.exp(-4.0 * Ne * np.asarray(distance_cm) / 100.0 / n)
    return e + (1 - e) / n


# ---------------------------------------------------------------------------
# Relatedness

def genotypes_of(haps):
    """SNP-major genotypes (allele-1 counts) of consecutive haplotype pairs."""
    m = haps.shape[1] // 2 * 2
    return haps[:, 0:m:2] + haps[:, 1:m:2]


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


def kinship_groups(sim_X, sim_haplotypes, panel_G, rng, notes):
    """Kinship of simulated-simulated, simulated-panel and panel-panel pairs
    (subsampled individuals); sim_X: SNP-major haplotypes (pairs of
    columns) or genotypes. Returns (simulated, panel individuals, groups)."""
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
    return a, bn, {name: v[~np.isnan(v)] for name, v in groups.items()}


# ---------------------------------------------------------------------------
# Clones and nearest neighbours

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


def copy_fractions(sim_H, panel_H, rng, notes):
    """Fractions of simulated haplotypes (a subsample of queries) with an
    exact or near copy among the simulated ones and in the panel, and the
    panel's own. Returns (queries, fractions)."""
    Mk, n = sim_H.shape[1], panel_H.shape[1]
    Q = min(Mk, max(CLONE_MIN_QUERIES, CLONE_WORK // max(Mk, 1)))
    q = np.sort(rng.choice(Mk, Q, replace=False)) if Q < Mk else np.arange(Mk)
    if Q < Mk:
        notes.append(f"clones: {Q} query haplotypes of {Mk} simulated, against all {Mk}")
    nn_ss = nearest_within(sim_H, q, sim_H, NEAR_MISMATCHES, rng, same=True)
    nn_sp = nearest_within(sim_H, q, panel_H, NEAR_MISMATCHES, rng)
    nn_pp = nearest_within(panel_H, np.arange(n), panel_H, NEAR_MISMATCHES, rng, same=True)
    return Q, {
        "sim_exact_duplicate_in_sim": (nn_ss == 0).mean(),
        "sim_near_duplicate_in_sim": (nn_ss <= NEAR_MISMATCHES).mean(),
        "sim_exact_duplicate_in_panel": (nn_sp == 0).mean(),
        "sim_near_duplicate_in_panel": (nn_sp <= NEAR_MISMATCHES).mean(),
        "panel_exact_duplicate_in_panel": (nn_pp == 0).mean() if n > 1 else NAN,
        "panel_near_duplicate_in_panel": (nn_pp <= NEAR_MISMATCHES).mean() if n > 1 else NAN,
    }


def nearest_neighbours(sim_H, panel_H, rng, notes):
    """Nearest-neighbour distances within sets of equal size m drawn from
    each side (the distances depend on the size of the set searched).
    Returns (m, {T->T, S->S, T->S, S->T})."""
    Mk, n = sim_H.shape[1], panel_H.shape[1]
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
    return m, {"tt": d_tt.min(axis=1), "ss": d_ss.min(axis=1), "ts": d_ts.min(axis=1), "st": d_ts.min(axis=0)}


def adversarial_accuracy(nn):
    """AA with strict comparisons, and with ties counted half."""
    aa = 0.5 * ((nn["ts"] > nn["tt"]).mean() + (nn["st"] > nn["ss"]).mean())
    aa_ties = 0.5 * ((nn["ts"] > nn["tt"]).mean() + 0.5 * (nn["ts"] == nn["tt"]).mean()
                     + (nn["st"] > nn["ss"]).mean() + 0.5 * (nn["st"] == nn["ss"]).mean())
    return float(aa), float(aa_ties)


# ---------------------------------------------------------------------------
# Disease loci

def lambda_null(n, nc, nk):
    """Inflation of a test at a null locus when cases are drawn from a pool
    that holds the controls."""
    return (n / (n + 2.0 * nc) / nc + 1.0 / nk) / (1.0 / nc + 1.0 / nk) if nc and nk else NAN


def expected_case_freq(p, rr1, rr2, nk):
    """The model's case risk-allele frequency at pooled frequency p, and
    its SE for nk cases. Cases are drawn independently, each with genotype
    probabilities q^2, 2pq rr1, p^2 rr2 (over D): the SE follows from the
    variance of that genotype count."""
    q = 1 - p
    D = q * q + 2 * p * q * rr1 + p * p * rr2
    if D <= 0:  # every individual of the pool has risk 0: no case can be drawn
        return NAN, NAN
    e = p * (rr1 * q + rr2 * p) / D
    P1, P2 = 2 * p * q * rr1 / D, p * p * rr2 / D
    var_g = P1 + 4 * P2 - (2 * e) ** 2
    return e, (math.sqrt(max(var_g, 0) / nk) / 2 if nk else NAN)


def allelic_or(a, b, c, d):
    """Odds ratio of a 2x2 allele table with its 95% CI (nan on an empty cell)."""
    if min(a, b, c, d) <= 0:
        return NAN, NAN, NAN
    orr = (a / b) / (c / d)
    se_log = math.sqrt(1 / a + 1 / b + 1 / c + 1 / d)
    return orr, orr * math.exp(-1.96 * se_log), orr * math.exp(1.96 * se_log)


# ---------------------------------------------------------------------------
# Hardy-Weinberg equilibrium

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
    exact_low = 0
    for a1, h in zip(allele1[poly], het[poly]):
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


def genotype_counts(G):
    """Allele-1, heterozygote and homozygote-1 counts per SNP of genotypes."""
    return (G.sum(axis=1, dtype=np.int64), np.count_nonzero(G == 1, axis=1).astype(np.int64),
            np.count_nonzero(G == 2, axis=1).astype(np.int64))
