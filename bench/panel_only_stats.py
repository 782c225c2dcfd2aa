#!/usr/bin/env python3
"""Figures of bench/panel_only_stats.sh (see there and bench/README.md).

    panel_only_stats.py run <stem> -h <haps> -l <legend> -dl <pos> <allele> <rr1> <rr2>
        duplicates, control allele-frequency variance and the case risk-allele
        frequency of one run; prints "name value" lines
    panel_only_stats.py expected -h <haps> -l <legend> -m <map> [-Ne x] [-theta x] [-haplotypes M]
        the probability that two independent mosaics of the panel are
        identical, and that a mosaic equals a given panel haplotype
    panel_only_stats.py freq-runs <directory> <run legend> <haps> <legend> <M>
        the same frequency figure over repeated runs (one file of control
        allele-1 counts per run): mean and SD per mode
    panel_only_stats.py lambda <counts file> <controls> <cases>
        lambda of the allelic chi-square at null loci over repeated runs;
        the file holds "mode seed position control_count case_count" lines
"""
import gzip
import math
import os
import sys

try:
    import numpy as np
except ImportError:
    system = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.access(system, os.X_OK):
        os.execv(system, [system] + sys.argv)
    sys.exit("panel_only_stats.py: needs numpy")

CHI2_1_MEDIAN = 0.454936423119572  # median of the chi-square with 1 df


def open_any(path):
    f = open(path, "rb")
    magic = f.read(2)
    f.seek(0)
    return gzip.GzipFile(fileobj=f) if magic == b"\x1f\x8b" else f


def codes(line):
    """0/1 codes of one haplotype line ("0 1 1 0 ...")."""
    return np.frombuffer(line.rstrip(b"\r\n").rstrip(), np.uint8)[0::2] - np.uint8(48)


def legend_positions(path):
    with open_any(path) as f:
        next(f)
        return np.array([int(line.split()[1]) for line in f], dtype=np.int64)


def panel_rows(hap_path, legend_path, wanted=None):
    """Panel rows (SNP-major uint8) at the positions `wanted` (first line of a
    duplicated position, as tarvik keeps it), or at every distinct position
    in ascending order; returns (positions, rows)."""
    positions = legend_positions(legend_path)
    first = {}
    for i, p in enumerate(positions.tolist()):
        first.setdefault(p, i)
    if wanted is None:
        wanted = np.array(sorted(first), dtype=np.int64)
    line_of = {first[p]: k for k, p in enumerate(wanted.tolist())}
    rows = None
    with open_any(hap_path) as f:
        for i, line in enumerate(f):
            k = line_of.get(i)
            if k is None:
                continue
            c = codes(line)
            if rows is None:
                rows = np.empty((len(wanted), c.size), dtype=np.uint8)
            rows[k] = c
    return wanted, rows


class Haplotypes:
    """A run's .haps file read once: allele-1 counts per SNP and every
    haplotype packed into bytes (haplotype-major), for exact comparisons."""

    def __init__(self, path, nsnp, block=512):
        self.count = np.zeros(nsnp, dtype=np.int64)
        packed = []
        chunk = []
        with open_any(path) as f:
            for j, line in enumerate(f):
                c = codes(line)
                self.count[j] = int(c.sum())
                chunk.append(c)
                if len(chunk) == block:
                    packed.append(np.packbits(np.array(chunk), axis=0).T)
                    chunk = []
        if chunk:
            packed.append(np.packbits(np.array(chunk), axis=0).T)
        self.snps = j + 1
        self.bytes = np.ascontiguousarray(np.concatenate(packed, axis=1))
        self.haplotypes = self.bytes.shape[0]


def pack(rows, block=512):
    """SNP-major 0/1 rows packed per column, as Haplotypes packs a file."""
    parts = [np.packbits(rows[j:j + block], axis=0).T for j in range(0, rows.shape[0], block)]
    return np.ascontiguousarray(np.concatenate(parts, axis=1))


def duplicate_figures(ctrl, cases, panel):
    """Exact duplicates among controls, among all simulated haplotypes, and
    of panel haplotypes, by grouping identical packed haplotypes."""
    allb = np.concatenate([ctrl, cases, panel])
    kind = np.concatenate([np.zeros(len(ctrl), np.int8), np.ones(len(cases), np.int8),
                           np.full(len(panel), 2, np.int8)])
    view = allb.view(np.dtype((np.void, allb.shape[1]))).ravel()
    _, group = np.unique(view, return_inverse=True)
    group = group.ravel()
    G = group.max() + 1
    nc = np.bincount(group[kind == 0], minlength=G)
    nk = np.bincount(group[kind == 1], minlength=G)
    npn = np.bincount(group[kind == 2], minlength=G)
    ns = nc + nk

    def pairs(k):
        return int((k * (k - 1) // 2).sum())
    out = {
        "control_pairs_identical": pairs(nc),
        "simulated_pairs_identical": pairs(ns),
        "control_panel_pairs_identical": int((nc * npn).sum()),
        "simulated_panel_pairs_identical": int((ns * npn).sum()),
        "panel_pairs_identical": pairs(npn),
        # Haplotypes with an exact copy among the other ones of their kind.
        "controls_with_copy_in_controls": int(nc[nc >= 2].sum()),
        "simulated_with_copy_in_simulated": int(ns[ns >= 2].sum()),
        "controls_with_copy_in_panel": int(nc[npn >= 1].sum()),
        "simulated_with_copy_in_panel": int(ns[npn >= 1].sum()),
        "largest_simulated_clone_group": int(ns.max()),
    }
    return out


def frequency_figures(p, count, M):
    """Mean over SNPs of (p_hat - p)^2 / (pq/M) for the panel-polymorphic SNPs
    and for those of panel MAF >= 0.05, p_hat = count / M."""
    f = count / M
    pq = p * (1 - p)
    out = {}
    for label, sel in (("poly", pq > 0), ("maf05", np.minimum(p, 1 - p) >= 0.05)):
        out[f"freq_snps_{label}"] = int(sel.sum())
        out[f"freq_var_ratio_{label}"] = float(((f[sel] - p[sel]) ** 2 / (pq[sel] / M)).mean())
    return out


def cmd_run(argv):
    stem = argv[0]
    i = argv.index("-dl")
    opts = dict(zip(argv[1:i:2], argv[2:i:2]))
    pos, allele, rr1, rr2 = int(argv[i + 1]), int(argv[i + 2]), float(argv[i + 3]), float(argv[i + 4])
    run_pos = legend_positions(stem + ".legend")
    nsnp = run_pos.size
    _, panel = panel_rows(opts["-h"], opts["-l"], run_pos)
    n = panel.shape[1]
    ctrl = Haplotypes(stem + ".controls.haps", nsnp)
    cases = Haplotypes(stem + ".cases.haps", nsnp)
    M = ctrl.haplotypes
    out = {"snps": nsnp, "panel_haplotypes": n, "control_haplotypes": M, "case_haplotypes": cases.haplotypes}
    out.update(duplicate_figures(ctrl.bytes, cases.bytes, pack(panel)))
    M_pairs = M * (M - 1) // 2
    S = M + cases.haplotypes
    out["control_pairs"] = M_pairs
    out["simulated_pairs"] = S * (S - 1) // 2

    # Control allele frequencies around the panel's: (p_hat - p)^2 against
    # pq/M, the binomial variance of M independent copies.
    out.update(frequency_figures(panel.mean(axis=1), ctrl.count, M))

    # The case risk-allele frequency at the disease locus against the model,
    # with the panel frequency and with the frequency pooled over panel and controls.
    j = int(np.flatnonzero(run_pos == pos)[0])
    nk = cases.haplotypes // 2
    risk = (lambda c, total: c if allele == 1 else total - c)
    kc = risk(int(cases.count[j]), 2 * nk)
    cc = risk(int(ctrl.count[j]), M)
    pc = risk(int(panel[j].sum()), n)
    out["locus_panel_freq"] = pc / n
    out["locus_control_freq"] = cc / M
    out["locus_case_freq"] = kc / (2 * nk)
    for label, fr in (("panel", pc / n), ("pooled", (pc + cc) / (n + M))):
        q = 1 - fr
        D = q * q + 2 * fr * q * rr1 + fr * fr * rr2
        e = fr * (rr1 * q + rr2 * fr) / D
        var_g = 2 * fr * q * rr1 / D + 4 * fr * fr * rr2 / D - (2 * e) ** 2
        se = math.sqrt(var_g / nk) / 2
        out[f"locus_expected_case_freq_{label}"] = e
        out[f"locus_se_{label}"] = se
        out[f"locus_z_{label}"] = (kc / (2 * nk) - e) / se
    for k, v in out.items():
        print(k, f"{v:.6g}" if isinstance(v, float) else v)


def cmd_expected(argv):
    opts = dict(zip(argv[0::2], argv[1::2]))
    pos, H = panel_rows(opts["-h"], opts["-l"])
    with open_any(opts["-m"]) as f:
        next(f)
        m = np.array([[float(x) for x in line.split()[0:3:2]] for line in f])
    Ne = float(opts.get("-Ne", 11418))
    n = H.shape[1]
    L = pos.size
    theta = float(opts["-theta"]) if "-theta" in opts else 1.0 / np.sum(1.0 / np.arange(1, n + 1))
    M = int(opts.get("-haplotypes", 20000))
    # The map position of each SNP (4 Ne cM / 100, linear between map rows,
    # the end values beyond them), the switch probability of each step and
    # the mutation probability, as the copying model has them with N = n.
    rho = 4.0 * Ne * np.interp(pos.astype(float), m[:, 0], m[:, 1]) / 100.0
    s = 1.0 - np.exp(-np.diff(rho) / n)
    mu = theta * 0.5 / (n + theta)
    # Two haplotypes show the same allele at a SNP with probability
    # (1-mu)^2 + mu^2 when their sources agree there, 2 mu (1-mu) when not.
    pair_same, pair_diff = (1 - mu) ** 2 + mu * mu, 2 * mu * (1 - mu)
    one_same, one_diff = 1 - mu, mu
    # Forward sums over the sources (a, b) of two mosaics A, B (pair chain)
    # and over (a, h): the source a of a mosaic and a fixed panel haplotype h
    # (panel chain). F[a, b] = P(identical so far, sources a, b now), scaled.
    F = np.full((n, n), 1.0 / (n * n))
    P = np.full((n, n), 1.0 / n)          # P[a, h], h fixed: weight 1/n per h summed later
    log_f = log_p = 0.0
    for j in range(L):
        if j > 0:
            sj = s[j - 1]
            stay = 1.0 - sj
            r, c = F.sum(axis=1), F.sum(axis=0)
            T = r.sum()
            F *= stay * stay
            F += (stay * sj / n) * (r[:, None] + c[None, :]) + (sj * sj / (n * n)) * T
            col = P.sum(axis=0)
            P *= stay
            P += (sj / n) * col[None, :]
        eq = np.equal.outer(H[j], H[j])
        F *= np.where(eq, pair_same, pair_diff)
        P *= np.where(eq, one_same, one_diff)
        z = F.sum()
        log_f += math.log(z)
        F /= z
        z = P.sum()
        log_p += math.log(z)
        P /= z
    # P was started at 1/n per (a, h) for every h: its total is n times the
    # mean over h of P(mosaic = h).
    p_pair = math.exp(log_f)
    p_panel = math.exp(log_p) / n
    # The same-path part alone: both copy one source throughout (pair), or
    # the mosaic copies h throughout (panel), and no allele differs.
    log_same_pair = -math.log(n) + np.sum(np.log((1 - s) ** 2 + (1 - (1 - s) ** 2) / n)) + L * math.log(pair_same)
    log_same_panel = -math.log(n) + np.sum(np.log((1 - s) + s / n)) + L * math.log(one_same)
    print("snps", L)
    print("panel_haplotypes", n)
    print("map_length_rho", f"{rho[-1] - rho[0]:.6g}")
    print("expected_switches", f"{np.sum(s):.6g}")
    print("mutation_probability", f"{mu:.6g}")
    print("expected_mutations", f"{mu * L:.6g}")
    print("p_no_mutation", f"{(1 - mu) ** L:.6g}")
    print("p_pair_identical", f"{p_pair:.6g}")
    print("p_pair_identical_same_path", f"{math.exp(log_same_pair):.6g}")
    print("p_mosaic_equals_panel_haplotype", f"{p_panel:.6g}")
    print("p_mosaic_equals_panel_haplotype_same_path", f"{math.exp(log_same_panel):.6g}")
    print("haplotypes", M)
    print("expected_pairs_identical", f"{M * (M - 1) / 2 * p_pair:.6g}")
    print("expected_panel_pairs_identical", f"{M * n * p_panel:.6g}")


def cmd_freq_runs(argv):
    """The frequency figures of repeated runs: files <mode>_<seed>.txt in a
    directory, each the allele-1 count of every SNP of the controls (one line
    per SNP of the run legend given)."""
    directory, legend, hap, panel_legend, M = argv[0], argv[1], argv[2], argv[3], int(argv[4])
    _, panel = panel_rows(hap, panel_legend, legend_positions(legend))
    p = panel.mean(axis=1)
    n = panel.shape[1]
    per_mode = {}
    for name in sorted(os.listdir(directory)):
        mode = name.rsplit("_", 1)[0]
        count = np.loadtxt(os.path.join(directory, name), dtype=np.int64)
        per_mode.setdefault(mode, []).append(frequency_figures(p, count, M))
    for mode, figures in per_mode.items():
        print(f"{mode}_freq_runs", len(figures))
        for key in figures[0]:
            if key.startswith("freq_var_ratio"):
                v = np.array([f[key] for f in figures])
                print(f"{mode}_{key}_mean", f"{v.mean():.4f}")
                print(f"{mode}_{key}_sd", f"{v.std(ddof=1):.4f}")
    print("freq_var_ratio_urn", f"{(n + M) / (n + 1):.4f}")


def cmd_lambda(argv):
    path, nc, nk = argv[0], int(argv[1]), int(argv[2])
    rows = [line.split() for line in open(path) if line.strip()]
    n_panel = int(argv[3]) if len(argv) > 3 else 600
    for mode in sorted({r[0] for r in rows}):
        sel = [r for r in rows if r[0] == mode]
        seeds = sorted({r[1] for r in sel}, key=int)
        by_seed = {s: [] for s in seeds}
        chi = []
        for _, seed, _, c, k in sel:
            a, b = int(k), 2 * nk - int(k)
            c_, d = int(c), 2 * nc - int(c)
            N = a + b + c_ + d
            den = (a + b) * (c_ + d) * (a + c_) * (b + d)
            x = N * (a * d - b * c_) ** 2 / den if den else float("nan")
            chi.append(x)
            by_seed[seed].append(x)
        chi = np.array(chi)
        lam = np.median(chi) / CHI2_1_MEDIAN
        # Bootstrap over runs (the loci of one run are not independent).
        rng = np.random.default_rng(1)
        groups = [np.array(by_seed[s]) for s in seeds]
        boot_med, boot_mean = [], []
        for _ in range(2000):
            pick = np.concatenate([groups[i] for i in rng.integers(len(groups), size=len(groups))])
            boot_med.append(np.median(pick) / CHI2_1_MEDIAN)
            boot_mean.append(pick.mean())
        print(f"{mode}_runs", len(seeds))
        print(f"{mode}_statistics", chi.size)
        print(f"{mode}_lambda_median", f"{lam:.4f}")
        print(f"{mode}_lambda_median_se", f"{np.std(boot_med):.4f}")
        print(f"{mode}_lambda_mean", f"{chi.mean():.4f}")
        print(f"{mode}_lambda_mean_se", f"{np.std(boot_mean):.4f}")
    print("lambda_expected_pool", f"{(n_panel / (n_panel + 2.0 * nc) / nc + 1.0 / nk) / (1.0 / nc + 1.0 / nk):.4f}")


def main():
    commands = {"run": cmd_run, "expected": cmd_expected, "freq-runs": cmd_freq_runs, "lambda": cmd_lambda}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    commands[sys.argv[1]](sys.argv[2:])


if __name__ == "__main__":
    main()
