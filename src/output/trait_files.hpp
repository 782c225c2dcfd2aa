#pragma once
// The files of a polygenic trait, in the identity scheme of every file for
// association software: <stem>.gv (genetic values), <stem>.causal.tsv (the
// causal SNPs) and <stem>.pheno (one column per replicate).
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "data/trait_inputs.hpp"

class RunLog;

// The header line of a .causal.tsv file (without its line feed).
extern const char* const causal_header;

// The rows of a trait file: the run's own individuals ("0 id1_<i>") when
// both lists are empty, else these (read back from .gv files).
struct TraitIdentities {
  std::vector<std::string> family, individual;
};

// "FID IID GV" and one tab-separated row per individual, full precision.
void write_genetic_value_file(const boost::filesystem::path& file, const std::vector<double>& value,
                              const TraitIdentities& ids, RunLog& log);

// causal_header, then one row per SNP.
void write_causal_file(const boost::filesystem::path& file, const std::vector<CausalSnp>& snps, RunLog& log);
// causal_header, then the given rows as they are (the rows of several runs).
void write_causal_rows(const boost::filesystem::path& file, const std::vector<std::string>& rows, RunLog& log);

// "FID IID PHENO1 .. PHENO<r>" and a row per individual, blank-separated:
// values in full precision, or for a binary trait (1 case, 0 control) 2/1 as
// PLINK reads them, 1/0 when `zero_one`.
void write_pheno_columns(const boost::filesystem::path& file, const std::vector<std::vector<double>>& columns,
                         bool binary, bool zero_one, const TraitIdentities& ids, RunLog& log);
