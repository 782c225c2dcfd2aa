"""The run's files, the haplotype/legend panel and the genetic map, read as
tarvik reads them (plain or gzip, recognised by content)."""
import gzip
import math
import os
import zlib

import numpy as np

# Simulated controls held in memory: chosen so that 10,000 + 10,000
# individuals on the example panel validate within a minute on two cores.
KEEP_INDIVIDUALS = 10000


class InputError(Exception):
    pass


def shown(text, limit=24):
    """A piece of a file for a message: its repr, cut after `limit` characters
    (a line of binary data or NUL padding would otherwise fill the screen)."""
    if isinstance(text, bytes):
        text = text.decode(errors="replace")
    if len(text) <= limit:
        return repr(text)
    return f"{text[:limit]!r}... ({len(text):,} characters)"


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
            raise InputError(f"{path}: line {number}: allele code {shown(t)} is not 0 or 1")
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
            raise InputError(f"{path}: line {number}: position {shown(f[1])} is not an integer")
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


def not_in_panel(run_legend, position, panel):
    return InputError(f"the run's legend {run_legend} has a SNP at position {position} that is not in the panel "
                      f"{panel}: the run was not made from this panel")


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
            raise not_in_panel(run_legend, p, f"legend {legend_path}")
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


def open_vcf(path):
    try:
        import cyvcf2
    except ImportError:
        raise InputError("a -vcf panel is read through cyvcf2 (Debian: apt-get install python3-cyvcf2)")
    try:
        return cyvcf2.VCF(path, lazy=True)
    except OSError as e:
        raise InputError(f"cannot read VCF panel {path}: {e}")


def checked(records, path):
    """The records of a cyvcf2 iterator, its read errors as InputError."""
    it = iter(records)
    while True:
        try:
            rec = next(it)
        except StopIteration:
            return
        except Exception as e:  # cyvcf2 raises bare Exceptions on bad data
            raise InputError(f"cannot read VCF panel {path}: {e}")
        yield rec


def contig_records(vcf, path, contig, lo, hi):
    """The records of the panel's contig: the one named by -chr (`contig`),
    else the only one the file holds. With an index, and the contig known,
    only those overlapping [lo, hi], the span of the run's SNPs."""
    indexed = any(os.path.exists(path + ext) for ext in (".tbi", ".csi"))
    names = vcf.seqnames if indexed else []
    known = contig if contig is not None else (names[0] if len(names) == 1 else None)
    if indexed and known is not None:
        if known not in names:
            raise InputError(f"{path}: contig {known} (-chr) is not in the file, which holds contigs "
                             f"{', '.join(names) or 'none'}")
        yield from checked(vcf(f"{known}:{lo}-{hi}"), path)
        return
    chosen, seen = contig, False
    for rec in checked(vcf, path):
        if chosen is None:
            chosen = rec.CHROM
        if rec.CHROM == chosen:
            seen = True
            yield rec
        elif contig is None:
            raise InputError(f"{path}: the file holds several contigs ({chosen}, {rec.CHROM}); choose one with -chr")
    if contig is not None and not seen:
        raise InputError(f"{path}: contig {contig} (-chr) is not in the file")


def is_snp(rec):
    """Two alleles of one letter each: what tarvik takes as a SNP."""
    alt = rec.ALT
    return len(alt) == 1 and all(len(a) == 1 and a.isascii() and a.isalpha() for a in (rec.REF, alt[0]))


def haplotype_codes(rec, path, samples):
    """Allele codes of one record, haplotypes 2s and 2s+1 for sample s."""
    try:
        a = rec.genotype.array()
    except Exception:  # cyvcf2's answer to a record without GT
        a = None
    fault, s = None, 0
    if a is None:
        fault = "missing (no GT field)"
    elif a.shape[1] != 3:
        fault = "non-diploid"
    else:
        first, second, phased = a[:, 0], a[:, 1], a[:, 2]
        bad = np.flatnonzero((first < 0) | (second < 0) | (phased == 0) | (first > 1) | (second > 1))
        if bad.size:
            s = bad[0]
            fault = ("missing" if first[s] < 0 else "haploid" if second[s] == -2 else "missing" if second[s] < 0
                     else "unphased" if phased[s] == 0 else "out-of-range allele in the")
    if fault is not None:
        raise InputError(f"{path}: {fault} genotype at {rec.CHROM}:{rec.POS} for sample {samples[s]}; the panel "
                         "needs a phased pair of alleles (such as 0|1) for every sample")
    return a[:, :2].astype(np.uint8).ravel()


def read_vcf_panel(path, contig, wanted, run_legend):
    """Panel rows at the positions `wanted`, from a phased VCF or BCF file as
    tarvik reads one: records that are not biallelic SNPs are skipped, and
    the first SNP at a position is kept. As in tarvik, only the kept SNPs
    at the run's positions are decoded and checked."""
    vcf = open_vcf(path)
    samples = vcf.samples
    if not samples:
        raise InputError(f"{path}: no samples: a panel needs the phased genotypes of at least one sample")
    row_of = {p: k for k, p in enumerate(wanted.tolist())}
    rows = np.empty((len(wanted), 2 * len(samples)), dtype=np.uint8)
    found = np.zeros(len(wanted), dtype=bool)
    for rec in contig_records(vcf, path, contig, int(wanted.min()), int(wanted.max())):
        k = row_of.get(rec.POS)
        if k is None or found[k] or not is_snp(rec):
            continue
        rows[k] = haplotype_codes(rec, path, samples)
        found[k] = True
    vcf.close()
    missing = np.flatnonzero(~found)
    if missing.size:
        raise not_in_panel(run_legend, int(wanted[missing[0]]), f"VCF {path}")
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
    row_of = None          # run SNP index -> row, when only some rows were read


def keep_plan(individuals, rng):
    if individuals <= KEEP_INDIVIDUALS:
        return None
    return np.sort(rng.choice(individuals, KEEP_INDIVIDUALS, replace=False))


def last_line(rows_wanted, when_none_wanted):
    """The last line to read: None for all of them."""
    if rows_wanted is None:
        return None
    return max(rows_wanted) + 1 if rows_wanted else when_none_wanted


def start_haps(s, codes, path, nrows, rng):
    """Sizes the Sample from line 1 of a .haps file; returns the columns of
    the kept individuals (None: all). No rng: keep everyone."""
    if codes.size % 2:
        raise InputError(f"{path}: line 1: {codes.size} haplotypes, not pairs of individuals")
    s.individuals = codes.size // 2
    chosen = keep_plan(s.individuals, rng) if rng is not None else None
    s.kept_individuals = np.arange(s.individuals) if chosen is None else chosen
    s.kept = np.empty((nrows, 2 * s.kept_individuals.size), dtype=np.uint8)
    s.allele1 = np.zeros(nrows, dtype=np.int64)
    s.het = np.zeros(nrows, dtype=np.int64)
    s.hom1 = np.zeros(nrows, dtype=np.int64)
    if chosen is None:
        return None
    return np.stack([2 * chosen, 2 * chosen + 1], axis=1).ravel()


def read_run_haps(path, nsnp, rng, rows_wanted=None):
    """All SNP lines of a .haps file, or only `rows_wanted` (row index list)."""
    s = Sample()
    s.path = path
    wanted = None if rows_wanted is None else {r: k for k, r in enumerate(rows_wanted)}
    # Line 1 is read even when no row is wanted: it gives the number of individuals.
    last = last_line(rows_wanted, 1)
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
            cols = start_haps(s, codes, path, nsnp if wanted is None else len(wanted),
                              rng if wanted is None else None)
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


def gen_genotypes(f, path, number):
    """Genotypes (allele-1 counts) of the probability triples of one .gen line."""
    body = f[5] if len(f) > 5 else b""
    codes = parse_codes(body, path, number) if body.strip() else np.zeros(0, np.uint8)
    if codes.size % 3:
        raise InputError(f"{path}: line {number}: genotype probabilities do not come in threes")
    trip = codes.reshape(-1, 3)
    if trip.size and not (trip.sum(axis=1) == 1).all():
        raise InputError(f"{path}: line {number}: a genotype is not one of '1 0 0', '0 1 0', '0 0 1'")
    return np.argmax(trip, axis=1).astype(np.uint8) if trip.size else np.zeros(0, np.uint8)


def read_run_gen(path, rng, rows_wanted=None):
    """A .gen file: its SNP positions and a Sample of genotypes."""
    s = Sample()
    s.haplotypes = False
    s.path = path
    positions, rows = [], []
    wanted = None if rows_wanted is None else set(rows_wanted)
    last = last_line(rows_wanted, 0)
    nind = None
    for number, line in lines_of(path, "genotype file"):
        if last is not None and number > last:
            break
        f = line.split(None, 5)
        if len(f) < 5:
            raise InputError(f"{path}: line {number}: expected 'snp rsid position allele0 allele1 probabilities...'")
        try:
            position = int(f[2])
        except ValueError:
            raise InputError(f"{path}: line {number}: position {shown(f[2])} is not an integer")
        if not -2**31 <= position < 2**31:
            raise InputError(f"{path}: line {number}: position {position} does not fit in 32 bits")
        positions.append(position)
        if wanted is not None and number - 1 not in wanted:
            continue
        g = gen_genotypes(f, path, number)
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


class Run:
    """The run's SNP positions, its controls and (for -dl) the disease-locus
    lines of its cases."""
    positions = None
    legend = ""            # the file that gave the positions
    controls = None
    cases = None


def read_controls(run, base, stem, rng, stage):
    ctrl_haps = existing(base, ".controls.haps")
    if ctrl_haps is not None:
        legend = base + ".legend"
        if not os.path.exists(legend):
            raise InputError(f"{ctrl_haps} exists but the run's legend {legend} does not")
        run.positions, _ = read_legend(legend, "run legend")
        run.legend = legend
        if run.positions.size == 0:
            raise InputError(f"the run's legend {legend} has no SNPs")
        stage(f"reading {ctrl_haps}")
        run.controls = read_run_haps(ctrl_haps, run.positions.size, rng)
    else:
        ctrl_gen = existing(base, ".controls.gen")
        if ctrl_gen is None:
            raise InputError(f"no tarvik output for stem {stem}: none of {base}.controls.haps(.gz), "
                             f"{base}.controls.gen(.gz) exists")
        stage(f"reading {ctrl_gen} (no haplotype files)")
        run.positions, run.controls = read_run_gen(ctrl_gen, rng)
        run.legend = ctrl_gen
    if run.controls.individuals == 0:
        raise InputError(f"{run.controls.path} holds no simulated controls")


def read_cases(run, base, loci, rng, stage):
    index = {p: i for i, p in enumerate(run.positions.tolist())}
    # Line 1 is read in any case: it gives the number of cases.
    rows = sorted({index[p] for p, *_ in loci if p in index} | {0})
    suffix = ".cases.haps" if run.controls.haplotypes else ".cases.gen"
    path = existing(base, suffix)
    if path is None:
        raise InputError(f"-dl needs the cases: {base}{suffix}(.gz) does not exist")
    stage(f"reading the disease-locus lines of {path}")
    if run.controls.haplotypes:
        run.cases = read_run_haps(path, run.positions.size, rng, rows_wanted=rows)
    else:
        _, run.cases = read_run_gen(path, rng, rows_wanted=rows)
    run.cases.row_of = {r: k for k, r in enumerate(rows)}


def read_run(stem, loci, rng, stage):
    """The run of output stem `stem` (a trailing .gz is dropped)."""
    base = stem[:-3] if stem.endswith(".gz") else stem
    run = Run()
    read_controls(run, base, stem, rng, stage)
    if loci:
        read_cases(run, base, loci, rng, stage)
    return run
