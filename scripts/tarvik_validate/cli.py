"""The command line: arguments, the order of the reads and sections, main."""
import argparse
import html
import os
import sys
import time

import numpy as np

from . import readers, report, stats
from .figures import summary_figure
from .readers import InputError

USAGE = ("validate.py <output stem> (-h <haps> -l <legend> | -vcf <file> [-chr <contig>]) [-m <map>] "
         "[-dl <pos> <allele> <rr1> <rr2> ...] [--seed N] [--figure PNG]")


class Parser(argparse.ArgumentParser):
    def error(self, message):
        sys.stderr.write(f"validate.py: error: {message}\n")
        sys.exit(1)


def parse_loci(ap, values):
    """(position, allele, rr1, rr2) of each -dl group of four."""
    if len(values) % 4:
        ap.error("-dl values come in groups of four: position allele rr1 rr2")
    loci = []
    for k in range(0, len(values), 4):
        group = " ".join(values[k:k + 4])
        try:
            pos, allele = float(values[k]), int(values[k + 1])
            rr1, rr2 = float(values[k + 2]), float(values[k + 3])
            if pos != int(pos):
                raise ValueError
            pos = int(pos)
        except (ValueError, OverflowError):
            ap.error(f"-dl: bad values {group}")
        if allele not in (0, 1) or rr1 < 0 or rr2 < 0:
            ap.error(f"-dl: the allele must be 0 or 1 and the relative risks not negative: {group}")
        loci.append((pos, allele, rr1, rr2))
    return loci


def parse_args(argv):
    ap = Parser(add_help=False, allow_abbrev=False, usage=USAGE)
    ap.add_argument("stem")
    ap.add_argument("-h", dest="haps")
    ap.add_argument("-l", dest="legend")
    ap.add_argument("-vcf", dest="vcf")
    ap.add_argument("-chr", dest="chr")
    ap.add_argument("-m", dest="map")
    ap.add_argument("-dl", nargs="+", action="extend", default=[])
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--figure")
    ap.add_argument("--help", action="help")
    a = ap.parse_args(argv)
    if a.vcf is not None and (a.haps is not None or a.legend is not None):
        ap.error("the panel is either a VCF or BCF file (-vcf) or haplotype and legend files (-h, -l), not both")
    if a.vcf is None and (a.haps is None or a.legend is None):
        ap.error("the panel is needed: -h <haps> -l <legend>, or -vcf <file>")
    a.loci = parse_loci(ap, a.dl)
    return a


def check_files(a):
    """Input named on the command line is checked before the long reads."""
    for path, what in ((a.haps, "panel haplotype file"), (a.legend, "panel legend"), (a.vcf, "VCF panel"),
                       (a.map, "genetic map")):
        if path is not None and not os.path.isfile(path):
            raise InputError(f"cannot open {what} {path}: no such file")


def read_panel(a, run):
    if a.vcf is not None:
        return readers.read_vcf_panel(a.vcf, a.chr, run.positions, run.legend)
    return readers.read_panel(a.haps, a.legend, run.positions, run.legend)


def panel_name(a):
    if a.vcf is not None:
        return f"<code>{html.escape(a.vcf)}</code>" + (f" (contig {html.escape(a.chr)})" if a.chr else "")
    return f"<code>{html.escape(a.haps)}</code> / <code>{html.escape(a.legend)}</code>"


def coordinates(a, run_pos):
    """SNP coordinates for the LD bins: cM from the map, else kb."""
    if a.map:
        mpos, mcm = readers.read_map(a.map)
        return np.interp(run_pos.astype(float), mpos, mcm), "cM", 0.1
    return run_pos.astype(float) / 1000.0, "kb", 100.0


def run_section(rep, a, run, base, n):
    R = "run"
    ctrl = run.controls
    rep.section("Run")
    rep.add(R, "snps", int(run.positions.size))
    rep.add(R, "panel_haplotypes", n)
    rep.add(R, "simulated_controls", ctrl.individuals)
    rep.add(R, "simulated_control_haplotypes", 2 * ctrl.individuals)
    rep.add(R, "simulated_controls_held", int(ctrl.kept_individuals.size))
    rep.add(R, "simulated_cases", run.cases.individuals if run.cases is not None else 0)
    rep.add(R, "haplotype_files", int(ctrl.haplotypes))
    rep.add(R, "seed", a.seed)
    rep.para(f"Run <code>{html.escape(base)}</code> ({html.escape(ctrl.path)}), panel {panel_name(a)}, map "
             f"<code>{html.escape(a.map or 'none')}</code>.")
    rep.metric_table(R, [("SNPs in the run", "snps"), ("panel haplotypes", "panel_haplotypes"),
                         ("simulated controls", "simulated_controls"),
                         ("simulated controls held in memory", "simulated_controls_held"),
                         ("simulated cases", "simulated_cases"),
                         ("haplotype files read (0: genotypes)", "haplotype_files"),
                         ("subsampling seed", "seed")])


def sections(rep, a, run, panel, rng, stage, notes):
    """Sections 1-6, in the order of their draws from rng."""
    ctrl, n = run.controls, panel.shape[1]
    coord, unit, width = coordinates(a, run.positions)
    figs = {}
    M = 2 * ctrl.individuals
    panel_G = stats.genotypes_of(panel)
    stage("allele frequencies")
    report.section_allele_frequencies(rep, panel, ctrl, n, M, figs)
    stage("LD decay" if ctrl.haplotypes else "LD decay (genotype r^2)")
    report.section_ld(rep, panel.mean(axis=1), panel if ctrl.haplotypes else panel_G, ctrl.kept,
                      "haplotypes" if ctrl.haplotypes else "individuals", coord, unit, width, 10, rng, figs, notes)
    # A SNP with one allele in every panel and control haplotype adds nothing
    # to a kinship count or a Hamming distance; leaving it out saves time.
    # (A SNP fixed for different alleles in the two stays: it separates them.)
    total = panel.sum(axis=1, dtype=np.int64) + ctrl.allele1
    varies = (total > 0) & (total < M + n)
    rows = slice(None) if varies.all() else np.flatnonzero(varies)
    stage("relatedness")
    report.section_relatedness(rep, ctrl.kept[rows], ctrl.haplotypes, panel_G[rows], rng, figs, notes)
    stage("clones and nearest neighbours")
    report.section_clones(rep, ctrl.kept[rows] if ctrl.haplotypes else None, panel[rows], rng, figs, notes)
    stage("disease loci")
    report.section_disease(rep, a.loci, run.positions, panel, ctrl, run.cases, n)
    stage("Hardy-Weinberg")
    report.section_hwe(rep, ctrl, panel_G)
    return figs


def run(argv):
    t_start = time.time()
    a = parse_args(argv)
    rng = np.random.default_rng(a.seed)
    base = a.stem[:-3] if a.stem.endswith(".gz") else a.stem
    check_files(a)

    def stage(msg):
        print(f"[{time.time() - t_start:6.1f} s] {msg}", flush=True)

    notes = []
    run = readers.read_run(a.stem, a.loci, rng, stage)
    ctrl = run.controls
    if ctrl.individuals > ctrl.kept_individuals.size:
        notes.append(f"{ctrl.kept_individuals.size} of {ctrl.individuals} simulated controls held for the "
                     "matrix-based sections (allele frequencies and HWE use all)")
    stage(f"reading the panel {a.vcf or a.haps}")
    panel = read_panel(a, run)
    rep = report.Report()
    run_section(rep, a, run, base, panel.shape[1])
    subsample_block = len(rep.blocks) - 1
    figs = sections(rep, a, run, panel, rng, stage, notes)
    rep.blocks[subsample_block][1].append(
        "<p>Subsampled: " + (html.escape("; ".join(notes)) if notes else "nothing") + ".</p>")
    html_path, tsv_path = base + ".validation.html", base + ".validation.tsv"
    try:
        rep.write(html_path, tsv_path, f"tarvik validation: {os.path.basename(base)}")
        if a.figure:
            summary_figure(a.figure, figs)
    except OSError as e:
        raise InputError(f"cannot write {e.filename}: {e.strerror}")
    for note in notes or ["nothing"]:
        print("subsampled: " + note)
    stage(f"wrote {html_path} and {tsv_path}" + (f" and {a.figure}" if a.figure else ""))


def main(argv=None):
    try:
        run(sys.argv[1:] if argv is None else argv)
    except InputError as e:
        sys.stderr.write(f"validate.py: error: {e}\n")
        return 1
    return 0
