#pragma once
// The reference data of a run: the genetic map and the panel SNPs of the
// interval, each placed on the population-scaled genetic map.
#include <map>
#include <string>
#include <vector>

#include "params/tarvik_parameters.hpp"

struct snp {
  std::string rsid;
  double cumulative_rho = 0.0;
  std::vector<int> haplotypes;  // allele code of every panel haplotype
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

  // Reads genetic_map_file; must run before read_haplotype_data().
  void read_genetic_map();
  // Reads haplotype_file and legend_file, keeping the SNPs in [lower, upper].
  void read_haplotype_data();
  // The population-scaled map position at base-pair position x.
  double interpolate_map(double x) const;
};
