#pragma once
// A polygenic trait over causal SNPs: G_i = sum_j beta_j x_ij (x_ij the
// count of allele1), Y = G + E with E ~ N(0, var(G)(1 - h2)/h2) over the
// simulated sample, and for a binary trait a case wherever the standardized Y
// lies above the normal (1 - K) quantile. Draws come from TraitStream.
#include <cstdint>
#include <vector>

#include "data/data.hpp"
#include "data/trait_inputs.hpp"
#include "params/run_config.hpp"
#include "store/haplotype_source.hpp"

// The causal SNPs: panel SNP indices (ascending) and effects per copy of
// allele1.
struct CausalSet {
  std::vector<int> indices;
  std::vector<double> effects;
};

// The SNPs of a -causal file, or M drawn uniformly among the panel SNPs of
// minor-allele frequency >= causal_maf with effects N(0,1)[2p(1-p)]^(alpha/2).
// Throws RunError naming a causal position that is not a panel SNP of the
// interval or is monomorphic, or when fewer SNPs qualify than asked for.
CausalSet choose_causal_snps(const TraitConfig& trait, const std::vector<CausalEffect>& listed,
                             const Data& data, std::uint32_t seed_word);

// Each individual's genetic value (haplotypes 2i and 2i + 1 are individual
// i), from the causal SNPs' alleles alone; `sample_frequency` receives the
// allele1 frequency of each causal SNP among the haplotypes.
std::vector<double> genetic_values(const HaplotypeSource& source, const CausalSet& causal,
                                   std::vector<double>& sample_frequency);

struct Phenotypes {
  double genetic_variance = 0.0;  // var(G), divisor N
  double noise_sd = 0.0;          // sd of E
  std::vector<std::vector<double>> columns;  // per replicate: Y, or 1 case / 0 control
  std::vector<double> realized_h2;           // per replicate: var(G) / var(Y)
  std::vector<double> case_fraction;         // per replicate, binary traits
};

// The phenotypes of `replicates` columns (noise, and threshold, drawn anew
// for each). Throws RunError when the genetic values do not vary.
Phenotypes draw_phenotypes(const std::vector<double>& genetic_value, const TraitConfig& trait,
                           std::uint32_t seed_word);

// Mean and variance (divisor N) in one fixed order.
void mean_and_variance(const std::vector<double>& x, double& mean, double& variance);
