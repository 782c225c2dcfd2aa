#!/usr/bin/env python3
"""Validation report of a tarvik run against the panel it copied from.

    scripts/validate.py <output stem> (-h <haps> -l <legend> | -vcf <file> [-chr <contig>])
                        [-m <map>] [-dl <pos> <allele> <rr1> <rr2> ...] [-Ne N] [-copy_panel_only]
                        [--seed N] [--figure FILE.png|FILE.pdf] [--format png|pdf]

Reads the run's files (<stem>.controls.haps, .cases.haps, .legend, plain or
gzip; the .gen files when the run wrote no haplotypes) and the panel files as
tarvik reads them, a phased VCF or BCF panel included, and writes
<stem>.validation.html (one self-contained page) and <stem>.validation.tsv
(every number on the page: section, metric, value). The page opens with each
check's verdict against its tolerance. --figure also writes the four main
plots as one PNG or PDF; --format pdf writes every figure to
<stem>.validation.pdf as well. --help describes every option.

Large runs are subsampled (haplotypes, individuals, SNP pairs) with a fixed
seed; what was subsampled is printed and recorded in the report.

The code is the package tarvik_validate beside this script.
"""
import importlib.util
import os
import sys


def system_interpreter_if_needed():
    # numpy, scipy, matplotlib and cyvcf2 come as Debian packages for the
    # system interpreter; a python3 found earlier on PATH (pyenv, a
    # virtualenv) may lack them.
    needed = ["numpy", "scipy", "matplotlib"] + (["cyvcf2"] if "-vcf" in sys.argv[1:] else [])
    if all(importlib.util.find_spec(m) for m in needed):
        return
    system = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.access(system, os.X_OK):
        os.execv(system, [system] + sys.argv)
    # Without cyvcf2 the -vcf reader says what to install.
    if not all(importlib.util.find_spec(m) for m in needed[:3]):
        sys.exit("validate.py: error: needs numpy, scipy and matplotlib "
                 "(Debian: apt-get install python3-numpy python3-scipy python3-matplotlib)")


if __name__ == "__main__":
    system_interpreter_if_needed()
    sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
    from tarvik_validate.cli import main
    sys.exit(main())
