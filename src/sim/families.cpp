// Children of a pedigree: each haplotype a meiosis of a parent's two,
// stored as segments whose sources are the parent's haplotypes.
#include <sstream>

#include "core/log.hpp"
#include "core/progress.hpp"
#include "sim/generator.hpp"
#include "sim/meiosis.hpp"

void TarvikGenerator::simulate_children() {
  const Pedigree& pedigree = panel_data.pedigree;
  const std::size_t members = pedigree.members.size();
  // Where each member is stored: its place in the simulation order.
  std::vector<std::uint32_t> slot(members);
  for (std::size_t k = 0; k < members; ++k) slot[pedigree.simulation_order[k]] = static_cast<std::uint32_t>(k);
  std::vector<double> cm;
  cm.reserve(panel_data.snps_data.size());
  for (const auto& entry : panel_data.snps_data) cm.push_back(panel_data.map.cm_at(static_cast<double>(entry.first)));

  const std::int32_t n = panel_data.nhaplotypes;
  MeiosisDraws draws(seed_word);
  std::vector<Segment> segments;
  std::vector<int> mutations;
  Progress progress("Simulating", "children");
  const std::size_t founders = static_cast<std::size_t>(pedigree.founders);
  for (std::size_t k = founders; k < members; ++k) {
    progress.update(static_cast<long>(k - founders), static_cast<long>(members - founders));
    const PedigreeMember& child = pedigree.members[pedigree.simulation_order[k]];
    // The father's haplotype first, then the mother's.
    for (const int parent : {child.father, child.mother}) {
      meiosis(cm, n + 2 * static_cast<std::int32_t>(slot[parent]), params.denovo, draws, segments, mutations);
      simulated.add(segments, mutations, false, nullptr, panel_data.panel);
    }
    simulated_phenotypes.push_back(0);
  }
  num_simulated_haps = static_cast<int>(2 * members);

  output_order.clear();
  bool same = true;
  for (std::size_t i = 0; i < members; ++i) same &= slot[i] == i;
  if (same) return;
  output_order.resize(2 * members);
  for (std::size_t i = 0; i < members; ++i)
    for (std::uint32_t k = 0; k < 2; ++k) output_order[2 * i + k] = 2 * slot[i] + k;
}
