"""The command line: arguments, the order of the reads and sections, main."""
import argparse
import html
import math
import os
import re
import sys
import time

import numpy as np

from . import readers, report, stats
from matplotlib.backends.backend_pdf import PdfPages

from .figures import summary_figure
from .readers import InputError

USAGE = ("validate.py <output stem> (-h <haps> -l <legend> | -vcf <file> [-chr <contig>]) [-m <map>] "
         "[-dl <pos> <allele> <rr1> <rr2> ...] [-Ne N] [-copy_panel_only] [--seed N] [--figure FILE] "
         "[--format png|pdf]")

DESCRIPTION = """The validation report of a tarvik run against the panel it copied from:
<stem>.validation.html (one self-contained page: a first section with each
check's verdict, then one section per check with its method, table and
figure) and <stem>.validation.tsv (every number of the page, at full
precision). Large runs are subsampled with a fixed seed, which the page
records."""

NE_DEFAULT = 11418
POSITION_LIMIT = 2**31  # tarvik's positions are 32-bit


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
            if not pos.is_integer():
                raise ValueError
            pos = int(pos)
        except ValueError:
            ap.error(f"-dl: bad values {group} (a whole position, an allele 0 or 1, two relative risks)")
        if not 0 <= pos < POSITION_LIMIT:
            ap.error(f"-dl: position {values[k]} is not a position of a panel (0 to {POSITION_LIMIT - 1})")
        if allele not in (0, 1) or not (rr1 >= 0 and rr2 >= 0) or not (math.isfinite(rr1) and math.isfinite(rr2)):
            ap.error(f"-dl: the allele must be 0 or 1 and the relative risks finite and not negative: {group}")
        loci.append((pos, allele, rr1, rr2))
    return loci


def figure_format(ap, a):
    """The --figure file's format, from its name; checked before any work."""
    if a.figure is None:
        return None
    suffix = os.path.splitext(a.figure)[1].lower()
    if suffix not in (".png", ".pdf"):
        ap.error(f"--figure {a.figure}: the file's name must end in .png or .pdf, which sets its format")
    return suffix[1:]


def parse_args(argv):
    ap = Parser(add_help=False, allow_abbrev=False, usage=USAGE, description=DESCRIPTION,
                formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("stem", help="the run's output stem (-o of tarvik; a trailing .gz is dropped): its "
                                 ".controls.haps(.gz), .cases.haps(.gz) and .legend are read, or its .gen files "
                                 "when it wrote no haplotypes")
    ap.add_argument("-h", dest="haps", metavar="HAPS", help="the panel's haplotype file, as given to tarvik")
    ap.add_argument("-l", dest="legend", metavar="LEGEND", help="the panel's legend file, as given to tarvik")
    ap.add_argument("-vcf", dest="vcf", metavar="FILE", help="the panel as a phased VCF or BCF file, "
                                                             "instead of -h and -l")
    ap.add_argument("-chr", dest="chr", metavar="CONTIG", help="with -vcf: the contig read (needed when the "
                                                               "file holds several)")
    ap.add_argument("-m", dest="map", metavar="MAP", help="the genetic map: LD is binned by cM with it, by kb "
                                                          "without it")
    ap.add_argument("-dl", nargs="+", action="extend", default=[], metavar="V",
                    help="the run's disease loci, four values each: position, risk allele (0 or 1), rr1, rr2")
    ap.add_argument("-Ne", type=float, default=None, metavar="N",
                    help=f"the run's effective population size, for the LD prediction (default: from the "
                         f"run's summary file, else {NE_DEFAULT})")
    ap.add_argument("-copy_panel_only", action="store_true", default=None,
                    help="the run copied from the panel alone: the LD section draws the copying model's "
                         "prediction (default: from the run's summary file)")
    ap.add_argument("--seed", default="1", metavar="N",
                    help="the seed of the subsampling (a whole number, 0 or more; default 1)")
    ap.add_argument("--figure", metavar="FILE",
                    help="also write the four main plots as one figure; FILE ends in .png or .pdf")
    ap.add_argument("--format", choices=("png", "pdf"), default="png",
                    help="png (default): the figures are in the page only; pdf: also every figure as one page "
                         "of <stem>.validation.pdf (vector graphics, for a supplement)")
    ap.add_argument("--help", action="help", help="this help")
    a = ap.parse_args(argv)
    if a.vcf is not None and (a.haps is not None or a.legend is not None):
        ap.error("the panel is either a VCF or BCF file (-vcf) or haplotype and legend files (-h, -l), not both")
    if a.vcf is None and (a.haps is None or a.legend is None):
        ap.error("the panel is needed: -h <haps> -l <legend>, or -vcf <file>")
    try:
        a.seed = int(a.seed)
    except ValueError:
        a.seed = -1
    if not 0 <= a.seed < 2**63:
        ap.error(f"--seed expects a whole number from 0 to {2**63 - 1}")
    if a.Ne is not None and not (math.isfinite(a.Ne) and a.Ne > 0):
        ap.error(f"-Ne expects a positive number but got {a.Ne:g}")
    a.figure_format = figure_format(ap, a)
    a.loci = parse_loci(ap, a.dl)
    return a


def run_seed(words, lines):
    """The run's seed in words, from its summary file: the seed word it set or
    logged, the fixed seed of -nrs, or "" when the file does not say."""
    for line in lines:
        m = re.match(r"Random seed word (?:set to )?(\d+)", line.strip())
        if m:
            return f"seed {m.group(1)}"
    return "fixed seed (-nrs)" if "-nrs" in words else ""


def run_model(a, base):
    """-Ne and -copy_panel_only of the run: as given, else from the command
    line its summary file records; that command line and the run's seed, for
    the title."""
    command, lines = "", []
    try:
        with open(base + ".summary", errors="replace") as f:
            lines = f.read(1 << 20).splitlines()
        for k, line in enumerate(lines[:-1]):
            if line.startswith("Command line input is:"):
                command = lines[k + 1].strip()
                break
    except OSError:
        pass
    words = command.split()
    ne = NE_DEFAULT
    if "-Ne" in words[:-1]:
        try:
            ne = float(words[words.index("-Ne") + 1])
        except ValueError:
            pass
    return {"Ne": a.Ne if a.Ne is not None else ne,
            "panel_only": a.copy_panel_only if a.copy_panel_only is not None else "-copy_panel_only" in words,
            "command": command, "seed": run_seed(words, lines)}


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


def sections(rep, a, run, panel, rng, stage, notes, model):
    """Sections 1-6, in the order of their draws from rng."""
    ctrl, n = run.controls, panel.shape[1]
    coord, unit, width = coordinates(a, run.positions)
    figs = {}
    M = 2 * ctrl.individuals
    panel_G = stats.genotypes_of(panel)
    stage("allele frequencies")
    report.section_allele_frequencies(rep, panel, ctrl, n, M, figs, model["panel_only"])
    stage("LD decay" if ctrl.haplotypes else "LD decay (genotype r^2)")
    ld_plot = report.section_ld(rep, panel.mean(axis=1), panel if ctrl.haplotypes else panel_G, ctrl.kept,
                                "haplotypes" if ctrl.haplotypes else "individuals", coord, unit, width, 10, rng,
                                figs, notes, model)
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
    report.add_verdicts(rep, ld_plot, model, bool(a.loci))
    return figs


def counted(k, word):
    return f"{k:,} {word}" + ("" if k == 1 else "s")


def title(run, model):
    """The page's title: the run's main parameters in words."""
    cases = run.cases.individuals if run.cases is not None else None
    parts = [counted(run.controls.individuals, "control") + (f" + {counted(cases, 'case')}" if cases is not None
                                                             else ""),
             counted(run.positions.size, "SNP"),
             "copy panel only" if model["panel_only"] else f"Ne {model['Ne']:,g}"]
    if model["seed"]:
        parts.append(model["seed"])
    return "Validation report: " + ", ".join(parts)


def subtitle(a, run, n, model, base):
    """The run's parameters, under the page's title."""
    ctrl = run.controls
    cases = run.cases.individuals if run.cases is not None else None
    parts = [f"output stem <code>{html.escape(os.path.basename(base))}</code>",
             f"{ctrl.individuals:,} controls" + (f", {cases:,} cases" if cases is not None else ""),
             f"{run.positions.size:,} SNPs at positions {int(run.positions.min()):,}–{int(run.positions.max()):,}",
             f"panel {panel_name(a)} ({n:,} haplotypes)",
             f"map <code>{html.escape(a.map)}</code>" if a.map else "no map (distances in kb)",
             f"N<sub>e</sub> {model['Ne']:g}" + (", copying from the panel only" if model["panel_only"] else ""),
             "disease loci " + "; ".join(f"{p:,} (allele {al}, rr {r1:g}, {r2:g})" for p, al, r1, r2 in a.loci)
             if a.loci else "no disease loci given"]
    text = "; ".join(parts) + "."
    if model["command"]:
        text += f"<br>tarvik command line: <code>{html.escape(model['command'])}</code>"
    return text


def run(argv):
    t_start = time.time()
    a = parse_args(argv)
    rng = np.random.default_rng(a.seed)
    base = a.stem[:-3] if a.stem.endswith(".gz") else a.stem
    check_files(a)
    model = run_model(a, base)

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
    html_path, tsv_path, pdf_path = (base + ".validation." + e for e in ("html", "tsv", "pdf"))
    pdf = None
    try:
        pdf = PdfPages(pdf_path) if a.format == "pdf" else None
        rep = report.Report(pdf)
        run_section(rep, a, run, base, panel.shape[1])
        subsample_block = len(rep.blocks) - 1
        figs = sections(rep, a, run, panel, rng, stage, notes, model)
        rep.blocks[subsample_block][1].append(
            "<p>Subsampled: " + (html.escape("; ".join(notes)) if notes else "nothing") + ".</p>")
        rep.write(html_path, tsv_path, title(run, model), subtitle(a, run, panel.shape[1], model, base))
        if a.figure:
            summary_figure(a.figure, figs, a.figure_format)
    except OSError as e:
        raise InputError(f"cannot write {e.filename or pdf_path}: {e.strerror}")
    finally:
        if pdf is not None:
            pdf.close()
    for note in notes or ["nothing"]:
        print("subsampled: " + note)
    written = [html_path, tsv_path] + ([pdf_path] if pdf is not None else []) + ([a.figure] if a.figure else [])
    stage("wrote " + ", ".join(written))


def main(argv=None):
    try:
        run(sys.argv[1:] if argv is None else argv)
    except InputError as e:
        sys.stderr.write(f"validate.py: error: {e}\n")
        return 1
    except MemoryError:
        sys.stderr.write("validate.py: error: out of memory; the run is too large for this machine's memory\n")
        return 1
    except Exception as e:  # a fault of this program: one line, the traceback on request
        if os.environ.get("TARVIK_VALIDATE_TRACEBACK"):
            raise
        sys.stderr.write(f"validate.py: error: unexpected {type(e).__name__}: {readers.shown(str(e), 200)} "
                         "(TARVIK_VALIDATE_TRACEBACK=1 shows where)\n")
        return 1
    return 0
