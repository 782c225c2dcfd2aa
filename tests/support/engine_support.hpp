#pragma once
// Puts hand-made haplotype rows into an engine as if it had simulated them: each row becomes a copy of panel
// haplotype 0 with mutations wherever the two differ, which gives exactly the row's alleles, disease columns
// included.
#include <algorithm>
#include <vector>

#include "sim/generator.hpp"

namespace testing_support {

// The engine's disease SNPs as a store keeps them: ascending, each once.
inline std::vector<int> stored_disease_snps(const TarvikGenerator& g) {
  std::vector<int> snps(g.dl_indices);
  std::sort(snps.begin(), snps.end());
  snps.erase(std::unique(snps.begin(), snps.end()), snps.end());
  return snps;
}

inline void add_simulated(TarvikGenerator& g, const std::vector<short>& row) {
  const std::size_t nsnps = g.panel_data.snps_data.size();
  if (g.simulated.snps() != nsnps || g.simulated.disease_snps() != stored_disease_snps(g))
    g.simulated = MosaicStore(static_cast<std::size_t>(g.panel_data.nhaplotypes), nsnps, stored_disease_snps(g));
  std::vector<int> mutations;
  for (std::size_t j = 0; j < nsnps; ++j)
    if (row[j] != g.panel_data.panel.get(j, 0)) mutations.push_back(static_cast<int>(j));
  g.simulated.add({{0, 0}}, mutations, false, nullptr, g.panel_data.panel);
}

inline void set_simulated(TarvikGenerator& g, const std::vector<std::vector<short>>& rows) {
  g.simulated = MosaicStore(static_cast<std::size_t>(g.panel_data.nhaplotypes),
                            g.panel_data.snps_data.size(), stored_disease_snps(g));
  for (const std::vector<short>& row : rows) add_simulated(g, row);
}

}  // namespace testing_support
