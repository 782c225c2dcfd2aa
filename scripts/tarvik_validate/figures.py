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


def fmt(v):
    """A number as the page, the TSV and the plot titles print it."""
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


def png_data(fig):
    """The figure as base64 PNG for an <img> of the page; closes it."""
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=80)
    plt.close(fig)
    return base64.b64encode(buf.getvalue()).decode("ascii")


def frequency_figure(af):
    p, f, outside, grid, gsd, r = af
    fig, ax = plt.subplots(figsize=(5.5, 5))
    ax.fill_between(grid, grid - 2 * gsd, grid + 2 * gsd, color="#9ecae1", alpha=0.6, label="±2 SD (urn)")
    ax.scatter(p[~outside], f[~outside], s=3, color="#333333", alpha=0.5, label="SNP", rasterized=True)
    ax.scatter(p[outside], f[outside], s=5, color="#d62728", label="outside band")
    ax.plot([0, 1], [0, 1], color="k", lw=0.5)
    ax.set_xlabel("panel allele-1 frequency")
    ax.set_ylabel("simulated control allele-1 frequency")
    ax.set_title(f"Allele frequencies (r = {fmt(r)})")
    ax.legend(loc="upper left", fontsize=8)
    return fig


def single(draw, data):
    """A figure of one plot drawn by draw(ax, data)."""
    fig, ax = plt.subplots(figsize=(6.5, 4))
    draw(ax, data)
    return fig


def draw_ld(ax, ld):
    mids, mp, ms, unit = ld
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
        draw_ld(ax, figs["ld"])
    if "kin" in figs:
        draw_kinship(axes[1, 0], figs["kin"])
    if "nn" in figs:
        draw_nn(axes[1, 1], figs["nn"])
    else:
        axes[1, 1].axis("off")
    fig.tight_layout()
    fig.savefig(path, dpi=72)
    plt.close(fig)
