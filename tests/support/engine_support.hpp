#pragma once
// Small hand-made panels, and hand-made haplotype rows put into an engine as if it had simulated them: each
// row becomes a copy of panel haplotype 0 with mutations wherever the two differ, which gives exactly the
// row's alleles, disease columns included.
#include <algorithm>
#include <vector>

#include "sim/draws.hpp"
#include "sim/generator.hpp"
#include "sim/segments.hpp"

namespace testing_support {

// SNP j at position 10 (j + 1), map position rho[j] (default 0), codes[j] per panel haplotype.
inline Data make_panel(const std::vector<std::vector<int>>& codes, const std::vector<double>& rho = {}) {
  Data data;
  data.start_panel(static_cast<int>(codes[0].size()));
  for (std::size_t j = 0; j < codes.size(); ++j)
    data.add_panel_snp(static_cast<int>(10 * (j + 1)), "", "", "", rho.empty() ? 0.0 : rho[j],
                       codes[j].data());
  data.finish_panel();
  return data;
}

// The engine's disease SNPs as a store keeps them: ascending, each once.
inline std::vector<int> stored_disease_snps(const TarvikGenerator& g) {
  std::vector<int> snps(g.dl_indices);
  std::sort(snps.begin(), snps.end());
  snps.erase(std::unique(snps.begin(), snps.end()), snps.end());
  return snps;
}

inline void set_simulated(TarvikGenerator& g, const std::vector<std::vector<short>>& rows) {
  const std::size_t nsnps = g.panel_data.snps_data.size();
  g.simulated = MosaicStore(static_cast<std::size_t>(g.panel_data.nhaplotypes), nsnps, stored_disease_snps(g));
  for (const std::vector<short>& row : rows) {
    std::vector<int> mutations;
    for (std::size_t j = 0; j < nsnps; ++j)
      if (row[j] != g.panel_data.panel.get(j, 0)) mutations.push_back(static_cast<int>(j));
    g.simulated.add({{0, 0}}, mutations, false, nullptr, g.panel_data.panel);
  }
}

// Hand-made haplotype rows as a source: mosaics of one panel haplotype of 0s, mutated wherever a row holds 1.
struct RowSource {
  BitMatrix panel{1};
  MosaicStore store;
  RowSource(const std::vector<std::vector<short>>& rows, std::size_t nsnps) : store(1, nsnps, {}) {
    for (std::size_t j = 0; j < nsnps; ++j) panel.add_row();
    for (const std::vector<short>& row : rows) {
      std::vector<int> ones;
      for (std::size_t j = 0; j < nsnps; ++j)
        if (row[j] != 0) ones.push_back(static_cast<int>(j));
      store.add({{0, 0}}, ones, false, nullptr, panel);
    }
  }
  MosaicSource source() const { return MosaicSource(store, panel); }
};

// Every simulated allele, one row per haplotype.
inline std::vector<std::vector<short>> simulated_rows(const TarvikGenerator& g) {
  const std::size_t nsnps = g.simulated.snps(), T = g.simulated.haplotypes();
  std::vector<std::uint8_t> alleles;
  g.source().decode_rows(0, nsnps, alleles);
  std::vector<std::vector<short>> rows(T);
  for (std::size_t h = 0; h < T; ++h)
    rows[h].assign(alleles.begin() + h * nsnps, alleles.begin() + (h + 1) * nsnps);
  return rows;
}

// The first SNP of each copying segment of one haplotype cut among N candidates with the current generator.
inline std::vector<int> segment_starts(const std::map<int, snp>& snps, int N) {
  std::vector<int> starts;
  with_draws([&](auto draws) {
    std::vector<typename decltype(draws)::Value> buffer;
    cut_segments(MapSteps(snps), N, draws, buffer, starts);
  });
  return starts;
}

}  // namespace testing_support
