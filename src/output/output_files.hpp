#pragma once
// The output file set of a run: haplotype, legend, genotype, tag-SNP genotype
// and sample files for controls and cases, written from a HaplotypeSource.
#include <map>

#include "data/data.hpp"
#include "data/tag_positions.hpp"
#include "output/file_names.hpp"
#include "params/tarvik_parameters.hpp"
#include "store/haplotype_source.hpp"

// Writes every file the parameters ask for. The source holds the run's
// haplotypes, controls first (2 per individual), at the SNPs of `snps` in
// order. Throws GenericErrorException, before any file is written, when the
// source's haplotype count does not match the parameters; badfilename when a
// file cannot be opened or written.
void write_output_files(const HaplotypeSource& source, const std::map<int, snp>& snps,
                        const TarvikParameters& params);
