#pragma once
// The reference panel read from a phased VCF or BCF file (plain text,
// gzip or BGZF text, or BCF, through htslib) instead of haplotype and
// legend files.
#include "data/data.hpp"

class ThreadBudget;

class RunLog;
struct RunConfig;

// Fills the panel of `data` from config.vcf_file, through start_panel,
// add_panel_snp and finish_panel as every panel reader does; the genetic map
// must have been read. Sample s gives haplotypes 2s and 2s + 1, in the order
// of its genotype; a record becomes a SNP (rsid the ID, allele0 REF, allele1
// ALT) when it is a biallelic SNP, and records of other kinds are counted
// and skipped. One contig is read: the one named by -chr, else the file
// must hold only one. With -int and an index beside a BGZF or BCF file,
// only the interval is read. Logs as the haplotype reader does. Throws
// FileError naming the file when it cannot be read, holds no samples,
// several contigs and no -chr, not the contig of -chr, no SNP in the
// interval, or a missing or unphased genotype in a SNP it keeps.
// With a thread of `budget` to spare (none when null), blocks of records are
// read and their genotypes packed on it ahead of the calling thread, which
// adds them to the panel; threads beyond that decompress BGZF and BCF data
// on htslib's own. The panel, and the first error in file order, are the
// same for every budget.
void read_vcf_panel(Data& data, const RunConfig& config, RunLog& log, ThreadBudget* budget = nullptr);
