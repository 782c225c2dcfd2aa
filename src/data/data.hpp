#pragma once
// The reference data of a run: the genetic map and the panel SNPs of the
// interval, each placed on the population-scaled genetic map.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "data/bit_matrix.hpp"
#include "data/genetic_map.hpp"
#include "data/pedigree.hpp"

class RunLog;
class ThreadBudget;
struct RunConfig;

struct snp {
  std::string rsid;
  double cumulative_rho = 0.0;
  std::string allele0;
  std::string allele1;
  double frequency = 0.0;  // mean of the codes: the panel frequency of allele1
};

class Data {
 public:
  // The interval whose SNPs the panel keeps, both ends included.
  std::int32_t lower = 0;
  std::int32_t upper = INT32_MAX;
  GeneticMap map;
  int nhaplotypes = -1;
  std::map<int, snp> snps_data;  // keyed by base-pair position, ascending
  // The panel's alleles: row k holds the nhaplotypes codes of the k-th SNP
  // of snps_data.
  BitMatrix panel;
  // The positions of the tag file (-t), read before the panel.
  std::set<int> tag_positions;
  // The families of -pedigree, read before the panel; empty without one.
  Pedigree pedigree;

  // Where a panel reader places the SNP at `position`: on the map, or at 0
  // while the map is still being read beside the panel (place_snps places
  // every SNP once it is in).
  double map_position(std::int32_t position) const {
    return map.position.empty() ? 0.0 : map.rho_at(static_cast<double>(position));
  }
  void place_snps();

  // How every panel reader fills the panel: start_panel once the number of
  // haplotypes is known, add_panel_snp for each SNP in file order (it keeps
  // the first SNP at each position of [lower, upper]; codes holds
  // nhaplotypes codes 0 or 1; readers place the SNP with map_position),
  // finish_panel at the end.
  void start_panel(int haplotypes);
  void add_panel_snp(std::int32_t position, std::string rsid, std::string allele0,
                     std::string allele1, double cumulative_rho, const int* codes);
  // The same for a row already packed: haplotype c at bit c % 64 of word
  // c / 64, `ones` of them 1.
  void add_panel_bits(std::int32_t position, std::string rsid, std::string allele0, std::string allele1,
                      double cumulative_rho, const std::uint64_t* bits, long long ones);
  void finish_panel();

 private:
  // Records a SNP whose panel row was just added (`ones` haplotypes carry
  // allele 1) at `slot`, its place in snps_data.
  void keep_snp(std::map<int, snp>::iterator slot, std::int32_t position, std::string rsid, std::string allele0,
                std::string allele1, double cumulative_rho, long long ones);
  std::vector<std::int32_t> arrival;  // positions of the panel rows, in the order added
};

// Reads a haplotype file and its legend into `data` (whose map is read),
// keeping the SNPs of [data.lower, data.upper]. Logs what it read; throws
// FileError naming the file and line of the first fault.
void read_haplotype_data(Data& data, const std::string& haplotype_file, const std::string& legend_file,
                         RunLog& log, ThreadBudget* budget = nullptr);

// The map and the panel (a VCF or BCF file, or haplotype and legend files)
// that the configuration names, for its interval. With threads to spare the
// map is read beside the panel; what is logged, and the error thrown when
// both fail (the map's), are those of reading one after the other.
Data read_reference(const RunConfig& config, RunLog& log, ThreadBudget& budget);
