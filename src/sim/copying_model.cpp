#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "core/log.hpp"
#include "core/ordered.hpp"
#include "core/progress.hpp"
#include "sim/draws.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "sim/segments.hpp"

namespace {

// The candidate among N that the uniform draw u chooses: rmultinom over N
// equal weights 1/N.
int uniform_candidate(double u, int N) {
  const double weight = 1.0 / N;
  return rmultinom_from(u, N, [weight](int) { return weight; }) - 1;
}

// Appends to `mutations` the SNPs among SNPs [first, end) whose draws
// u[0 .. end - first) are below the mutation probability. Mutations are rare,
// so blocks of draws are first checked together.
template <class Draws>
void find_mutations(const typename Draws::Value* u, int first, int end,
                    typename Draws::Bound mutation, std::vector<int>& mutations) {
  for (int j = first; j < end; j += kCutBlock) {
    const int stop = std::min(j + kCutBlock, end);
    if (!Draws::any_below(u + (j - first), stop - j, mutation)) continue;
    for (int k = j; k < stop; ++k)
      if (Draws::is_below(u[k - first], mutation)) mutations.push_back(k);
  }
}

// The random part of one individual, in the order the stream gives it: the
// segment starts of both haplotypes, the draws that choose the sources of
// their ordinary segments, a case's disease-model draws, and the mutation
// draws. None of it depends on the haplotypes simulated before, so it can be
// drawn ahead of them. What is made of the draws (sources, mutations) is
// made on the thread that finishes the individual.
struct Drawn {
  std::vector<int> starts[2];
  std::vector<double> source_draws[2];  // one per segment; a case's disease segments have none
  std::vector<int> sources[2];
  std::vector<double> case_draws;
  std::vector<int> mutations[2];
};
template <class Value>
struct DrawnWith : Drawn {
  std::vector<Value> mutation_draws[2];  // one per SNP, a case's disease loci left out
};

// The rest of one individual's state while it is finished.
struct Pair {
  std::vector<std::vector<int>> locus_states{2};
  std::vector<std::size_t> locus_segment[2];  // the segment of each locus
  std::vector<std::vector<int>> disease_haplotypes{2};
  std::vector<Segment> segments;
};

// One draw per ordinary segment, in SNP order, for its uniformly chosen
// source. A case's segments that hold a disease locus get their sources from
// the disease model instead (a draw below 0 marks them).
void draw_sources(Drawn& drawn, int k, int nsnps, bool is_case, const std::vector<int>& loci) {
  const std::vector<int>& starts = drawn.starts[k];
  std::vector<double>& draws = drawn.source_draws[k];
  const int nsegments = static_cast<int>(starts.size());
  draws.resize(nsegments);
  for (int i = 0; i < nsegments; ++i) {
    const int first = starts[i];
    const int end = i + 1 < nsegments ? starts[i + 1] : nsnps;
    bool disease_segment = false;
    if (is_case)
      for (const int locus : loci) disease_segment |= locus >= first && locus < end;
    draws[i] = disease_segment ? -1.0 : uniform_draw();
  }
}

// The sources the draws choose among N candidates; until the disease model
// has chosen theirs, a case's disease segments carry the label -2 - ordinal.
void choose_sources(Drawn& drawn, int k, int N) {
  const std::vector<double>& draws = drawn.source_draws[k];
  std::vector<int>& sources = drawn.sources[k];
  sources.resize(draws.size());
  for (std::size_t i = 0; i < draws.size(); ++i)
    sources[i] = draws[i] < 0.0 ? -2 - static_cast<int>(i) : uniform_candidate(draws[i], N);
}

// The groups of loci the disease model draws a source for on one side: one
// per run of neighbouring loci (in locus order) that share a segment.
int disease_groups(const std::vector<int>& starts, const std::vector<int>& loci) {
  const auto segment = [&starts](int snp) { return std::upper_bound(starts.begin(), starts.end(), snp); };
  int groups = loci.empty() ? 0 : 1;
  for (std::size_t d = 1; d < loci.size(); ++d) groups += segment(loci[d]) != segment(loci[d - 1]);
  return groups;
}

// The disease model sees the label of the segment at each disease locus;
// each disease segment then takes the source drawn for it.
void apply_disease_model(TarvikGenerator& g, Drawn& drawn, Pair& pair, const std::vector<int>& loci,
                         const double* mu) {
  for (int k = 0; k < 2; ++k) {
    const std::vector<int>& starts = drawn.starts[k];
    pair.locus_segment[k].resize(loci.size());
    pair.locus_states[k].resize(loci.size());
    for (std::size_t d = 0; d < loci.size(); ++d) {
      const auto after = std::upper_bound(starts.begin(), starts.end(), loci[d]);
      pair.locus_segment[k][d] = static_cast<std::size_t>(after - starts.begin()) - 1;
      pair.locus_states[k][d] = drawn.sources[k][pair.locus_segment[k][d]];
    }
  }
  g.simulate_disease_alleles(pair.locus_states, pair.disease_haplotypes, mu, &drawn.case_draws);
  for (int k = 0; k < 2; ++k)
    for (std::size_t d = 0; d < loci.size(); ++d)
      drawn.sources[k][pair.locus_segment[k][d]] = pair.locus_states[k][d];
}

// The SNPs that mutate: one draw u per SNP, in SNP order, none at a case's
// disease loci, compared with the mutation probability.
template <class Draws>
void find_all_mutations(const std::vector<typename Draws::Value>& draws, double mu, int nsnps,
                        const std::vector<int>& fixed_loci, std::vector<int>& mutations) {
  mutations.clear();
  const int fixed = static_cast<int>(fixed_loci.size());
  assert(draws.size() == static_cast<std::size_t>(nsnps - fixed));
  const typename Draws::Bound bound = Draws::below(mu);
  const typename Draws::Value* u = draws.data();
  int j = 0;
  for (int d = 0; d <= fixed; ++d) {
    const int stop = d < fixed ? fixed_loci[d] : nsnps;
    find_mutations<Draws>(u, j, stop, bound, mutations);
    u += stop - j;
    j = stop + 1;
  }
  assert(u == draws.data() + draws.size());
}

// Hands haplotype k of the individual to the store.
void store_haplotype(TarvikGenerator& g, const Drawn& drawn, Pair& pair, int k, bool is_case) {
  pair.segments.clear();
  for (std::size_t i = 0; i < drawn.starts[k].size(); ++i) {
    assert(drawn.sources[k][i] >= 0 && "copying_states[l][j] >= 0");
    pair.segments.push_back({drawn.starts[k][i], drawn.sources[k][i]});
  }
  std::uint8_t alleles[64];
  std::vector<std::uint8_t> many;
  std::uint8_t* disease = alleles;
  const std::vector<int>& chosen = pair.disease_haplotypes[k];
  if (is_case && chosen.size() > 64) {
    many.resize(chosen.size());
    disease = many.data();
  }
  if (is_case)
    for (std::size_t d = 0; d < chosen.size(); ++d) disease[d] = static_cast<std::uint8_t>(chosen[d]);
  g.simulated.add(pair.segments, drawn.mutations[k], is_case, disease, g.panel_data.panel);
}

// The run's shape: who is a case, and the pool of sources and the mutation
// probability of each haplotype.
struct RunShape {
  int ncontrols, n;
  double theta;
  bool panel_only;
  bool is_case(int h) const { return h >= 2 * ncontrols; }
  // The pool of sources of haplotype h: the panel and every haplotype
  // simulated before, or the panel alone.
  int pool(int h) const { return panel_only ? n : n + h; }
  double mu(int h) const { return (theta * 0.5) / (pool(h) + theta); }
};

// Draws the random part of the individual whose first haplotype is h.
template <class Draws>
void draw_individual(Draws& draws, std::vector<typename Draws::Value>& buffer, const MapSteps& map,
                     const RunShape& shape, const std::vector<int>& loci, int h,
                     DrawnWith<typename Draws::Value>& drawn) {
  const int nsnps = static_cast<int>(map.step.size());
  const bool is_case = shape.is_case(h);
  for (int k = 0; k < 2; ++k) cut_segments(map, shape.pool(h + k), draws, buffer, drawn.starts[k]);
  for (int k = 0; k < 2; ++k) draw_sources(drawn, k, nsnps, is_case, loci);
  drawn.case_draws.clear();
  if (is_case) {
    const int count = 1 + disease_groups(drawn.starts[0], loci) + disease_groups(drawn.starts[1], loci);
    for (int i = 0; i < count; ++i) drawn.case_draws.push_back(uniform_draw());
  }
  for (auto& mutation_draws : drawn.mutation_draws) {
    mutation_draws.resize(nsnps - (is_case ? loci.size() : 0));
    draws.fill(mutation_draws.data(), mutation_draws.size());
  }
}

// Individuals drawn ahead on a second thread: enough to keep it busy while
// the calling thread finishes those before, in at most about 16 MiB of
// mutation draws (two per SNP of each individual) on long intervals.
std::size_t individuals_ahead(std::size_t nsnps, std::size_t value_bytes) {
  const std::size_t per_individual = 2 * value_bytes * std::max<std::size_t>(nsnps, 1);
  return std::min<std::size_t>(16, std::max<std::size_t>(2, (std::size_t(16) << 20) / per_individual));
}

template <class Draws>
void simulate_individuals(TarvikGenerator& g, Draws draws) {
  const int T = 2 * (g.params.ncontrols + g.params.ncases);
  const int nsnps = static_cast<int>(g.panel_data.snps_data.size());
  const RunShape shape{g.params.ncontrols, g.panel_data.nhaplotypes, g.params.theta,
                       g.params.copy_panel_only};
  const MapSteps map(g.panel_data.snps_data);
  const std::vector<int>& loci = g.dl_indices;
  g.simulated_phenotypes.reserve(T / 2);

  // Every draw of the run is made by draw_individual, in individual order,
  // on this thread or on one thread ahead of it.
  std::vector<typename Draws::Value> buffer(nsnps);
  using Individual = DrawnWith<typename Draws::Value>;
  auto draw = [&](std::size_t i, Individual& drawn) {
    draw_individual(draws, buffer, map, shape, loci, static_cast<int>(2 * i), drawn);
    return true;
  };
  // With a thread to spare, individuals are drawn ahead on it while this
  // thread finishes those before.
  ThreadBudget::Lease lease = g.budget != nullptr && T > 2 ? g.budget->take(1) : ThreadBudget::Lease();
  const std::size_t ring =
      lease.count() > 0 ? individuals_ahead(static_cast<std::size_t>(nsnps), sizeof(typename Draws::Value)) : 1;
  Ordered<Individual> drawn_individuals(
      std::move(lease), ring,
      [&](std::size_t i, Individual& drawn, int) { return draw(i, drawn); },
      Ordered<Individual>::Order::one_at_a_time, static_cast<std::size_t>(T / 2));
  const std::vector<int> no_loci;
  Pair pair;
  Progress progress("Simulating", "individuals");
  for (int h = 0; h < T; h += 2) {
    progress.update(h / 2, T / 2);
    const std::size_t i = static_cast<std::size_t>(h / 2);
    Individual& drawn = *drawn_individuals.take(i);
    const bool is_case = shape.is_case(h);
    const double mu[2] = {shape.mu(h), shape.mu(h + 1)};
    for (int k = 0; k < 2; ++k) choose_sources(drawn, k, shape.pool(h + k));
    if (is_case) apply_disease_model(g, drawn, pair, loci, mu);
    g.simulated_phenotypes.push_back(is_case ? 1 : 0);
    for (int k = 0; k < 2; ++k) {
      find_all_mutations<Draws>(drawn.mutation_draws[k], mu[k], nsnps, is_case ? loci : no_loci,
                                drawn.mutations[k]);
      store_haplotype(g, drawn, pair, k, is_case);
    }
    g.num_simulated_haps = h + 2;
    drawn_individuals.release(i);
  }
}
}  // namespace

void TarvikGenerator::set_theta() {
  std::ostringstream text;
  const int n = panel_data.nhaplotypes;
  double theta = 1.0;
  if (n != 1) {
    double harmonic = 0.0;
    for (int i = 1; i <= n; ++i) harmonic += 1.0 / i;
    theta = 1.0 / harmonic;
  }
  params.theta = theta;
  text << "theta not set, so setting to a default value of " << theta << "\n";
  log.report(text);
}

void TarvikGenerator::simulate_all_alleles() {
  log.report("\nSimulating haplotypes ... ");
  // Everything a run builds starts afresh, so an engine can run again.
  simulated = MosaicStore(static_cast<std::size_t>(panel_data.nhaplotypes), panel_data.snps_data.size(),
                          dl_indices);
  simulated_phenotypes.clear();
  num_simulated_haps = 0;
  case_hap_freq_cache.clear();
  control_hap_freq_cache.clear();
  disease_snp_columns.clear();

  assert(params.ncontrols >= 0 && params.ncases >= 0);
  if (!panel_data.pedigree.members.empty()) {
    // The founders first, as the controls of an unrelated run; then their
    // children.
    const std::int32_t everyone = params.ncontrols;
    params.ncontrols = panel_data.pedigree.founders;
    if (params.copy_panel_only)
      simulate_population();
    else
      simulate_per_snp();
    params.ncontrols = everyone;
    simulate_children();
  } else if (params.copy_panel_only) {
    simulate_population();
  } else {
    simulate_per_snp();
  }

  log.report("done\n");
}

void TarvikGenerator::simulate_per_snp() {
  if (params.ncontrols + params.ncases >= 1) with_draws([&](auto draws) { simulate_individuals(*this, draws); });
}
