#pragma once
// The PLINK 1 binary file set of a run: <stem>.bed, <stem>.bim and
// <stem>.fam, every individual of the run in one set, controls first.
#include <map>
#include <sstream>

#include "data/data.hpp"
#include "output/names.hpp"
#include "params/run_config.hpp"
#include "store/haplotype_source.hpp"

class RunLog;
class ThreadBudget;

// The source holds the run's haplotypes, controls first, two per individual,
// at the SNPs of `snps` in order. The .bim file's allele 1 (A1, the allele
// PLINK counts) is the legend's allele1, as in the .gen files; its map
// column is `map`'s, in centimorgans. Files are announced in `log`; throws
// FileError when one cannot be opened or written. Blocks of SNPs are decoded
// into bits and formatted on the threads `budget` can spare (none when null);
// the blocks are fixed by the run's size, so the bytes are the same for any
// thread count.
void write_plink_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                       const GeneticMap& map, const Samples& samples, RunLog& log,
                       ThreadBudget* budget = nullptr);

// The .fam alone, for a pedigree run written as VCF or BCF only: a VCF has
// no place for families, parents and sex.
void write_fam_file(std::size_t individuals, const RunConfig& params, const Samples& samples, RunLog& log);
