// Reads a genetic map and a reference panel the way a run does, and nothing
// else, so that the time of the input readers can be measured on its own.
//
//   read_panel <haplotype file> <legend file> <map file> [lower upper]
//   read_panel -vcf <VCF or BCF file> <map file> <threads>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/thread_budget.hpp"
#include "data/data.hpp"
#include "data/vcf_reader.hpp"
#include "params/run_config.hpp"

int main(int argc, char** argv) {
  const bool vcf = argc == 5 && std::string(argv[1]) == "-vcf";
  if (argc != 4 && argc != 6 && !vcf) {
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
    if (vcf) {
      RunConfig config;
      config.vcf_file = argv[2];
      config.vcf_panel = true;
      data.map = read_genetic_map(argv[3], 11418, log);
      ThreadBudget budget(std::atoi(argv[4]));
      read_vcf_panel(data, config, log, &budget);
    } else {
      data.map = read_genetic_map(argv[3], 11418, log);
      read_haplotype_data(data, argv[1], argv[2], log);
    }
  } catch (const FileError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::cerr << "haplotypes " << data.nhaplotypes << ", SNPs kept " << data.snps_data.size() << ", map rows "
            << data.map.position.size() << "\n";
  return 0;
}
