"""Tests of scripts/validate.py: numbers on a hand-made run, real runs on the
example panel (from its haplotype/legend and its VCF form), and the errors on
bad input.

Environment: TARVIK_SOURCE_DIR (default: the parent of this directory) and
TARVIK_BINARY (default: <source>/build/tarvik; the example tests are skipped
when neither is set and the default does not exist).
"""
import base64
import gzip
import math
import re
import struct
import os
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy as np
except ImportError:
    # As in validate.py: numpy is a Debian package of the system interpreter.
    if os.path.realpath(sys.executable) != "/usr/bin/python3" and os.access("/usr/bin/python3", os.X_OK):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

SOURCE = os.environ.get("TARVIK_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(SOURCE, "scripts", "validate.py")
sys.path.insert(0, os.path.dirname(SCRIPT))
from tarvik_validate import stats  # noqa: E402
BINARY = os.environ.get("TARVIK_BINARY", os.path.join(SOURCE, "build", "tarvik"))

# The hand-made run. Panel: 4 haplotypes (individuals A = h0 h1, B = h2 h3);
# the second line at position 1050 must be ignored (first of a position kept)
# and position 9000 is not in the run. Controls: 4 haplotypes (X = c0 c1,
# Y = c2 c3); cases: 4 haplotypes.
PANEL = [  # rsid, position, codes
    ("rs1", 1000, "1 0 1 0"),
    ("rs2", 1050, "1 0 0 0"),
    ("rs2b", 1050, "0 1 1 1"),
    ("rs3", 3000, "1 1 0 0"),
    ("rs4", 5000, "1 1 1 0"),
    ("rs5", 7000, "0 0 0 0"),
    ("rs6", 9000, "0 1 0 1"),
]
RUN = [  # rsid, position, controls, cases
    ("rs1", 1000, "1 1 0 0", "0 1 0 0"),
    ("rs2", 1050, "1 1 0 0", "1 0 0 0"),
    ("rs3", 3000, "0 0 0 0", "1 1 0 0"),
    ("rs4", 5000, "1 1 1 1", "1 0 1 1"),
    ("rs5", 7000, "0 0 0 1", "0 0 0 0"),
]
# The same panel as a phased VCF, with what a VCF panel adds: records that
# are not biallelic SNPs (skipped, also the first at 1050), a genotype no
# panel may hold at a position the run lacks (never decoded), and a second
# contig (so -chr is needed).
VCF_RECORDS = [  # contig, position, ID, REF, ALT, genotypes
    ("20", 1000, "rs1", "A", "G", "1|0 1|0"),
    ("20", 1050, "del", "AC", "A", "0|1 1|1"),
    ("20", 1050, "rs2", "A", "G", "1|0 0|0"),
    ("20", 1050, "rs2b", "A", "G", "0|1 1|1"),
    ("20", 2000, "multi", "A", "C,G", "2|1 0|0"),
    ("20", 3000, "rs3", "C", "T", "1|1 0|0"),
    ("20", 5000, "rs4", "A", "G", "1|1 1|0"),
    ("20", 6000, "gap", "A", "G", "0/1 .|."),
    ("20", 7000, "rs5", "T", "C", "0|0 0|0"),
    ("20", 9000, "rs6", "A", "G", "0|1 0|1"),
    ("21", 500, "other", "A", "G", "1|1 1|1"),
]
MAP = "position COMBINED_rate(cM/Mb) Genetic_Map(cM)\n0 1.0 0\n10000 1.0 10\n"  # 1 cM per kb
LOCI = ["-dl", "3000", "1", "2", "4", "5000", "0", "3", "1.5"]


def write(path, text, compress=False):
    data = text.encode()
    with open(path, "wb") as f:
        f.write(gzip.compress(data) if compress else data)


def haps_line(codes):
    # tarvik's layout: each code followed by a blank.
    return "".join(c + " " for c in codes.split()) + "\n"


def gen_line(k, rsid, pos, codes):
    c = [int(x) for x in codes.split()]
    trip = {0: "1 0 0", 1: "0 1 0", 2: "0 0 1"}
    return f"snp_{k} {rsid} {pos} A G " + " ".join(trip[c[i] + c[i + 1]] for i in range(0, len(c), 2)) + "\n"


def write_vcf(path, records):
    header = ("##fileformat=VCFv4.2\n##contig=<ID=20>\n##contig=<ID=21>\n"
              '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n'
              "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\n")
    write(path, header + "".join("\t".join([c, str(p), i, r, a, ".", ".", ".", "GT", *g.split()]) + "\n"
                                 for c, p, i, r, a, g in records))


def make_fixture(d, genotypes_only=False):
    """Writes the hand-made panel, map and run into d; returns (panel args, stem)."""
    # The panel haplotypes are gzip under a plain name: recognised by content.
    write(os.path.join(d, "panel.hap"), "".join(c + "\n" for _, _, c in PANEL), compress=True)
    write(os.path.join(d, "panel.legend"), "rsid position a0 a1\n" + "".join(f"{r} {p} A G\n" for r, p, _ in PANEL))
    write(os.path.join(d, "map.txt"), MAP)
    write_vcf(os.path.join(d, "panel.vcf"), VCF_RECORDS)
    stem = os.path.join(d, "run")
    if genotypes_only:
        write(stem + ".controls.gen", "".join(gen_line(k, r, p, c) for k, (r, p, c, _) in enumerate(RUN)))
        write(stem + ".cases.gen", "".join(gen_line(k, r, p, c) for k, (r, p, _, c) in enumerate(RUN)))
    else:
        write(stem + ".legend", "rs pos X0 X1\n" + "".join(f"{r} {p} A G\n" for r, p, _, _ in RUN))
        write(stem + ".controls.haps.gz", "".join(haps_line(c) for _, _, c, _ in RUN), compress=True)
        write(stem + ".cases.haps.gz", "".join(haps_line(c) for _, _, _, c in RUN), compress=True)
    panel = ["-h", os.path.join(d, "panel.hap"), "-l", os.path.join(d, "panel.legend"),
             "-m", os.path.join(d, "map.txt")]
    return panel, stem


def validate(*args):
    return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True, timeout=600)


def read_tsv(path):
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        assert header == ["section", "metric", "value"], header
        rows = {}
        for line in f:
            s, m, v = line.rstrip("\n").split("\t")
            rows[(s, m)] = float(v)
    return rows


class HandMadeRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        panel, stem = make_fixture(cls.tmp.name)
        cls.result = validate(stem + ".gz", *panel, *LOCI)
        cls.rows, cls.page = {}, ""
        if cls.result.returncode == 0:
            cls.rows = read_tsv(stem + ".validation.tsv")
            with open(stem + ".validation.html") as f:
                cls.page = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def check(self, section, metric, expected):
        with self.subTest(section=section, metric=metric):
            self.assertIn((section, metric), self.rows)
            got = self.rows[(section, metric)]
            if isinstance(expected, float) and math.isnan(expected):
                self.assertTrue(math.isnan(got), got)
            else:
                self.assertAlmostEqual(got, expected, delta=1e-5 * max(1.0, abs(expected)))

    def test_runs(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertIn("data:image/png;base64,", self.page)

    def test_allele_frequencies(self):
        # Panel p = .5 .25 .5 .75 0 (the second 1050 line ignored), controls
        # f = .5 .5 0 1 .25; n = M = 4, so Var = pq (4+4)/(4*5) = 0.4 pq.
        A = "allele_frequency"
        self.check(A, "snps", 5)
        # Only the monomorphic panel SNP (SD 0) is outside; |-.5| < 2 sqrt(.1).
        self.check(A, "snps_outside_2sd_band", 1)
        self.check(A, "fraction_outside_2sd_band", 0.2)
        self.check(A, "max_abs_difference", 0.5)
        # Deviations from the means .4 and .45: sum dp*df = .225,
        # sum dp^2 = .325, sum df^2 = .55.
        self.check(A, "pearson_r", 0.225 / math.sqrt(0.325 * 0.55))
        k = math.sqrt(2 / math.pi)
        for label, count, mad, expected in [
                ("0-0.01", 1, 0.25, 0.0),
                ("0.01-0.05", 0, float("nan"), float("nan")),
                ("0.05-0.1", 0, float("nan"), float("nan")),
                ("0.1-0.2", 0, float("nan"), float("nan")),
                ("0.2-0.3", 2, 0.25, math.sqrt(0.4 * 0.25 * 0.75) * k),
                ("0.3-0.4", 0, float("nan"), float("nan")),
                ("0.4-0.5", 2, 0.25, math.sqrt(0.4 * 0.25) * k)]:
            self.check(A, f"snps_maf_{label}", count)
            self.check(A, f"mean_abs_difference_maf_{label}", mad)
            self.check(A, f"expected_mean_abs_difference_maf_{label}", expected)
        # Four SNPs vary in the panel, none of them outside; 7000 varies
        # in the controls only.
        self.check(A, "panel_polymorphic_snps", 4)
        self.check(A, "panel_polymorphic_snps_outside_2sd_band", 0)
        self.check(A, "fraction_of_panel_polymorphic_outside_2sd_band", 0.0)
        self.check(A, "panel_monomorphic_snps_varying_in_sim", 1)
        allele_rows = [k for k in self.rows if k[0] == A]
        self.assertEqual(len(allele_rows), 9 + 3 * 7)

    def test_one_r2(self):
        # Only 1000-1050 (0.05 cM) lies within 1 cM among the SNPs with MAF
        # >= .05. Panel 1010/1000: D = 1/4 - 1/2*1/4 = 1/8,
        # r^2 = (1/8)^2 / (1/4 * 3/16) = 1/3; controls carry 1100 twice: r^2 = 1.
        self.check("ld", "eligible_snps", 4)
        self.check("ld", "pairs", 1)
        self.check("ld", "pairs_0-0.1cM", 1)
        self.check("ld", "panel_mean_r2_0-0.1cM", 1 / 3)
        self.check("ld", "sim_mean_r2_0-0.1cM", 1.0)
        self.check("ld", "ratio_0-0.1cM", 3.0)
        self.check("ld", "pairs_0.1-0.2cM", 0)

    def test_kinship_of_one_pair(self):
        # Panel genotypes A = 1 1 2 2 0, B = 1 0 0 1 0: hets 2 and 2, one
        # shared het (1000), opposite homozygotes at 3000:
        # phi = (1 - 2) / (2 + 2) = -0.25.
        self.check("relatedness", "panel_panel_pairs", 1)
        self.check("relatedness", "panel_panel_mean_kinship", -0.25)
        self.check("relatedness", "panel_panel_fraction_above_0.0442", 0.0)
        # Controls X = 2 2 0 2 0, Y = 0 0 0 2 1: no shared het, two opposite
        # homozygotes, one het in all: (0 - 4) / 1.
        self.check("relatedness", "sim_sim_mean_kinship", -4.0)
        self.check("relatedness", "sim_panel_pairs", 4)

    def test_clones_and_adversarial_accuracy(self):
        # Controls c0 = c1 = 11010, c2 = 00010, c3 = 00011; panel h0 = 11110,
        # h1 = 00110, h2 = 10010, h3 = 00000.
        C = "clones"
        self.check(C, "fraction_sim_exact_duplicate_in_sim", 0.5)
        self.check(C, "fraction_sim_exact_duplicate_in_panel", 0.0)
        # Nearest panel haplotype of c0..c3: 1 1 1 2; of h0..h3 among the
        # others: 2 2 2 2; nearest control of h0..h3: 1 1 1 1; of c0..c3
        # among the others: 0 0 1 1.
        self.check(C, "nn_sim_to_panel_mean", 1.25)
        self.check(C, "nn_panel_to_panel_mean", 2.0)
        self.check(C, "nn_sim_to_sim_mean", 0.5)
        # AA = (mean[1 1 1 1 > 2 2 2 2] + mean[1 1 1 2 > 0 0 1 1]) / 2 = (0 + 3/4) / 2;
        # the tie of c2 counts half in the other version.
        self.check(C, "adversarial_accuracy", 0.375)
        self.check(C, "adversarial_accuracy_ties_half", 0.4375)

    def test_expected_case_frequency(self):
        # 3000, risk allele 1: panel 2/4, controls 0/4, pooled p = 1/4:
        # .25 (2*.75 + 4*.25) / (.75^2 + 2*.25*.75*2 + .25^2*4) = .625/1.5625 = .4.
        # Case genotype probabilities .36 .48 .16: Var(g) = .48, SE = sqrt(.48/2)/2.
        S = "disease_locus_3000"
        self.check(S, "pooled_freq", 0.25)
        self.check(S, "expected_case_freq", 0.4)
        self.check(S, "case_freq", 0.5)
        self.check(S, "control_freq", 0.0)
        self.check(S, "se_case_freq", math.sqrt(0.24) / 2)
        self.check(S, "z", 0.1 / (math.sqrt(0.24) / 2))
        self.check(S, "allelic_or", float("nan"))  # no risk allele among the controls
        # 5000, risk allele 0: panel 1/4, controls 0/4, p = 1/8, rr 3 and 1.5:
        # .125 (3*.875 + 1.5*.125) / (.875^2 + 2*.125*.875*3 + .125^2*1.5) = 9/37.
        S = "disease_locus_5000"
        self.check(S, "pooled_freq", 0.125)
        self.check(S, "expected_case_freq", 9 / 37)
        self.check(S, "case_freq", 0.25)
        # lambda = [4/(4+4)/2 + 1/2] / [1/2 + 1/2]
        self.check("disease_loci", "lambda_null", 0.75)

    def test_vcf_form_of_the_panel_gives_the_same_numbers(self):
        vcf = os.path.join(self.tmp.name, "panel.vcf")
        stem = os.path.join(self.tmp.name, "run")
        r = validate(stem, "-vcf", vcf, "-chr", "20", "-m", os.path.join(self.tmp.name, "map.txt"), *LOCI)
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = read_tsv(stem + ".validation.tsv")
        self.assertEqual(rows.keys(), self.rows.keys())
        for key, value in self.rows.items():
            self.assertTrue(rows[key] == value or math.isnan(rows[key]) and math.isnan(value), (key, rows[key], value))

    def test_genotype_files_alone_give_the_same_frequencies(self):
        with tempfile.TemporaryDirectory() as d:
            panel, stem = make_fixture(d, genotypes_only=True)
            r = validate(stem, *panel, *LOCI)
            self.assertEqual(r.returncode, 0, r.stderr)
            rows = read_tsv(stem + ".validation.tsv")
        for key in [("allele_frequency", "pearson_r"), ("allele_frequency", "snps_outside_2sd_band"),
                    ("disease_locus_3000", "case_freq"), ("disease_locus_5000", "expected_case_freq"),
                    ("relatedness", "panel_panel_mean_kinship")]:
            self.assertAlmostEqual(rows[key], self.rows[key], places=6, msg=key)
        self.assertFalse(any(s == "clones" for s, _ in rows), "clones need haplotypes")


class FirstRows:
    """A generator stand-in whose screen is the first SNPs, so that planted
    mismatches fall inside or outside it by construction."""
    def choice(self, L, k, replace=False):
        return np.arange(k)


class NearCopies(unittest.TestCase):
    def test_screen_finds_what_a_full_comparison_finds(self):
        rng = np.random.default_rng(7)
        L, screen, m = 1000, 200, 60
        X = (rng.random((L, m)) < 0.3).astype(np.uint8)
        for j in range(30):
            X[:, 30 + j] = X[:, j]
            if j < 15:  # j mismatches, all in the screen: 10 is the last found
                X[rng.choice(screen, j, replace=False), 30 + j] ^= 1
            else:  # 5 in the screen, 20 outside: a candidate at 25 mismatches
                X[rng.choice(screen, 5, replace=False), 30 + j] ^= 1
                X[screen + rng.choice(L - screen, 20, replace=False), 30 + j] ^= 1
        q = rng.permutation(m)
        got = stats.nearest_within(X, q, X, 10, FirstRows(), same=True, subset=screen)
        full = (X[:, q, None] != X[:, None, :]).sum(axis=0).astype(float)
        full[np.arange(m), q] = np.inf
        want = full.min(axis=1)
        want[want > 10] = np.inf
        np.testing.assert_array_equal(got, want)
        self.assertEqual(int(np.isfinite(want).sum()), 22)  # both sides of the 11 pairs within 10


class BadInput(unittest.TestCase):
    def test_errors_name_the_file(self):
        with tempfile.TemporaryDirectory() as d:
            panel, stem = make_fixture(d)
            hap, legend = panel[1], panel[3]
            extra_legend = os.path.join(d, "extra.legend")
            with open(legend) as f:
                write(extra_legend, f.read() + "rs7 9500 A G\n")
            foreign_run = os.path.join(d, "foreign")
            write(foreign_run + ".legend", "rs pos X0 X1\nrsx 1234 A G\n")
            write(foreign_run + ".controls.haps", haps_line("0 1 0 1"))
            short_line = os.path.join(d, "short")
            write(short_line + ".legend", "rs pos X0 X1\nrs1 1000 A G\nrs2 1050 A G\n")
            write(short_line + ".controls.haps", haps_line("0 1 0 1") + haps_line("0 1"))
            unphased = os.path.join(d, "unphased.vcf")
            write_vcf(unphased, [rec if rec[1] != 5000 else rec[:5] + ("1/1 1|0",) for rec in VCF_RECORDS])
            vcf = os.path.join(d, "panel.vcf")
            huge_gen = os.path.join(d, "huge")
            write(huge_gen + ".controls.gen", gen_line(0, "rs1", 12345678901234567890, RUN[0][2]))
            # A run file cut short and padded with NUL bytes, as a crash may leave it.
            padded = os.path.join(d, "padded")
            write(padded + ".legend", "rs pos X0 X1\n" + "".join(f"{r} {p} A G\n" for r, p, _, _ in RUN))
            write(padded + ".controls.haps", "".join(haps_line(c) for _, _, c, _ in RUN[:4]) + "0" + "\0" * 32000)
            long_legend = os.path.join(d, "long")
            write(long_legend + ".legend", "rs pos X0 X1\nrs1 1000 A G\nrs2 1050 A G\n")
            write(long_legend + ".controls.haps", haps_line("0 1 0 1"))
            cases = [
                ("missing panel", [stem, "-h", os.path.join(d, "nope.hap"), "-l", legend], "nope.hap"),
                ("stem without output", [os.path.join(d, "empty"), *panel], "empty"),
                ("panel legend and haplotypes differ", [stem, "-h", hap, "-l", extra_legend], "extra.legend"),
                ("run SNP not in the panel", [foreign_run, *panel], "panel.legend"),
                ("run line of another length", [short_line, *panel], "short.controls.haps"),
                ("run legend longer than its haplotypes", [long_legend, *panel], "long.controls.haps"),
                ("missing map", [stem, "-h", hap, "-l", legend, "-m", os.path.join(d, "nomap")], "nomap"),
                ("-dl not in fours", [stem, *panel, "-dl", "3000", "1", "2"], "-dl"),
                ("-vcf and -h", [stem, *panel, "-vcf", vcf], "-vcf"),
                ("VCF of two contigs without -chr", [stem, "-vcf", vcf], "choose one with -chr"),
                ("-chr not in the VCF", [stem, "-vcf", vcf, "-chr", "22"], "contig 22"),
                ("unphased genotype at a run SNP", [stem, "-vcf", unphased, "-chr", "20"],
                 "unphased genotype at 20:5000"),
                ("-dl position of 20 digits", [stem, *panel, "-dl", "12345678901234567890", "1", "2", "4"],
                 "-dl: position 12345678901234567890 is not a position of a panel"),
                ("negative --seed", [stem, *panel, "--seed", "-1"], "--seed expects a whole number"),
                ("--figure of no image type", [stem, *panel, "--figure", os.path.join(d, "plots.txt")],
                 "plots.txt: the file's name must end in .png or .pdf"),
                ("-Ne of 0", [stem, *panel, "-Ne", "0"], "-Ne expects a positive number"),
                ("unknown --format", [stem, *panel, "--format", "svg"], "invalid choice: 'svg'"),
                (".gen position of 20 digits", [huge_gen, *panel], "huge.controls.gen: line 1: position "
                 "12345678901234567890 does not fit in 32 bits"),
                ("haplotype line padded with NUL bytes", [padded, *panel], "padded.controls.haps: line 5: "
                 "allele code '0\\x00\\x00"),
            ]
            for name, args, mention in cases:
                with self.subTest(name):
                    r = validate(*args)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn("error", r.stderr)
                    self.assertIn(mention, r.stderr)
                    self.assertNotIn("Traceback", r.stderr)
                    self.assertLess(len(r.stderr), 400, "one short line")
            # Options are checked before any work: nothing written.
            self.assertFalse(os.path.exists(stem + ".validation.html"))


class ExamplePanel(unittest.TestCase):
    """Runs of the program on the example panel: the binary is needed, and a
    missing one fails these tests rather than skipping them."""

    def setUp(self):
        self.assertTrue(os.path.exists(BINARY), f"no tarvik binary at {BINARY}")
        ex = os.path.join(SOURCE, "example")
        self.panel = ["-h", os.path.join(ex, "chr20.hap.gz"), "-l", os.path.join(ex, "chr20.legend.gz"),
                      "-m", os.path.join(ex, "chr20.map.gz")]

    def test_report_on_a_real_run(self):
        panel = self.panel
        locus = ["-dl", "1945626", "1", "2.0", "4.0"]
        with tempfile.TemporaryDirectory() as d:
            stem = os.path.join(d, "run")
            sim = subprocess.run([BINARY, *panel, "-o", stem, "-n", "1000", "1000", "-nrs", "-no_gens_output",
                                  *locus], capture_output=True, text=True, timeout=600)
            self.assertEqual(sim.returncode, 0, sim.stdout + sim.stderr)
            r = validate(stem, *panel, *locus)
            self.assertEqual(r.returncode, 0, r.stderr)
            rows = read_tsv(stem + ".validation.tsv")
            with open(stem + ".validation.html") as f:
                page = f.read()
        for title in ["Allele frequencies", "Linkage disequilibrium", "Relatedness", "Clones",
                      "Disease loci", "Hardy"]:
            self.assertIn(title, page)
        self.check_presentation(page, rows)
        self.assertIn("1,000 controls, 1,000 cases; 24,978 SNPs", page)
        # The title says what was run; the stem follows under it.
        self.assertRegex(page, r"<h1>Validation report: 1,000 controls \+ 1,000 cases, 24,978 SNPs, Ne 11,418, "
                               r"fixed seed \(-nrs\)</h1>\s*<p class='params'>output stem <code>run</code>;")
        S = "disease_locus_1945626"
        z = (rows[(S, "case_freq")] - rows[(S, "expected_case_freq")]) / rows[(S, "se_case_freq")]
        self.assertLess(abs(z), 4, rows)
        # The strong locus must actually shift the cases.
        self.assertGreater(rows[(S, "case_freq")] - rows[(S, "control_freq")], 0.1)
        self.assertGreater(rows[("allele_frequency", "pearson_r")], 0.99)

    def check_presentation(self, page, rows):
        """What a reviewer reads: the verdicts first, one per check; figures of at
        least 1,200 pixels; legends and tables in words and four figures."""
        self.assertLess(page.index("<h2>Verdicts</h2>"), page.index("<h2>Run</h2>"))
        checks = ["allele_frequencies", "ld_decay", "relatedness", "clones", "disease_loci", "hardy_weinberg"]
        self.assertEqual(sorted(m for s, m in rows if s == "verdicts"), sorted(checks))
        self.assertEqual(page.count("class='pass'") + page.count("class='look'"), len(checks))
        images = re.findall(r"base64,([A-Za-z0-9+/=]+)", page)
        self.assertGreaterEqual(len(images), 4)
        for data in images:
            self.assertGreaterEqual(struct.unpack(">I", base64.b64decode(data)[16:20])[0], 1200)
        self.assertNotIn("sim_sim", page)
        numbers = [c for c in re.findall(r"<td>([-0-9.e+]+)</td>", page)
                   if re.fullmatch(r"-?[0-9.]+(e[-+][0-9]+)?", c)]
        self.assertGreater(len(numbers), 100)
        for cell in numbers:
            digits = cell.lstrip("-").split("e")[0].replace(".", "").lstrip("0")
            self.assertLessEqual(len(digits), 4, cell)

    def test_copy_panel_only_ld_follows_the_copying_model(self):
        panel = self.panel
        locus = ["-dl", "1945626", "1", "1.5", "2.25"]
        with tempfile.TemporaryDirectory() as d:
            stem = os.path.join(d, "run")
            sim = subprocess.run([BINARY, *panel, "-o", stem, "-n", "2000", "20", "-seed", "29", "-copy_panel_only",
                                  "-no_gens_output", *locus], capture_output=True, text=True, timeout=600)
            self.assertEqual(sim.returncode, 0, sim.stdout + sim.stderr)
            figure = os.path.join(d, "four.pdf")
            r = validate(stem, *panel, *locus, "--format", "pdf", "--figure", figure)
            self.assertEqual(r.returncode, 0, r.stderr)
            rows = read_tsv(stem + ".validation.tsv")
            with open(stem + ".validation.pdf", "rb") as f:
                pdf = f.read()
            with open(figure, "rb") as f:
                self.assertEqual(f.read(5), b"%PDF-")
        # The run's summary file told it the run copied from the panel only.
        ratios = {m: v for (s, m), v in rows.items() if m.startswith("observed_over_theory_")}
        self.assertEqual(len(ratios), 10)
        for metric, value in ratios.items():
            self.assertTrue(0.8 <= value <= 1.2, (metric, value))
        self.assertEqual(rows[("verdicts", "ld_decay")], 1)
        self.assertEqual(pdf[:5], b"%PDF-")
        self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", pdf)), 4)  # one page per figure

    def test_run_from_a_vcf_panel_gives_the_same_numbers(self):
        ex = os.path.join(SOURCE, "example")
        common = ["-m", os.path.join(ex, "chr20.map.gz"), "-dl", "1945626", "1", "2.0", "4.0"]
        with tempfile.TemporaryDirectory() as d:
            hap, legend, vcf, bcf = (os.path.join(d, "panel" + e) for e in (".hap", ".legend", ".vcf", ".bcf"))
            # The example legend holds indels, which a VCF panel skips: the
            # two forms are one panel only with the SNP lines alone.
            with gzip.open(os.path.join(ex, "chr20.legend.gz"), "rt") as fl, \
                    gzip.open(os.path.join(ex, "chr20.hap.gz"), "rt") as fh, \
                    open(legend, "w") as out_l, open(hap, "w") as out_h:
                out_l.write(fl.readline())
                for line, codes in zip(fl, fh):
                    if all(len(a) == 1 and a.isalpha() for a in line.split()[2:4]):
                        out_l.write(line)
                        out_h.write(codes)
            with open(vcf, "w") as f:
                subprocess.run(["sh", os.path.join(SOURCE, "tests", "hap_legend_to_vcf.sh"), hap, legend, "20"],
                               stdout=f, check=True)
            # An indexed BCF, read through its index; the plain VCF is read whole.
            subprocess.run(["bcftools", "view", "-Ob", "-o", bcf, vcf], check=True)
            subprocess.run(["bcftools", "index", bcf], check=True)

            def simulate(stem, panel):
                sim = subprocess.run([BINARY, *panel, "-o", stem, "-int", "1500000", "2500000", "-n", "200", "200",
                                      "-seed", "11", "-no_gens_output", *common],
                                     capture_output=True, text=True, timeout=600)
                self.assertEqual(sim.returncode, 0, sim.stdout + sim.stderr)

            def report_of(stem, panel):
                r = validate(stem, *panel, *common)
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(stem + ".validation.tsv") as f:
                    return f.read().splitlines()
            by_haps, by_vcf = os.path.join(d, "by_haps"), os.path.join(d, "by_vcf")
            simulate(by_haps, ["-h", hap, "-l", legend])
            simulate(by_vcf, ["-vcf", bcf, "-chr", "20"])
            tsv = {"haps": report_of(by_haps, ["-h", hap, "-l", legend]),
                   "bcf": report_of(by_vcf, ["-vcf", bcf, "-chr", "20"]),
                   "vcf": report_of(by_vcf, ["-vcf", vcf])}
        self.assertGreater(len(tsv["haps"]), 100)
        self.assertEqual(tsv["bcf"], tsv["haps"])
        self.assertEqual(tsv["vcf"], tsv["haps"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
