#include <ios>
#include <map>

#include "params/errors.hpp"
#include "params/summary.hpp"
#include "sim/generator.hpp"

void TarvikGenerator::process_dl() {
  std::ostringstream log;
  log << "\nProcessing disease loci ... ";
  update_summary_file(params, log, std::ios_base::app);

  dl_indices.clear();
  // Loci are matched by exact position: a locus must sit on a panel SNP.
  std::map<double, int> index_of_position;
  int index = 0;
  for (const auto& entry : panel_data.snps_data) {
    index_of_position[static_cast<double>(entry.first)] = index++;
  }

  for (auto it = params.dl.begin(); it != params.dl.end();) {
    const double position = it->first;
    const auto found = index_of_position.find(position);
    if (found == index_of_position.end()) {
      log << "\ncannot find snp information for position " << position
          << ", so it has been removed from the set of disease loci.\n";
      update_summary_file(params, log, std::ios_base::app);
      it = params.dl.erase(it);
      continue;
    }
    const double frequency = panel_data.snps_data.at(static_cast<int>(position)).frequency;
    if (frequency == 0.0 || frequency == 1.0) {
      // A monomorphic SNP cannot carry a risk allele that varies among cases.
      log << "\nsnp at position " << position << " has frequency " << frequency
          << ", so it has been removed from the set of disease loci.\n";
      it = params.dl.erase(it);
      continue;
    }
    dl_indices.push_back(found->second);
    ++it;
  }

  log << "done \n\n";
  update_summary_file(params, log, std::ios_base::app);

  if (params.dl.empty()) {
    log << "No suitable disease loci. Program terminated.\n";
    update_summary_file(params, log, std::ios_base::app);
    throw RunTerminated();
  }
}
