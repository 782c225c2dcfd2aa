"""The plots: one per section on the page, and the four main ones together
for --figure."""
import base64
import io
import math

import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

from .stats import KINSHIP_THRESHOLDS, NEAR_MISMATCHES  # noqa: E402


# Figures are drawn at this resolution: every one is at least 1,200 pixels wide.
DPI = 150
LABEL_BOX = dict(facecolor="white", edgecolor="none", alpha=0.85, pad=1.5)


def _number(v, digits, grouped, missing):
    if isinstance(v, (bool, np.bool_)):
        return str(int(v))
    if isinstance(v, (int, np.integer)):
        return f"{int(v):,}" if grouped else str(int(v))
    if isinstance(v, (float, np.floating)):
        v = float(v)
        return missing if math.isnan(v) else f"{v:.{digits}g}"
    return str(v)


def fmt(v):
    """A number as the TSV prints it (six significant figures)."""
    return _number(v, 6, False, "nan")


def fmt_page(v):
    """A number as the page prints it: four significant figures, thousands
    grouped, "–" for a value that does not exist."""
    return _number(v, 4, True, "–")


def png_data(fig):
    """The figure as base64 PNG for an <img> of the page; closes it."""
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=DPI, bbox_inches="tight", pad_inches=0.1)
    plt.close(fig)
    return base64.b64encode(buf.getvalue()).decode("ascii")


def draw_frequencies(ax, af):
    p, f, outside, grid, gsd, r = af
    ax.fill_between(grid, grid - 2 * gsd, grid + 2 * gsd, color="#9ecae1", alpha=0.6,
                    label="expected band (± 2 SD)")
    ax.scatter(p[~outside], f[~outside], s=3, color="#333333", alpha=0.5, label="SNP inside the band",
               rasterized=True)
    ax.scatter(p[outside], f[outside], s=6, color="#d62728", label="SNP outside the band")
    ax.plot([0, 1], [0, 1], color="k", lw=0.6, label="equal frequencies")
    ax.set_xlabel("panel allele-1 frequency")
    ax.set_ylabel("simulated controls' allele-1 frequency")
    ax.set_title(f"Allele frequencies (Pearson r = {fmt_page(r)})")
    ax.set_xlim(0, 1)
    ax.set_ylim(0, 1)
    ax.legend(loc="upper left", fontsize=9)


def frequency_figure(af):
    fig, ax = plt.subplots(figsize=(9.5, 8.5))
    draw_frequencies(ax, af)
    return fig


def single(draw, data):
    """A figure of one plot drawn by draw(ax, data)."""
    fig, ax = plt.subplots(figsize=(10, 5.5))
    draw(ax, data)
    return fig


def draw_ld(ax, ld):
    mids, unit = np.array(ld["mid"]), ld["unit"]
    ax.plot(mids, ld["panel"], "o-", color="#1f77b4", label="panel, raw")
    ax.plot(mids, ld["sim"], "s:", color="#ff7f0e", alpha=0.6, label="simulated controls, raw")
    ax.plot(mids, ld["panel_corr"], "o--", color="#1f77b4", alpha=0.6, label="panel, floor taken off")
    ax.plot(mids, ld["sim_corr"], "s-", color="#ff7f0e", label="simulated controls, floor taken off")
    if ld["theory"]:
        predicted = np.array(ld["theory"]) * np.array(ld["panel_corr"])
        ax.plot(mids, predicted, "k--", lw=1.2, label="simulated, predicted (copying model)")
    ax.set_xlabel(f"distance between the SNPs of a pair ({unit})")
    ax.set_ylabel("mean r² of the pairs")
    ax.set_title("Linkage disequilibrium decay")
    values = np.array([ld[k] for k in ("panel", "sim", "panel_corr", "sim_corr")], dtype=float)
    if np.all(np.nan_to_num(values, nan=1.0) > 0):
        ax.set_yscale("log")  # long-range r² is a hundredth of short-range
    ax.legend(fontsize=9)


def draw_kinship(ax, groups):
    allv = np.concatenate([v for v in groups.values() if v.size] or [np.zeros(1)])
    lo, hi = min(-0.1, allv.min()), max(0.5, allv.max())
    bins = np.linspace(lo, hi, 121)
    for name, v in groups.items():
        if v.size:
            ax.hist(v, bins=bins, histtype="step", density=True, lw=1.3, label=f"{name} pairs ({v.size:,})")
    top = ax.get_ylim()[1]
    for label, t in KINSHIP_THRESHOLDS:
        ax.axvline(t, color="grey", ls=":", lw=1)
        ax.text(t, top, f" {label} degree" if label != "duplicate" else " duplicate", rotation=90, va="top",
                ha="left", fontsize=8, color="#333333", bbox=LABEL_BOX)
    ax.set_yscale("log")
    ax.set_xlabel("kinship coefficient φ (KING-robust; 0.5 for an individual with itself)")
    ax.set_ylabel("density of pairs")
    ax.set_title("Relatedness")
    ax.legend(fontsize=9, loc="center right")


def draw_nn(ax, nn):
    hi = max(float(v.max()) for v in nn.values())
    bins = np.linspace(0, max(hi, 1), 61)
    for name, v in nn.items():
        ax.hist(v, bins=bins, histtype="step", lw=1.3, label=name)
    ax.axvline(NEAR_MISMATCHES, color="grey", ls=":", lw=1)
    ax.text(NEAR_MISMATCHES, ax.get_ylim()[1], f" near copy (≤ {NEAR_MISMATCHES} mismatches)", rotation=90,
            va="top", ha="left", fontsize=8, color="#333333", bbox=LABEL_BOX)
    ax.set_xlabel("Hamming distance to the nearest other haplotype (mismatching SNPs)")
    ax.set_ylabel("haplotypes")
    ax.set_title("Nearest neighbours")
    ax.legend(fontsize=9)


def summary_figure(path, figs, fmt_name):
    fig, axes = plt.subplots(2, 2, figsize=(16, 12.5))
    if "af" in figs:
        draw_frequencies(axes[0, 0], figs["af"])
    if "ld" in figs:
        draw_ld(axes[0, 1], figs["ld"])
    if "kin" in figs:
        draw_kinship(axes[1, 0], figs["kin"])
    if "nn" in figs:
        draw_nn(axes[1, 1], figs["nn"])
    else:
        axes[1, 1].axis("off")
    fig.tight_layout()
    fig.savefig(path, format=fmt_name, dpi=DPI)
    plt.close(fig)
