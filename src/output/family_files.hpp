#pragma once
// The truth of a pedigree run: which parent's haplotype each stretch of a
// child's haplotype was copied from.
#include <map>

#include "core/log.hpp"
#include "data/data.hpp"
#include "data/pedigree.hpp"
#include "params/run_config.hpp"
#include "store/mosaic.hpp"

// <stem>.transmission.tsv, tab-separated with a header: for each child (in
// the pedigree's order), its haplotype from the father (0) then from the
// mother (1), each as inherited segments: first and last position, the
// parent, and which of the parent's two haplotypes (0 or 1, their order in
// the VCF's genotypes). `store` holds the run's haplotypes in the pedigree's
// simulation order.
void write_transmission_file(const MosaicStore& store, const Pedigree& pedigree, const std::map<int, snp>& snps,
                             const RunConfig& params, RunLog& log);
