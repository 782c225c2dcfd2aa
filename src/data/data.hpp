#pragma once
// The reference data of a run: the genetic map and the panel SNPs of the
// interval, each placed on the population-scaled genetic map.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "data/bit_matrix.hpp"
#include "params/tarvik_parameters.hpp"

struct snp {
  std::string rsid;
  double cumulative_rho = 0.0;
  std::string allele0;
  std::string allele1;
  double frequency = 0.0;  // mean of the codes: the panel frequency of allele1
};

class Data : public TarvikParameters {
 public:
  std::vector<double> map_positions;
  std::vector<double> map_cumulative_rho;
  int nhaplotypes = -1;
  std::map<int, snp> snps_data;  // keyed by base-pair position, ascending
  // The panel's alleles: row k holds the nhaplotypes codes of the k-th SNP
  // of snps_data.
  BitMatrix panel;

  // Reads genetic_map_file; must run before read_haplotype_data().
  void read_genetic_map();
  // Reads the map, then the panel with read_panel (which places its SNPs
  // with map_position). With several threads the map is read while the
  // panel is, the SNPs are placed once both are in, and the two report, and
  // fail, as they would one after the other.
  void read_map_and_panel(const std::function<void()>& read_panel);
  // Where a panel reader places the SNP at `position` on the map.
  double map_position(std::int32_t position) const {
    return map_read_alongside ? 0.0 : interpolate_map(static_cast<double>(position));
  }
  // Reads haplotype_file and legend_file, keeping the SNPs in [lower, upper].
  void read_haplotype_data();
  // The population-scaled map position at base-pair position x.
  double interpolate_map(double x) const;

  // How every panel reader fills the panel: start_panel once the number of
  // haplotypes is known, add_panel_snp for each SNP in file order (it keeps
  // the first SNP at each position of [lower, upper]; codes holds
  // nhaplotypes codes 0 or 1; readers place the SNP with interpolate_map),
  // finish_panel at the end.
  void start_panel(int haplotypes);
  void add_panel_snp(std::int32_t position, std::string rsid, std::string allele0,
                     std::string allele1, double cumulative_rho, const int* codes);
  void finish_panel();

  // The closing lines of a panel reader: counts, warnings about unequal
  // files, and the error of an empty interval. `lines` SNPs were read.
  void report_panel(int lines, bool more_haplotype_lines, bool more_legend_lines);

 private:
  bool map_read_alongside = false;  // the panel's SNPs are placed once the map is in

  // The haplotype count of a line of the haplotype file: the first starts
  // the panel, every other must equal it.
  void take_haplotype_count(int count, int line);

  std::vector<std::int32_t> arrival;  // positions of the panel rows, in the order added
};
