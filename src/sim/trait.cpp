#include "sim/trait.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include <boost/math/distributions/normal.hpp>

#include "core/errors.hpp"
#include "sim/trait_stream.hpp"

namespace {

// Causal SNPs decoded at once: enough to amortise the decode, little memory
// whatever the sample.
const std::size_t causal_block = 256;

std::string number_text(double x) {
  std::string text = std::to_string(x);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

CausalSet listed_snps(const std::vector<CausalEffect>& listed, const Data& data) {
  std::vector<std::pair<int, double>> chosen;
  for (const CausalEffect& c : listed) {
    const auto found = data.snps_data.find(c.position);
    const std::string where = "the causal SNP at position " + std::to_string(c.position) + " (line " +
                              std::to_string(c.line) + " of the -causal file) ";
    if (found == data.snps_data.end())
      throw RunError(where + "is not a panel SNP of the interval " + std::to_string(data.lower) + " to " +
                     std::to_string(data.upper) + ".\n");
    const double p = found->second.frequency;
    if (p <= 0.0 || p >= 1.0)
      throw RunError(where + "is monomorphic in the panel (allele1 frequency " + number_text(p) +
                     "), so it cannot carry an effect.\n");
    chosen.emplace_back(static_cast<int>(std::distance(data.snps_data.begin(), found)), c.effect);
  }
  std::sort(chosen.begin(), chosen.end());
  CausalSet set;
  for (const auto& c : chosen) {
    set.indices.push_back(c.first);
    set.effects.push_back(c.second);
  }
  return set;
}

CausalSet drawn_snps(const TraitConfig& trait, const Data& data, std::uint32_t seed_word) {
  std::vector<int> eligible;
  std::vector<double> frequency;
  for (const auto& entry : data.snps_data) {
    const double p = entry.second.frequency;
    if (p > 0.0 && p < 1.0 && std::min(p, 1.0 - p) >= trait.causal_maf)
      eligible.push_back(static_cast<int>(frequency.size()));
    frequency.push_back(p);
  }
  const std::size_t m = static_cast<std::size_t>(trait.causal_random);
  if (m > eligible.size())
    throw RunError("-causal_random " + std::to_string(m) + " asks for more causal SNPs than the " +
                   std::to_string(eligible.size()) + " panel SNPs of the interval with minor-allele frequency " +
                   "at least " + number_text(trait.causal_maf) + ".\n");
  TraitStream stream(seed_word, TraitStream::causal_effects);
  // The first m places of a Fisher-Yates shuffle: a uniform m-subset.
  for (std::size_t k = 0; k < m; ++k)
    std::swap(eligible[k], eligible[k + stream.below(eligible.size() - k)]);
  CausalSet set;
  set.indices.assign(eligible.begin(), eligible.begin() + static_cast<long>(m));
  std::sort(set.indices.begin(), set.indices.end());
  for (int j : set.indices) {
    const double p = frequency[static_cast<std::size_t>(j)];
    set.effects.push_back(stream.normal() * std::pow(2.0 * p * (1.0 - p), trait.alpha / 2.0));
  }
  return set;
}

}  // namespace

CausalSet choose_causal_snps(const TraitConfig& trait, const std::vector<CausalEffect>& listed,
                             const Data& data, std::uint32_t seed_word) {
  return trait.causal_random > 0 ? drawn_snps(trait, data, seed_word) : listed_snps(listed, data);
}

std::vector<double> genetic_values(const HaplotypeSource& source, const CausalSet& causal,
                                   std::vector<double>& sample_frequency) {
  const std::size_t haplotypes = source.haplotypes(), individuals = haplotypes / 2;
  std::vector<double> value(individuals, 0.0);
  sample_frequency.assign(causal.indices.size(), 0.0);
  Tile tile;
  std::vector<int> chunk;
  for (std::size_t first = 0; first < causal.indices.size(); first += causal_block) {
    const std::size_t last = std::min(first + causal_block, causal.indices.size());
    chunk.assign(causal.indices.begin() + static_cast<long>(first), causal.indices.begin() + static_cast<long>(last));
    source.decode_snps(chunk, tile);
    for (std::size_t r = 0; r < chunk.size(); ++r) {
      const std::uint8_t* allele = tile.snp(r);
      const double beta = causal.effects[first + r];
      long copies = 0;
      for (std::size_t i = 0; i < individuals; ++i) {
        const int x = allele[2 * i] + allele[2 * i + 1];
        copies += x;
        value[i] += beta * x;
      }
      sample_frequency[first + r] = haplotypes ? static_cast<double>(copies) / static_cast<double>(haplotypes) : 0.0;
    }
  }
  return value;
}

void mean_and_variance(const std::vector<double>& x, double& mean, double& variance) {
  mean = 0.0;
  for (double v : x) mean += v;
  mean /= static_cast<double>(x.size());
  variance = 0.0;
  for (double v : x) variance += (v - mean) * (v - mean);
  variance /= static_cast<double>(x.size());
}

Phenotypes draw_phenotypes(const std::vector<double>& genetic_value, const TraitConfig& trait,
                           std::uint32_t seed_word) {
  Phenotypes out;
  double mean = 0.0;
  if (genetic_value.size() < 2) throw RunError("a heritability needs at least two individuals.\n");
  mean_and_variance(genetic_value, mean, out.genetic_variance);
  if (!(out.genetic_variance > 0.0))
    throw RunError("the genetic values of the " + std::to_string(genetic_value.size()) +
                   " individuals do not vary, so no heritability can be set (-h2).\n");
  out.noise_sd = std::sqrt(out.genetic_variance * (1.0 - trait.h2) / trait.h2);
  const double threshold =
      trait.binary() ? boost::math::quantile(boost::math::normal(), 1.0 - trait.prevalence) : 0.0;
  for (int r = 0; r < trait.replicates; ++r) {
    TraitStream stream(seed_word, TraitStream::noise + static_cast<std::uint32_t>(r));
    std::vector<double> y(genetic_value.size());
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = genetic_value[i] + out.noise_sd * stream.normal();
    double y_mean = 0.0, y_variance = 0.0;
    mean_and_variance(y, y_mean, y_variance);
    out.realized_h2.push_back(out.genetic_variance / y_variance);
    if (trait.binary()) {
      const double sd = std::sqrt(y_variance);
      long cases = 0;
      for (double& v : y) {
        v = (v - y_mean) / sd > threshold ? 1.0 : 0.0;
        cases += v > 0.0;
      }
      out.case_fraction.push_back(static_cast<double>(cases) / static_cast<double>(y.size()));
    }
    out.columns.push_back(std::move(y));
  }
  return out;
}
