#pragma once
// The inputs of a polygenic trait: the causal-SNP file (-causal) and, for the
// genome-wide step (-combine), the genetic-value and causal-SNP tables that
// earlier runs wrote.
#include <cstdint>
#include <string>
#include <vector>

// One line of a causal-SNP file: "position effect", the effect per copy of
// the legend's allele 1.
struct CausalEffect {
  std::int32_t position = 0;
  double effect = 0.0;
  long line = 0;  // in the file, for messages
};

// A causal SNP as the run used it: a row of <stem>.causal.tsv. The effect
// allele is always allele1.
struct CausalSnp {
  std::string chromosome, rsid, allele0, allele1;
  std::int32_t position = 0;
  double panel_frequency = 0.0;   // of allele1 in the panel
  double sample_frequency = 0.0;  // of allele1 among the simulated haplotypes
  double effect = 0.0;
  double variance = 0.0;  // 2 q (1 - q) effect^2, q the sample frequency
};

// Reads a causal-SNP file (plain or gzip): blank lines are skipped, every
// other line holds a position (a 32-bit integer) and a finite effect. Throws
// FileError naming the file and line of the first fault, a position given
// twice included.
std::vector<CausalEffect> read_causal_file(const std::string& file);

// A .gv file: its individuals (FID, IID) and their genetic values, in order.
struct GeneticValues {
  std::vector<std::string> family, individual;
  std::vector<double> value;
};

// Reads a .gv file: the header "FID IID GV", then one line per individual
// with three tab- or blank-separated fields. Throws FileError naming the file
// and line of the first fault.
GeneticValues read_genetic_values(const std::string& file);

// The names listed in a file, one a line (blank lines skipped, surrounding
// blanks trimmed). Throws FileError when it cannot be read or lists nothing.
std::vector<std::string> read_name_list(const std::string& file);

// The lines of a text file after its first (the header), which must equal
// `header`. Throws FileError naming the file otherwise.
std::vector<std::string> read_table_rows(const std::string& file, const std::string& header);
