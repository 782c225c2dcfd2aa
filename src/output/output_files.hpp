#pragma once
// The output file set of a run: haplotype, legend, genotype, tag-SNP genotype
// and sample files for controls and cases, written from a HaplotypeSource.
#include <map>
#include <set>

#include "data/data.hpp"
#include "params/run_config.hpp"
#include "store/haplotype_source.hpp"

class RunLog;
class ThreadBudget;

// Writes every file the configuration asks for, announcing each in `log`.
// The source holds the run's haplotypes, controls first (2 per individual),
// at the SNPs of `snps` in order; `map` places them for the .bim file;
// `tags` are the positions of the tag file (-t); `pedigree`, when not null,
// names the individuals (a pedigree run). The
// text files are formatted on the threads `budget` can spare (none when
// null). Throws RunError, before any file is written, when the source's
// haplotype count does not match the configuration; FileError when a file
// cannot be opened or written.
void write_output_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                        const GeneticMap& map, const std::set<int>& tags, const Pedigree* pedigree, RunLog& log,
                        ThreadBudget* budget = nullptr);
