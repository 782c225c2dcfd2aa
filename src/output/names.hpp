#pragma once
// The names of a run's output files and of its individuals: every output
// name and every sample identifier comes from here.
#include <cstddef>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "data/pedigree.hpp"
#include "io/text_buffer.hpp"
#include "params/run_config.hpp"

// The nine files of a run; index 0 is the control group, 1 the case group.
// A pedigree run writes one group (index 0) of all individuals: <stem>.haps,
// <stem>.gen, <stem>.tags.gen, <stem>.sample.
struct OutputFileNames {
  int groups = 2;
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
// With -keep the files hold only the individuals listed, each under its own
// identity: the configuration the writers read has ncontrols and ncases
// counting the individuals written, and keep mapping each one's position in
// the files to its index in the run. Without -keep both are the run's own.
RunConfig written_individuals(const RunConfig& run);
// The index in the run of the individual at `position` in the files.
inline std::size_t individual_id(const RunConfig& written, std::size_t position) {
  return written.keep.empty() ? position : written.keep[position];
}

// "id1_<i>".
void append_sample_name(TextBuffer& out, std::size_t individual);
// "0 id1_<i>": the FID and IID columns.
void append_family_ids(TextBuffer& out, std::size_t individual);
// The same with another separator ('\t' in the tab-separated trait files).
void append_family_ids(TextBuffer& out, std::size_t individual, char separator);
// "id1_<i> id2_<i>": the .sample files' ID_1 and ID_2.
void append_sample_ids(TextBuffer& out, std::size_t individual);

// Who each individual of the output is: the scheme above, or in a pedigree
// run the pedigree's family and individual, parents and sex.
class Samples {
 public:
  // `written` names the individuals written (see written_individuals).
  Samples(const Pedigree* pedigree, const RunConfig& written)
      : families(pedigree != nullptr && !pedigree->members.empty() ? pedigree : nullptr), kept(written.keep) {}
  bool from_pedigree() const { return families != nullptr; }
  // The VCF and BCF sample name: "id1_<i>", or "<FID>_<IID>" (plink2 reads
  // it with --id-delim _, PLINK 1.9 as it is).
  std::string vcf_name(std::size_t i) const;
  // "0 id1_<i>", or "<FID> <IID>".
  void append_family_ids(TextBuffer& out, std::size_t i) const;
  // The .fam's "PAT MAT SEX": "0 0 0", or the pedigree's.
  void append_parents_and_sex(TextBuffer& out, std::size_t i) const;
  // The Oxford .sample's ID_1 and ID_2: "id1_<i> id2_<i>", or "<FID> <IID>".
  void append_oxford_ids(TextBuffer& out, std::size_t i) const;

 private:
  std::size_t id(std::size_t i) const { return kept.empty() ? i : kept[i]; }
  const Pedigree* families;
  std::vector<std::size_t> kept;
};
