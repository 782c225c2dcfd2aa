#include "sim/ascertain.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include <boost/math/distributions/normal.hpp>

#include "core/errors.hpp"
#include "core/ordered.hpp"
#include "core/progress.hpp"
#include "core/thread_budget.hpp"
#include "sim/individual_stream.hpp"

namespace {

long ones(const std::uint64_t* row, std::size_t words) {
  long n = 0;
  for (std::size_t w = 0; w < words; ++w) n += __builtin_popcountll(row[w]);
  return n;
}

long ones_in_both(const std::uint64_t* a, const std::uint64_t* b, std::size_t words) {
  long n = 0;
  for (std::size_t w = 0; w < words; ++w) n += __builtin_popcountll(a[w] & b[w]);
  return n;
}

// Beyond this many expected switches between two SNPs their alleles share a
// source with probability below e^-40: the pair adds nothing a double holds.
const double unlinked_switches = 40.0;

// Individuals scored together by one thread: fixed, like the engine's blocks.
const std::size_t score_block = 256;

struct Scored {
  std::vector<double> value, liability;
  std::vector<long> copies;  // per causal SNP, over the block's haplotypes
};

struct Scratch {
  DrawnIndividual drawn;
  std::vector<int> copies;
};

// Individuals 0 .. count - 1 of the population scored in blocks on the
// threads of the budget, taken in order; with `moments`, each also gets its
// liability. The makers read only what outlives them.
class Scorer {
 public:
  Scorer(const PopulationModel& model, const BitMatrix& panel, const CausalSet& causal, std::uint64_t count,
         const GeneticMoments* moments, double h2, ThreadBudget* budget)
      : lease(budget != nullptr ? budget->take(INT_MAX) : ThreadBudget::Lease()),
        scratch(static_cast<std::size_t>(lease.count() + 1)),
        scored(std::move(lease), 2 * scratch.size(),
               [=, &model, &panel, &causal](std::size_t b, Scored& block, int maker) {
                 Scratch& own = scratch[static_cast<std::size_t>(maker)];
                 const std::uint64_t first = b * score_block;
                 const std::uint64_t size = std::min<std::uint64_t>(score_block, count - first);
                 block.value.resize(size);
                 block.liability.resize(size);
                 block.copies.assign(causal.indices.size(), 0);
                 for (std::uint64_t p = 0; p < size; ++p) {
                   draw_individual(model, first + p, {}, own.drawn);
                   block.value[p] = genetic_value(own.drawn, panel, causal, own.copies);
                   for (std::size_t k = 0; k < own.copies.size(); ++k) block.copies[k] += own.copies[k];
                   if (moments != nullptr)
                     block.liability[p] = liability(model.seed_word, first + p, block.value[p], *moments, h2);
                 }
                 return true;
               },
               Ordered<Scored>::Order::any, (count + score_block - 1) / score_block) {}

  // Block b (individuals from b * score_block), or null past the last.
  const Scored* take(std::size_t b) { return scored.take(b); }
  void release(std::size_t b) { scored.release(b); }

 private:
  ThreadBudget::Lease lease;
  std::vector<Scratch> scratch;
  Ordered<Scored> scored;
};

}  // namespace

GeneticMoments expected_genetic_moments(const PopulationModel& model, const BitMatrix& panel,
                                        const CausalSet& causal) {
  const std::size_t m = causal.indices.size(), words = panel.words_per_row();
  const double n = model.candidates, mu = model.mutation, kept = (1.0 - 2.0 * mu) * (1.0 - 2.0 * mu);
  std::vector<double> p(m);
  std::vector<const std::uint64_t*> row(m);
  GeneticMoments out;
  double haplotype_variance = 0.0;
  for (std::size_t j = 0; j < m; ++j) {
    row[j] = panel.row(static_cast<std::size_t>(causal.indices[j]));
    p[j] = static_cast<double>(ones(row[j], words)) / n;
    const double q = p[j] * (1.0 - 2.0 * mu) + mu, beta = causal.effects[j];
    out.mean += 2.0 * beta * q;
    haplotype_variance += beta * beta * q * (1.0 - q);
  }
  for (std::size_t j = 0; j < m; ++j) {
    const double rho_j = model.rho[static_cast<std::size_t>(causal.indices[j])];
    for (std::size_t k = j + 1; k < m; ++k) {
      const double switches = (model.rho[static_cast<std::size_t>(causal.indices[k])] - rho_j) / n;
      if (switches > unlinked_switches) break;
      const double d = static_cast<double>(ones_in_both(row[j], row[k], words)) / n - p[j] * p[k];
      haplotype_variance += 2.0 * causal.effects[j] * causal.effects[k] * kept * std::exp(-switches) * d;
    }
  }
  out.variance = 2.0 * haplotype_variance;
  return out;
}

double genetic_value(const DrawnIndividual& individual, const BitMatrix& panel, const CausalSet& causal,
                     std::vector<int>& copies) {
  const std::size_t m = causal.indices.size();
  copies.assign(m, 0);
  for (const DrawnHaplotype& haplotype : individual.haplotype) {
    const std::vector<Segment>& segments = haplotype.segments;
    const std::vector<int>& mutations = haplotype.mutations;
    std::size_t s = 0, t = 0;
    for (std::size_t k = 0; k < m; ++k) {
      const int j = causal.indices[k];
      while (s + 1 < segments.size() && segments[s + 1].first_snp <= j) ++s;
      while (t < mutations.size() && mutations[t] < j) ++t;
      const bool mutated = t < mutations.size() && mutations[t] == j;
      copies[k] += panel.get(static_cast<std::size_t>(j), static_cast<std::size_t>(segments[s].source)) ^ mutated;
    }
  }
  double value = 0.0;
  for (std::size_t k = 0; k < m; ++k) value += causal.effects[k] * copies[k];
  return value;
}

double liability(std::uint32_t seed_word, std::uint64_t individual, double value, const GeneticMoments& moments,
                 double h2) {
  IndividualStream stream(seed_word, individual, IndividualStream::liability);
  const double standard = (value - moments.mean) / std::sqrt(moments.variance);
  return std::sqrt(h2) * standard + std::sqrt(1.0 - h2) * stream.normal();
}

std::uint64_t ascertainment_limit(const TraitConfig& trait) {
  if (trait.ascertain_population > 0) return static_cast<std::uint64_t>(trait.ascertain_population);
  const double expected = trait.ascertain_cases / trait.prevalence + trait.ascertain_controls / (1.0 - trait.prevalence);
  return static_cast<std::uint64_t>(std::min(std::max(20.0 * expected, 1e6), static_cast<double>(INT32_MAX)));
}

AscertainedSample ascertain(const PopulationModel& model, const BitMatrix& panel, const CausalSet& causal,
                            const TraitConfig& trait, ThreadBudget* budget) {
  AscertainedSample out;
  out.moments = expected_genetic_moments(model, panel, causal);
  if (!(out.moments.variance > 0.0))
    throw RunError("-ascertain: the causal SNPs give every individual of the population the same genetic "
                   "value, so no liability threshold can pick cases.\n");
  out.threshold = boost::math::quantile(boost::math::normal(), 1.0 - trait.prevalence);
  const std::uint64_t limit = ascertainment_limit(trait);
  const std::uint64_t cases_wanted = static_cast<std::uint64_t>(trait.ascertain_cases);
  const std::uint64_t controls_wanted = static_cast<std::uint64_t>(trait.ascertain_controls);

  // `out` is handed back while the makers may still be working ahead: they
  // read a copy of the moments.
  const GeneticMoments moments = out.moments;
  Scorer scored(model, panel, causal, limit, &moments, trait.h2, budget);

  Progress progress("Ascertaining", "individuals of the sample found");
  std::uint64_t cases = 0, controls = 0;
  for (std::size_t b = 0;; ++b) {
    const Scored* block = scored.take(b);
    if (block == nullptr) break;
    for (std::size_t p = 0; p < block->value.size(); ++p) {
      const bool is_case = block->liability[p] > out.threshold;
      out.population_cases += is_case;
      out.population += 1;
      if (is_case ? cases < cases_wanted : controls < controls_wanted) {
        out.kept.push_back(b * score_block + p);
        out.status.push_back(is_case ? 1 : 0);
        out.value.push_back(block->value[p]);
        (is_case ? cases : controls) += 1;
        if (cases == cases_wanted && controls == controls_wanted) return out;
      }
    }
    progress.update(static_cast<long>(cases + controls), static_cast<long>(cases_wanted + controls_wanted));
    scored.release(b);
  }
  throw RunError("-ascertain: " + std::to_string(out.population) + " individuals of the population yielded " +
                 std::to_string(cases) + " of the " + std::to_string(cases_wanted) + " cases and " +
                 std::to_string(controls) + " of the " + std::to_string(controls_wanted) +
                 " controls; " + (trait.ascertain_population > 0 ? std::string("a larger -n would yield more.\n")
                                  : "a liability above the threshold of -prevalence is too rare for this sample.\n"));
}

std::vector<double> score_population(const PopulationModel& model, const BitMatrix& panel, const CausalSet& causal,
                                     std::uint64_t count, ThreadBudget* budget, std::vector<double>& sample_frequency) {
  std::vector<double> value;
  value.reserve(count);
  std::vector<long> copies(causal.indices.size(), 0);
  Scorer scored(model, panel, causal, count, nullptr, 0.0, budget);
  Progress progress("Scoring", "individuals");
  for (std::size_t b = 0;; ++b) {
    const Scored* block = scored.take(b);
    if (block == nullptr) break;
    value.insert(value.end(), block->value.begin(), block->value.end());
    for (std::size_t k = 0; k < copies.size(); ++k) copies[k] += block->copies[k];
    scored.release(b);
    progress.update(static_cast<long>(value.size()), static_cast<long>(count));
  }
  sample_frequency.assign(copies.size(), 0.0);
  for (std::size_t k = 0; k < copies.size(); ++k)
    if (count > 0) sample_frequency[k] = static_cast<double>(copies[k]) / static_cast<double>(2 * count);
  return value;
}
