#pragma once
// The population engine of -copy_panel_only runs: every haplotype copies from
// the n panel haplotypes alone, so individuals are independent in the model,
// and each draws from its own stream (IndividualStream, keyed by the seed
// word and the individual's index). Along a haplotype only the events are
// drawn: the next switch of source where the cumulative switch hazard passes
// an Exp(1) draw, the next mutation a geometric jump away. The distribution is
// that of the per-SNP copying model; the cost is that of the events.
#include <cstdint>
#include <vector>

#include "store/mosaic.hpp"

// What a haplotype of the population is drawn from.
struct PopulationModel {
  // The scaled map position of every SNP, in SNP order (never decreasing).
  // Between SNPs j - 1 and j the per-SNP model switches with probability
  // 1 - exp(-(rho[j] - rho[j - 1]) / N): a hazard of (rho[j] - rho[j - 1]) / N.
  std::vector<double> rho;
  std::uint32_t candidates = 1;  // N, the panel haplotypes
  double mutation = 0.0;         // per SNP and haplotype
  std::uint32_t seed_word = 0;
};

struct DrawnHaplotype {
  std::vector<Segment> segments;  // first SNP ascending, the first at SNP 0; uniform sources
  std::vector<int> mutations;     // ascending SNP indices
};

struct DrawnIndividual {
  DrawnHaplotype haplotype[2];
  std::vector<double> case_draws;  // a case's disease-model draws, drawn after its haplotypes
};

// Individual `individual` of the population exactly as every run draws it,
// whatever else the run makes: this is what selecting individuals (-keep, or
// scoring a population before picking whom to write) builds on. A case
// (`disease_loci` not empty: the SNP indices of its disease loci, ascending) also draws
// what the disease model needs (one draw for the alleles, one per group of
// loci in one segment on each side) and loses the mutations at its loci,
// whose alleles the disease model fixes.
void draw_individual(const PopulationModel& model, std::uint64_t individual,
                     const std::vector<int>& disease_loci, DrawnIndividual& out);

// Individuals made together by one thread: a fixed number, never derived from
// the thread count, so that the work is cut the same way on every machine.
constexpr std::size_t kPopulationBlock = 64;
