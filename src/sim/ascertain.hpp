#pragma once
// Ascertained case/control samples of a polygenic disease. Individuals of the
// population engine are scored in index order from their alleles at the
// causal SNPs alone; each gets a liability, and the sample is the first CASES
// individuals whose liability passes the threshold and the first CONTROLS
// whose liability does not. Nobody is stored while scoring, so a population of
// millions costs the time of its events and the memory of a few blocks.
#include <cstdint>
#include <vector>

#include "data/bit_matrix.hpp"
#include "params/run_config.hpp"
#include "sim/population.hpp"
#include "sim/trait.hpp"

class ThreadBudget;

// The mean and variance of an individual's genetic value G over the
// population, exact under the copying model: a haplotype's allele at a SNP is
// its source's, flipped with probability mu, so allele1 has frequency
// p(1 - 2mu) + mu; the alleles at SNPs j < k covary as the panel's alleles do,
// times (1 - 2mu)^2 and the chance that no switch falls between them,
// exp(-(rho_k - rho_j) / N); an individual's two haplotypes are independent.
struct GeneticMoments {
  double mean = 0.0;
  double variance = 0.0;
};
GeneticMoments expected_genetic_moments(const PopulationModel& model, const BitMatrix& panel,
                                        const CausalSet& causal);

// G of a drawn individual, summed in the order of the causal SNPs as
// genetic_values sums it, so that both give the same number to the last bit.
// `copies` is scratch.
double genetic_value(const DrawnIndividual& individual, const BitMatrix& panel, const CausalSet& causal,
                     std::vector<int>& copies);

// sqrt(h2) (G - mean) / sd + sqrt(1 - h2) e, with e ~ N(0, 1) the first draw
// of individual i's liability stream: a standard normal over the population.
double liability(std::uint32_t seed_word, std::uint64_t individual, double value, const GeneticMoments& moments,
                 double h2);

struct AscertainedSample {
  GeneticMoments moments;
  double threshold = 0.0;            // the normal (1 - K) quantile
  std::uint64_t population = 0;      // individuals 0 .. population - 1 were scored
  std::uint64_t population_cases = 0;  // of them, liabilities above the threshold
  std::vector<std::size_t> kept;     // the sample, ascending
  std::vector<int> status;           // per kept individual: 1 case, 0 control
  std::vector<double> value;         // per kept individual: G
};

// Scores the population until the sample of trait.ascertain_cases and
// trait.ascertain_controls is complete: the smallest population that yields
// it. Throws RunError when the model's genetic values do not vary, or when
// the largest population (ascertainment_limit) has not yielded it.
AscertainedSample ascertain(const PopulationModel& model, const BitMatrix& panel, const CausalSet& causal,
                            const TraitConfig& trait, ThreadBudget* budget);

// The largest population scored before giving up: -n's, or twenty times the
// size expected to yield the sample and at least a million.
std::uint64_t ascertainment_limit(const TraitConfig& trait);

// The genetic values of individuals 0 .. count - 1 of the population, scored
// one by one without storing them (in individual order), and in
// `sample_frequency` each causal SNP's allele1 frequency among their
// haplotypes: what genetic_values gives for the same individuals stored.
std::vector<double> score_population(const PopulationModel& model, const BitMatrix& panel, const CausalSet& causal,
                                     std::uint64_t count, ThreadBudget* budget, std::vector<double>& sample_frequency);
