#pragma once
// The VCF files of a run: <stem>.vcf.gz (BGZF) with its .tbi index and
// <stem>.bcf with its .csi index, written through htslib, and beside them
// <stem>.pheno, the phenotypes in PLINK's form.
#include <map>
#include <sstream>

#include "data/data.hpp"
#include "output/names.hpp"
#include "params/run_config.hpp"
#include "store/haplotype_source.hpp"

class RunLog;
class ThreadBudget;

// Writes the files that -output_vcf and -output_bcf ask for, both from one
// decode of each block of the source (haplotypes of the run, controls first,
// two per individual, at the SNPs of `snps` in order). REF is allele0, ALT
// allele1; each individual is one sample "id1_<i>" with the phased genotype
// of its two haplotypes. Files are announced in `log`. Throws
// RunError, before any file is opened, when a SNP position
// cannot be written (below 1), and FileError when a file cannot be
// opened or written; a file that fails is never left under its final name.
// Blocks of SNPs (fixed by the run's size) are decoded into bits and
// formatted on the threads `budget` can spare (none when null), and written
// in order by the calling thread, so the bytes never depend on the threads.
void write_vcf_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                     const Samples& samples, RunLog& log, ThreadBudget* budget = nullptr);
