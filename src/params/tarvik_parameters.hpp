#pragma once
// The simulator's parameter set: input files, interval, sample sizes,
// population constants, disease loci and the output stem.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "params/parameters.hpp"

class DiseaseLocus {
 public:
  int disease_allele;
  double rr1;
  double rr2;
  // Relative risk indexed by the number of allele-1 codes in a genotype.
  std::vector<double> rr;

  DiseaseLocus();
  DiseaseLocus(const int& allele, const double& het_risk, const double& hom_risk);
};

class TarvikParameters : public Parameters {
 public:
  std::string command_line;
  boost::filesystem::path haplotype_file;
  std::string legend_file;
  std::int32_t lower;
  std::string genetic_map_file;
  std::int32_t ncontrols;
  std::int32_t ncases;
  double Ne;
  boost::filesystem::path output_directory;
  boost::filesystem::path output_file;
  boost::filesystem::path tag_snps_file;
  double theta;
  std::uint32_t seed_word;  // -seed
  std::int32_t upper;
  std::map<double, DiseaseLocus> dl;
  // The chromosome of the PLINK and VCF files, and the contig read from a
  // VCF panel (-chr).
  std::string chromosome;
  // A phased VCF or BCF panel, read instead of the haplotype and legend files (-vcf).
  boost::filesystem::path vcf_file;
  // Threads that work for the run (-threads; by default the machine's cores,
  // at most 16). The files written are the same for every count.
  int threads;
  // Compression level of the .gz output files (-gz_level, 1 to 9).
  int gz_level;

  TarvikParameters();
  TarvikParameters(const TarvikParameters&) = default;
  TarvikParameters& operator=(const TarvikParameters&) = default;

  void process_parameters(int argc, char** argv) override;
  void parameters_summary(std::ostream& out) const override;
  void parameters_help(std::ostream& out) const override;
  void reset_parameters() override;
  void specify_recognised_parameters();

  bool flag_given(const std::string& flag) const { return specified_flags.count(flag) != 0; }

 private:
  // The values of the flag at argv[i], when it is one of theirs.
  bool read_file_flag(const std::string& token, int i, int argc, char** argv);
  bool read_model_flag(const std::string& token, int i, int argc, char** argv);
  void read_disease_loci(int i, int argc, char** argv);
  // What the flags must satisfy together, once all are read.
  void check_flag_combinations();
  // Creates the output directory when it is missing.
  void prepare_output_directory();
};
