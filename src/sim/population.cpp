#include "sim/population.hpp"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <map>
#include <string>
#include <utility>

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
  for (DrawnHaplotype& haplotype : out.haplotype) {
    std::vector<int>& m = haplotype.mutations;
    m.erase(std::remove_if(m.begin(), m.end(),
                           [&](int j) { return std::binary_search(disease_loci.begin(), disease_loci.end(), j); }),
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

// The panel haplotypes by their alleles at a group of disease loci, for each
// group met so far. A disease segment's source is drawn from the panel with
// weight 1 - mu per locus of its group where the haplotype carries the drawn
// allele and mu where not, so all haplotypes of one class weigh the same:
// drawing a class by its total weight, then a member uniformly, is the same
// draw at a cost of the classes instead of the panel.
class PanelClasses {
 public:
  using Classes = std::vector<std::pair<std::vector<int>, std::vector<std::int32_t>>>;

  const Classes& of(const TarvikGenerator& g, const std::vector<int>& group) {
    auto found = cache.find(group);
    if (found != cache.end()) return found->second;
    std::map<std::vector<int>, std::vector<std::int32_t>> made;
    std::vector<int> alleles(group.size());
    for (int c = 0; c < g.panel_data.nhaplotypes; ++c) {
      for (std::size_t t = 0; t < group.size(); ++t)
        alleles[t] = static_cast<int>(g.panel_data.panel.get(static_cast<std::size_t>(g.dl_indices[group[t]]),
                                                             static_cast<std::size_t>(c)));
      made[alleles].push_back(c);
    }
    return cache.emplace(group, Classes(made.begin(), made.end())).first->second;
  }

  // The source for `group` given the drawn alleles `wanted` (one per locus), by the uniform draw u.
  std::int32_t choose(const Classes& classes, const std::vector<int>& group, const std::vector<int>& wanted,
                      double mu, double u) {
    weights.clear();
    double total = 0.0;
    for (const auto& [alleles, members] : classes) {
      double w = static_cast<double>(members.size());
      for (std::size_t t = 0; t < group.size(); ++t) w *= alleles[t] == wanted[group[t]] ? 1.0 - mu : mu;
      weights.push_back(w);
      total += w;
    }
    double x = u * total;
    std::size_t last = 0;
    for (std::size_t k = 0; k < classes.size(); ++k) {
      if (weights[k] <= 0.0) continue;
      last = k;
      if (x < weights[k]) break;
      x -= weights[k];
    }
    const std::vector<std::int32_t>& members = classes[last].second;
    const double at = std::min(std::max(x / weights[last], 0.0), 1.0) * static_cast<double>(members.size());
    return members[std::min(static_cast<std::size_t>(at), members.size() - 1)];
  }

 private:
  std::map<std::vector<int>, Classes> cache;
  std::vector<double> weights;
};

// A case's disease alleles from the case distribution (its first draw), and
// the sources of its segments that hold a disease locus (one draw per group
// of loci in one segment, side 0 first); then its haplotypes go to the
// store. The model reads only the panel, so this depends on nothing simulated
// before.
void finish_case(TarvikGenerator& g, PanelClasses& panel, DrawnIndividual& drawn, double mu) {
  const std::vector<int>& loci = g.dl_indices;
  std::vector<std::vector<int>> groups[2];
  std::vector<std::size_t> segment_of[2];  // per group
  std::string key;
  for (int k = 0; k < 2; ++k) {
    const std::vector<Segment>& segments = drawn.haplotype[k].segments;
    for (std::size_t d = 0; d < loci.size(); ++d) {
      const auto after = std::upper_bound(segments.begin(), segments.end(), loci[d],
                                          [](int j, const Segment& s) { return j < s.first_snp; });
      const std::size_t segment = static_cast<std::size_t>(after - segments.begin()) - 1;
      if (d == 0 || segment != segment_of[k].back()) {
        groups[k].emplace_back();
        segment_of[k].push_back(segment);
      }
      groups[k].back().push_back(static_cast<int>(d));
    }
    for (std::size_t i = 0; i < groups[k].size(); ++i)
      key += std::to_string(groups[k][i].size()) + (i + 1 < groups[k].size() ? "." : "/");
  }
  const std::map<double, std::vector<std::vector<int>>>& distribution = g.case_distribution(key, groups);
  const std::vector<double>& u = drawn.case_draws;
  assert(u.size() == 1 + groups[0].size() + groups[1].size());
  const auto pair = distribution.upper_bound(u[0]);
  assert(pair != distribution.end());
  std::size_t next = 1;
  for (int k = 0; k < 2; ++k) {
    const std::vector<int>& alleles = pair->second[k];
    for (std::size_t i = 0; i < groups[k].size(); ++i)
      drawn.haplotype[k].segments[segment_of[k][i]].source =
          panel.choose(panel.of(g, groups[k][i]), groups[k][i], alleles, mu, u[next++]);
    const std::vector<std::uint8_t> fixed(alleles.begin(), alleles.end());
    g.simulated.add(drawn.haplotype[k].segments, drawn.haplotype[k].mutations, true, fixed.data(),
                    g.panel_data.panel);
    g.num_simulated_haps += 1;
  }
}

// Room for the expected events of `haplotypes` haplotypes, and a little
// more: the store grows without copying itself for all but the unluckiest
// samples.
void reserve_store(MosaicStore& store, const PopulationModel& model, std::size_t haplotypes) {
  const double switches = model.rho.empty() ? 0.0 : (model.rho.back() - model.rho.front()) / model.candidates;
  const double mutations = model.mutation * static_cast<double>(model.rho.size());
  store.reserve(haplotypes, static_cast<std::size_t>(1.1 * switches + 4), static_cast<std::size_t>(1.1 * mutations + 4));
}

}  // namespace

PopulationModel TarvikGenerator::population_model() const {
  PopulationModel model;
  for (const auto& entry : panel_data.snps_data) model.rho.push_back(entry.second.cumulative_rho);
  model.candidates = static_cast<std::uint32_t>(panel_data.nhaplotypes);
  model.mutation = (params.theta * 0.5) / (panel_data.nhaplotypes + params.theta);
  model.seed_word = seed_word;
  return model;
}

void TarvikGenerator::simulate_population() {
  const PopulationModel model = population_model();

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

  reserve_store(simulated, model, 2 * count);
  PanelClasses panel;
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
        finish_case(*this, panel, drawn, model.mutation);
        continue;
      }
      for (const DrawnHaplotype& haplotype : drawn.haplotype)
        simulated.add(haplotype.segments, haplotype.mutations, false, nullptr, panel_data.panel);
      num_simulated_haps += 2;
    }
    made.release(b);
  }
}
