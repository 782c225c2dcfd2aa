#include <ios>
#include <map>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "sim/generator.hpp"

void TarvikGenerator::process_dl() {
  std::ostringstream text;
  text << "\nProcessing disease loci ... ";
  log.report(text);

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
      text << "\ncannot find snp information for position " << position
          << ", so it has been removed from the set of disease loci.\n";
      log.report(text);
      it = params.dl.erase(it);
      continue;
    }
    const double frequency = panel_data.snps_data.at(static_cast<int>(position)).frequency;
    if (frequency == 0.0 || frequency == 1.0) {
      // A monomorphic SNP cannot carry a risk allele that varies among cases.
      text << "\nsnp at position " << position << " has frequency " << frequency
          << ", so it has been removed from the set of disease loci.\n";
      it = params.dl.erase(it);
      continue;
    }
    dl_indices.push_back(found->second);
    ++it;
  }

  text << "done \n\n";
  log.report(text);

  // A trait run simulates a population sample, which needs no disease locus.
  if (params.dl.empty() && !params.trait.simulated()) {
    text << "No suitable disease loci. Program terminated.\n";
    log.report(text);
    throw RunTerminated();
  }
}
