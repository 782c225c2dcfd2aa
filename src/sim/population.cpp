#include "sim/population.hpp"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>

#include "core/ordered.hpp"
#include "core/progress.hpp"
#include "sim/generator.hpp"
#include "sim/individual_stream.hpp"

namespace {

// Switches: from the last switch at SNP j, the next is at the first SNP k
// whose cumulative hazard rho[k] / N exceeds rho[j] / N by more than an Exp(1)
// draw. The hazards of the SNP steps are independent, so restarting the
// exponential clock at every switch loses nothing. Equal map positions never
// switch, as in the per-SNP model. Each switch takes a uniform source.
void draw_segments(const PopulationModel& model, IndividualStream& stream, std::vector<Segment>& segments) {
  segments.clear();
  const double N = model.candidates;
  const auto begin = model.rho.begin(), end = model.rho.end();
  segments.push_back({0, static_cast<std::int32_t>(stream.below(model.candidates))});
  if (model.rho.empty()) return;
  for (auto at = begin;;) {
    const double target = *at + stream.exponential() * N;
    at = std::upper_bound(at + 1, end, target);
    if (at == end) return;
    segments.push_back({static_cast<std::int32_t>(at - begin),
                        static_cast<std::int32_t>(stream.below(model.candidates))});
  }
}

// Mutations: the gaps between mutated SNPs are geometric, P(gap = g) =
// (1 - mu)^(g - 1) mu, drawn by inversion.
void draw_mutations(const PopulationModel& model, IndividualStream& stream, std::vector<int>& mutations) {
  mutations.clear();
  const double mu = model.mutation, nsnps = static_cast<double>(model.rho.size());
  if (!(mu > 0.0)) return;
  const double per_log = mu >= 1.0 ? 0.0 : 1.0 / std::log1p(-mu);  // negative
  for (double j = -1.0;;) {
    j += std::floor(std::log(stream.uniform()) * per_log) + 1.0;
    if (!(j < nsnps)) return;
    mutations.push_back(static_cast<int>(j));
  }
}

// The groups of loci the disease model draws a source for on one side: one
// per run of neighbouring loci (in locus order) that share a segment.
int disease_groups(const std::vector<Segment>& segments, const std::vector<int>& loci) {
  const auto segment = [&segments](int snp) {
    return std::upper_bound(segments.begin(), segments.end(), snp,
                            [](int j, const Segment& s) { return j < s.first_snp; });
  };
  int groups = loci.empty() ? 0 : 1;
  for (std::size_t d = 1; d < loci.size(); ++d) groups += segment(loci[d]) != segment(loci[d - 1]);
  return groups;
}

}  // namespace

void draw_individual(const PopulationModel& model, std::uint64_t individual,
                     const std::vector<int>& disease_loci, DrawnIndividual& out) {
  IndividualStream stream(model.seed_word, individual);
  for (DrawnHaplotype& haplotype : out.haplotype) {
    draw_segments(model, stream, haplotype.segments);
    draw_mutations(model, stream, haplotype.mutations);
  }
  out.case_draws.clear();
  if (disease_loci.empty()) return;
  std::vector<int> sorted(disease_loci);
  std::sort(sorted.begin(), sorted.end());
  for (DrawnHaplotype& haplotype : out.haplotype) {
    std::vector<int>& m = haplotype.mutations;
    m.erase(std::remove_if(m.begin(), m.end(),
                           [&sorted](int j) { return std::binary_search(sorted.begin(), sorted.end(), j); }),
            m.end());
  }
  const int count = 1 + disease_groups(out.haplotype[0].segments, disease_loci) +
                    disease_groups(out.haplotype[1].segments, disease_loci);
  for (int i = 0; i < count; ++i) out.case_draws.push_back(stream.uniform());
}

namespace {

struct Block {
  std::vector<DrawnIndividual> individuals;
};

// A case's disease alleles, and the sources of its segments that hold a
// disease locus, from the disease model; then its haplotypes go to the store.
// The model reads only the panel, so this depends on nothing simulated before.
void finish_case(TarvikGenerator& g, DrawnIndividual& drawn, double mu) {
  const std::vector<int>& loci = g.dl_indices;
  std::vector<std::vector<int>> states(2, std::vector<int>(loci.size())), alleles;
  std::vector<std::size_t> at[2];
  for (int k = 0; k < 2; ++k) {
    const std::vector<Segment>& segments = drawn.haplotype[k].segments;
    for (std::size_t d = 0; d < loci.size(); ++d) {
      const auto after = std::upper_bound(segments.begin(), segments.end(), loci[d],
                                          [](int j, const Segment& s) { return j < s.first_snp; });
      at[k].push_back(static_cast<std::size_t>(after - segments.begin()) - 1);
      states[k][d] = -2 - static_cast<int>(at[k][d]);
    }
  }
  const double mutation[2] = {mu, mu};
  g.simulate_disease_alleles(states, alleles, mutation, &drawn.case_draws);
  for (int k = 0; k < 2; ++k) {
    for (std::size_t d = 0; d < loci.size(); ++d) drawn.haplotype[k].segments[at[k][d]].source = states[k][d];
    std::vector<std::uint8_t> fixed(alleles[k].begin(), alleles[k].end());
    g.simulated.add(drawn.haplotype[k].segments, drawn.haplotype[k].mutations, true, fixed.data(),
                    g.panel_data.panel);
    g.num_simulated_haps += 1;
  }
}

}  // namespace

void TarvikGenerator::simulate_population() {
  PopulationModel model;
  for (const auto& entry : panel_data.snps_data) model.rho.push_back(entry.second.cumulative_rho);
  model.candidates = static_cast<std::uint32_t>(panel_data.nhaplotypes);
  model.mutation = (params.theta * 0.5) / (panel_data.nhaplotypes + params.theta);
  model.seed_word = stream_seed_word;

  // The individuals made, in output order: those of -keep, or all.
  const std::size_t all = static_cast<std::size_t>(params.ncontrols) + static_cast<std::size_t>(params.ncases);
  const std::size_t count = params.keep.empty() ? all : params.keep.size();
  const auto individual = [&](std::size_t p) { return params.keep.empty() ? p : params.keep[p]; };
  const auto is_case = [&](std::size_t i) { return i >= static_cast<std::size_t>(params.ncontrols); };
  const std::vector<int> no_loci;

  const std::size_t blocks = (count + kPopulationBlock - 1) / kPopulationBlock;
  ThreadBudget::Lease lease = budget != nullptr ? budget->take(INT_MAX) : ThreadBudget::Lease();
  const std::size_t ring = 2 * static_cast<std::size_t>(lease.count() + 1);
  Ordered<Block> made(
      std::move(lease), ring,
      [&](std::size_t b, Block& block, int) {
        const std::size_t first = b * kPopulationBlock, size = std::min(kPopulationBlock, count - first);
        block.individuals.resize(size);
        for (std::size_t p = 0; p < size; ++p) {
          const std::size_t i = individual(first + p);
          draw_individual(model, i, is_case(i) ? dl_indices : no_loci, block.individuals[p]);
        }
        return true;
      },
      Ordered<Block>::Order::any, blocks);

  Progress progress("Simulating", "individuals");
  simulated_phenotypes.reserve(count);
  for (std::size_t b = 0; b < blocks; ++b) {
    progress.update(static_cast<long>(b * kPopulationBlock), static_cast<long>(count));
    Block& block = *made.take(b);
    for (std::size_t p = 0; p < block.individuals.size(); ++p) {
      DrawnIndividual& drawn = block.individuals[p];
      const bool case_individual = is_case(individual(b * kPopulationBlock + p));
      simulated_phenotypes.push_back(case_individual ? 1 : 0);
      if (case_individual) {
        finish_case(*this, drawn, model.mutation);
        continue;
      }
      for (const DrawnHaplotype& haplotype : drawn.haplotype)
        simulated.add(haplotype.segments, haplotype.mutations, false, nullptr, panel_data.panel);
      num_simulated_haps += 2;
    }
    made.release(b);
  }
}
