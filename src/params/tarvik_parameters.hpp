#pragma once
// The simulator's command line: input files, interval, sample sizes,
// population constants, disease loci and the output stem.
#include <string>
#include <vector>

#include "params/parameters.hpp"
#include "params/run_config.hpp"

// An input file and the flag that named it.
struct InputFileFlag {
  const char* flag;
  std::string name;
};

// The parser of the command line: the flags given, the help screen, the
// parameter summary, and the typed configuration they fill.
class TarvikParameters : public Parameters, public RunConfig {
 public:
  std::string command_line;

  TarvikParameters();
  TarvikParameters(const TarvikParameters&) = default;
  TarvikParameters& operator=(const TarvikParameters&) = default;

  void process_parameters(int argc, char** argv) override;
  void parameters_summary(std::ostream& out) const override;
  void parameters_help(std::ostream& out) const override;
  void reset_parameters() override;
  void specify_recognised_parameters();

  bool flag_given(const std::string& flag) const { return specified_flags.count(flag) != 0; }
  // The input files named so far (-h, -l, -m, -t, -vcf), also while the
  // command line is only partly read.
  std::vector<InputFileFlag> input_files() const;

 private:
  // The values of the flag at argv[i], when it is one of theirs.
  bool read_file_flag(const std::string& token, int i, int argc, char** argv);
  bool read_model_flag(const std::string& token, int i, int argc, char** argv);
  void read_disease_loci(int i, int argc, char** argv);
  // What the flags must satisfy together, once all are read.
  void check_flag_combinations();
  void check_pedigree_flags();
  // The typed members that record which flags were given.
  void record_switches();
  // Creates the output directory when it is missing.
  void prepare_output_directory();

  // The polygenic trait's flags (trait_parameters.cpp). read_trait_flag
  // returns how many values it read, -1 for any other flag.
  void recognise_trait_flags();
  int read_trait_flag(const std::string& token, int i, int argc, char** argv);
  void check_trait_flags();
  void check_ascertain_flags(bool causal);
  void trait_input_files(std::vector<InputFileFlag>& inputs) const;
  void trait_help(std::ostream& out) const;
  void trait_summary(std::ostream& out) const;
  // The parts of parameters_summary before the trait's lines, in order.
  void files_summary(std::ostream& out) const;
  void model_summary(std::ostream& out) const;
};
