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

// Whether the configuration asks for any file of genotypes (haplotype,
// genotype, tag-SNP, PLINK, VCF or BCF); a run that asks for none writes its
// sample files alone.
bool writes_genotypes(const RunConfig& params);

// The files write_output_files writes for a run of `haplotypes` haplotypes
// that asks for no genotypes (its sample files), for a run that never stored
// its haplotypes. Its individuals are the run's own (no pedigree).
void write_sample_only_files(std::size_t haplotypes, const RunConfig& params, RunLog& log);
