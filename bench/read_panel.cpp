// Reads a genetic map and a reference panel the way a run does, and nothing
// else, so that the time of the input readers can be measured on its own.
//
//   read_panel <haplotype file> <legend file> <map file> [lower upper]
#include <cstdlib>
#include <iostream>

#include "data/data.hpp"
#include "params/errors.hpp"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::cerr << "usage: read_panel <haplotype file> <legend file> <map file> [lower upper]\n";
    return 2;
  }
  Data data;
  data.haplotype_file = argv[1];
  data.legend_file = argv[2];
  data.genetic_map_file = argv[3];
  data.lower = 0;
  data.upper = 2147483647;
  if (argc == 6) {
    data.lower = std::atoi(argv[4]);
    data.upper = std::atoi(argv[5]);
  }
  data.summary_file = "/dev/null";
  try {
    data.read_genetic_map();
    data.read_haplotype_data();
  } catch (const badfilename& e) {
    std::cerr << e.message << "\n";
    return 1;
  }
  // On stderr, so that the summary text on stdout can be discarded.
  std::cerr << "haplotypes " << data.nhaplotypes << ", SNPs kept " << data.snps_data.size()
            << ", map rows " << data.map_positions.size() << "\n";
  return 0;
}
