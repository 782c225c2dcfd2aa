#pragma once
// The names of a run's output files and of its individuals: every output
// name and every sample identifier comes from here.
#include <cstddef>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "io/text_buffer.hpp"
#include "params/run_config.hpp"

// The nine files of a run; index 0 is the control group, 1 the case group.
struct OutputFileNames {
  boost::filesystem::path haps[2];
  boost::filesystem::path legend;
  boost::filesystem::path gen[2];
  boost::filesystem::path tags[2];
  boost::filesystem::path sample[2];
};

// Plain mode appends each suffix to output_file. Gzip mode (output_file ends
// in exactly ".gz") puts stem + suffix in output_directory and adds ".gz" to
// the haplotype, genotype and tag-SNP genotype files, so that only these are
// compressed: out/run.gz gives out/run.controls.haps.gz and out/run.legend.
OutputFileNames output_file_names(const RunConfig& config);

// <stem><suffix> of the files for association software (.bed, .bim, .fam,
// .pheno, .vcf.gz, .bcf and their indices). These carry their own
// compression (or none), so in gzip mode they are named after the stem
// without ".gz", beside the other files of the set: out/run.gz gives
// out/run.bed and out/run.vcf.gz.
boost::filesystem::path gwas_file_name(const RunConfig& config, const std::string& suffix);

// The suffixes of a trait's files (named with gwas_file_name): phenotypes,
// causal SNPs, genetic values; and the association report's table.
extern const char* const pheno_suffix;
extern const char* const causal_suffix;
extern const char* const genetic_value_suffix;
extern const char* const assoc_suffix;

// Every name a run with this stem may write: the files of both the plain
// and the gzip naming (for "out/run" and "out/run.gz"), sorted, then the
// summary file.
std::vector<boost::filesystem::path> possible_output_names(const RunConfig& config,
                                                           const std::string& summary_file);

// Individual i of a run (controls first) is "id1_<i>": the VCF and BCF
// sample name, and the IID of every file read by association software
// (.fam, .pheno and the trait files), whose FID is "0". plink2 gives a VCF
// sample no family (FID 0) and --pca writes the .fam's FID, so .fam, .pheno,
// covariates and VCF samples match in plink2 without renaming; PLINK 1.9
// reads the VCF the same way with --const-fid 0. The Oxford .sample files
// give it a second identifier, "id2_<i>".
std::string sample_name(std::size_t individual);
// "id1_<i>".
void append_sample_name(TextBuffer& out, std::size_t individual);
// "0 id1_<i>": the FID and IID columns.
void append_family_ids(TextBuffer& out, std::size_t individual);
// The same with another separator ('\t' in the tab-separated trait files).
void append_family_ids(TextBuffer& out, std::size_t individual, char separator);
// "id1_<i> id2_<i>": the .sample files' ID_1 and ID_2.
void append_sample_ids(TextBuffer& out, std::size_t individual);
