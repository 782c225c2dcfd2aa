// Reads a genetic map and a reference panel the way a run does, and nothing
// else, so that the time of the input readers can be measured on its own.
//
//   read_panel <haplotype file> <legend file> <map file> [lower upper]
#include <cstdlib>
#include <iostream>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "data/data.hpp"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::cerr << "usage: read_panel <haplotype file> <legend file> <map file> [lower upper]\n";
    return 2;
  }
  Data data;
  data.lower = 0;
  data.upper = 2147483647;
  if (argc == 6) {
    data.lower = std::atoi(argv[4]);
    data.upper = std::atoi(argv[5]);
  }
  RunLog log = RunLog::silent();
  try {
    data.map = read_genetic_map(argv[3], 11418, log);
    read_haplotype_data(data, argv[1], argv[2], log);
  } catch (const FileError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::cerr << "haplotypes " << data.nhaplotypes << ", SNPs kept " << data.snps_data.size() << ", map rows "
            << data.map.position.size() << "\n";
  return 0;
}
