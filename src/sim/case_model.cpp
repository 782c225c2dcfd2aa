// The disease model of a case: the distribution of the pair of haplotypes a
// case carries at the disease loci (population frequencies from the panel and
// the finished controls, weighted by the genotype relative risks), and the
// draw of a case's disease alleles and of the sources of its disease segments.
#include <cassert>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"

namespace {

// " 1500 2500": the positions of the disease loci, written in full.
std::string disease_positions(const std::map<double, DiseaseLocus>& dl) {
  std::ostringstream out;
  out.precision(15);
  for (const auto& locus : dl) out << ' ' << locus.first;
  return out.str();
}

// The case distribution holds every pair of haplotypes over the disease loci,
// and loci in separately copied segments multiply their numbers; loci spread
// over many segments could need more memory and time than any machine has.
// Beyond this many pairs (about a gigabyte) the run stops with a message.
constexpr std::size_t max_case_pairs = std::size_t(1) << 22;

void check_case_pairs(const std::map<double, DiseaseLocus>& dl, std::size_t pairs) {
  if (pairs > max_case_pairs)
    throw RunError(
        "the disease loci at positions" + disease_positions(dl) +
        " lie in so many separately copied segments of a case that its disease haplotypes have more "
        "than " + std::to_string(max_case_pairs) +
        " possible pairs, too many to simulate; use fewer disease loci or loci closer together.\n");
}

// Loci of a disease segment whose source weights are looked up by pattern:
// a table of 2^max_pattern_loci values per group.
constexpr int max_pattern_loci = 8;

}  // namespace

void TarvikGenerator::calculate_control_hap_freq(const std::vector<int>& snp_indices,
                                                 std::map<std::vector<int>, double>& table) const {
  assert(params.copy_panel_only || num_simulated_haps >= 2 * params.ncontrols);
  table.clear();

  const std::size_t nloci = snp_indices.size();
  const BitMatrix& panel = panel_data.panel;
  // Simulated haplotypes are read at their disease-locus columns.
  std::vector<std::size_t> locus(nloci);
  const std::vector<int>& stored = simulated.disease_snps();
  for (std::size_t l = 0; l < nloci; ++l) {
    const auto at = std::lower_bound(stored.begin(), stored.end(), snp_indices[l]);
    assert(at != stored.end() && *at == snp_indices[l]);
    locus[l] = static_cast<std::size_t>(at - stored.begin());
  }
  const int n = panel_data.nhaplotypes;
  // The population the case frequencies rest on: the panel and the
  // controls, or the panel alone when nothing is copied from simulated ones.
  const int controls = params.copy_panel_only ? 0 : params.ncontrols;
  const int nsources = n + 2 * controls;
  const double w = 1.0 / (controls + controls + n);
  std::vector<int> haplotype(nloci);
  for (int c = 0; c < nsources; ++c) {
    if (c < n) {
      for (std::size_t l = 0; l < nloci; ++l) haplotype[l] = panel.get(snp_indices[l], c);
    } else {
      for (std::size_t l = 0; l < nloci; ++l) haplotype[l] = simulated.disease_allele(locus[l], c - n);
    }
    auto entry = table.find(haplotype);
    if (entry == table.end())
      table.emplace(haplotype, w);
    else
      entry->second += w;
  }
}

namespace {

// Every haplotype of one side over the loci seen so far, with its population
// probability; kept as parallel rows so the pairing loop reads them in order.
struct SideHaplotypes {
  std::vector<std::vector<int>> haps;
  std::vector<double> probs;
};

// Groups of one side are independent: each new group's table multiplies the
// side's haplotypes, its alleles appended after those of the earlier groups.
void extend_side(const std::map<double, DiseaseLocus>& dl, const std::map<std::vector<int>, double>& table,
                 SideHaplotypes& side) {
  if (side.haps.empty()) {
    for (const auto& entry : table) {
      side.haps.push_back(entry.first);
      side.probs.push_back(entry.second);
    }
    return;
  }
  check_case_pairs(dl, side.haps.size() * table.size());
  SideHaplotypes combined;
  combined.haps.reserve(side.haps.size() * table.size());
  combined.probs.reserve(side.haps.size() * table.size());
  for (std::size_t i = 0; i < side.haps.size(); ++i) {
    for (const auto& entry : table) {
      std::vector<int> haplotype = side.haps[i];
      haplotype.insert(haplotype.end(), entry.first.begin(), entry.first.end());
      combined.haps.push_back(std::move(haplotype));
      combined.probs.push_back(side.probs[i] * entry.second);
    }
  }
  side = std::move(combined);
}

// The running total of the pair weights keys each pair: once divided by the
// total, a uniform draw finds its pair by upper_bound. A pair of weight zero
// repeats the key before it and is dropped, so it is never drawn.
struct WeightedPairs {
  std::map<double, std::vector<std::vector<int>>> cumulative;
  double total = 0.0;
  bool negative_weight = false;
};

// Random pairing weighted by the multiplicative relative risks.
WeightedPairs weigh_pairs(const std::map<double, DiseaseLocus>& dl, const SideHaplotypes* sides) {
  std::vector<const std::vector<double>*> risks;
  for (const auto& locus : dl) risks.push_back(&locus.second.rr);
  check_case_pairs(dl, sides[0].haps.size() * sides[1].haps.size());
  WeightedPairs pairs;
  for (std::size_t i = 0; i < sides[0].haps.size(); ++i) {
    const std::vector<int>& a = sides[0].haps[i];
    for (std::size_t j = 0; j < sides[1].haps.size(); ++j) {
      const std::vector<int>& b = sides[1].haps[j];
      assert(a.size() == b.size());
      assert(a.size() == dl.size());
      double R = 1.0;
      for (std::size_t d = 0; d < risks.size(); ++d) R *= (*risks[d])[a[d] + b[d]];
      const double p = R * sides[0].probs[i] * sides[1].probs[j];
      if (p < 0.0) pairs.negative_weight = true;
      pairs.total += p;
      pairs.cumulative.insert(std::make_pair(pairs.total, std::vector<std::vector<int>>{a, b}));
    }
  }
  return pairs;
}

// Without a positive, finite total the keys are no distribution to draw from.
void check_total_weight(const std::map<double, DiseaseLocus>& dl, const WeightedPairs& pairs) {
  const std::string loci = "the relative risks of the disease loci at positions" + disease_positions(dl);
  if (pairs.negative_weight)
    throw RunError(loci + " include a negative value, so no case can be simulated.\n");
  if (pairs.total == 0.0)
    throw RunError(loci + " give every case genotype weight zero, so no case can be simulated.\n");
  if (!std::isfinite(pairs.total))
    throw RunError(loci +
                   " give the case genotypes an infinite or undefined total weight, "
                   "so no case can be simulated.\n");
}

}  // namespace

// The controls are finished before any case is drawn, so a group's table
// holds for every case that has the same loci together.
const std::map<std::vector<int>, double>& TarvikGenerator::cached_control_hap_freq(
    const std::vector<int>& group) {
  std::vector<int> snp_indices;
  snp_indices.reserve(group.size());
  for (int d : group) snp_indices.push_back(dl_indices[d]);

  auto cached = control_hap_freq_cache.find(snp_indices);
  if (cached == control_hap_freq_cache.end()) {
    std::map<std::vector<int>, double> table;
    calculate_control_hap_freq(snp_indices, table);
    cached = control_hap_freq_cache.emplace(snp_indices, std::move(table)).first;
  }
  return cached->second;
}

void TarvikGenerator::calculate_case_hap_freq(
    const std::vector<std::vector<int>>* groups,
    std::map<double, std::vector<std::vector<int>>>& distribution) {
  assert(params.copy_panel_only || num_simulated_haps >= 2 * params.ncontrols);

  // Per side, loci of one group jointly, groups independently.
  SideHaplotypes sides[2];
  for (int k = 0; k < 2; ++k)
    for (const std::vector<int>& group : groups[k])
      extend_side(params.dl, cached_control_hap_freq(group), sides[k]);

  WeightedPairs pairs = weigh_pairs(params.dl, sides);
  check_total_weight(params.dl, pairs);

  distribution.clear();
  for (auto& entry : pairs.cumulative)
    distribution.insert(std::make_pair(entry.first / pairs.total, std::move(entry.second)));
}

namespace {

// Groups the loci of each side by the copying segment they lie in; the key
// names the group sizes ("1.2/3/"), which is all a case distribution
// depends on once the controls are done.
std::string group_loci(const std::vector<std::vector<int>>& locus_states,
                       std::vector<std::vector<int>>* groups) {
  std::string key;
  const int D = static_cast<int>(locus_states[0].size());
  for (int k = 0; k < 2; ++k) {
    const std::vector<int>& states = locus_states[k];
    groups[k].clear();
    std::vector<int> current(1, 0);
    for (int d = 1; d < D; ++d) {
      if (states[d] == states[d - 1]) {
        current.push_back(d);
      } else {
        key += std::to_string(current.size()) + ".";
        groups[k].push_back(std::move(current));
        current.assign(1, d);
      }
    }
    key += std::to_string(current.size()) + "/";
    groups[k].push_back(std::move(current));
  }
  return key;
}

// The candidates for the source of a disease segment of side k: the
// finished haplotypes (their alleles at the loci in `columns`) and, for side
// 1, its mate, whose alleles are those just drawn for side 0 (`mate`: 1 then,
// 0 when side 0 or when copying from the panel alone).
struct Candidates {
  const std::vector<std::vector<short>>& columns;
  const std::vector<std::vector<int>>& drawn;
  int finished;
  int side;
  int mate;
  int count() const { return finished + mate; }
  int allele(int c, int d) const { return c < finished ? columns[d][c] : drawn[0][d]; }
};

// The posterior of the candidates given the drawn alleles under the
// mutation model. A candidate's weight is the product, in locus order, of
// `match` or `mu` per locus of the group, so it depends only on which of the
// group's drawn alleles the candidate carries: the weights of small groups
// are looked up by that pattern instead of multiplied out, and normalised
// once per pattern instead of once per candidate. The values, the sum and
// its order are those of the product.
int choose_by_pattern(const Candidates& who, const std::vector<int>& group, double mu, double u) {
  const double match = 1.0 - mu;
  const int size = static_cast<int>(group.size());
  const std::vector<int>& wanted = who.drawn[who.side];
  double value[1 << max_pattern_loci];
  for (int p = 0; p < (1 << size); ++p) {
    double v = 1.0;
    for (int t = 0; t < size; ++t) v *= (p >> t & 1) ? match : mu;
    value[p] = v;
  }
  const auto pattern = [&](int c) {
    int p = 0;
    for (int t = 0; t < size; ++t)
      if (who.allele(c, group[t]) == wanted[group[t]]) p |= 1 << t;
    return p;
  };
  double sum = 0.0;
  if (size == 1) {  // the common case, read straight from the column
    const short a = static_cast<short>(wanted[group[0]]);
    const short* column = who.columns[group[0]].data();
    for (int c = 0; c < who.finished; ++c) sum += value[column[c] == a ? 1 : 0];
    if (who.mate == 1) sum += value[pattern(who.finished)];
  } else {
    for (int c = 0; c < who.count(); ++c) sum += value[pattern(c)];
  }
  assert(sum > 0.0);
  double normalised[1 << max_pattern_loci];
  for (int p = 0; p < (1 << size); ++p) normalised[p] = value[p] / sum;
  return rmultinom_from(u, who.count(), [&](int c) { return normalised[pattern(c)]; }) - 1;
}

// The same posterior for a group too large for a pattern table.
int choose_by_weights(const Candidates& who, const std::vector<int>& group, double mu, double u,
                      std::vector<double>& weights) {
  const double match = 1.0 - mu;
  weights.assign(who.count(), 1.0);
  for (int d : group) {
    const short a = static_cast<short>(who.drawn[who.side][d]);
    const short* column = who.columns[d].data();
    double* w = weights.data();
    for (int c = 0; c < who.finished; ++c) w[c] *= (column[c] == a) ? match : mu;
    if (who.mate == 1) w[who.finished] *= (who.drawn[0][d] == a) ? match : mu;
  }
  double sum = 0.0;
  for (double w : weights) sum += w;
  assert(sum > 0.0);
  for (double& w : weights) w /= sum;
  return rmultinom_from(u, static_cast<int>(weights.size()), [&](int c) { return weights[c]; }) - 1;
}

}  // namespace

const std::map<double, std::vector<std::vector<int>>>& TarvikGenerator::case_distribution(
    const std::string& key, const std::vector<std::vector<int>>* groups) {
  auto cached = case_hap_freq_cache.find(key);
  if (cached != case_hap_freq_cache.end()) return cached->second;
  std::map<double, std::vector<std::vector<int>>> distribution;
  calculate_case_hap_freq(groups, distribution);
  // A distribution depends only on its key once the controls are done, so
  // emptying the cache changes no result; it keeps many large distributions
  // from piling up in memory.
  std::size_t cached_pairs = distribution.size();
  for (const auto& entry : case_hap_freq_cache) cached_pairs += entry.second.size();
  if (cached_pairs > max_case_pairs) case_hap_freq_cache.clear();
  return case_hap_freq_cache.emplace(key, std::move(distribution)).first->second;
}

void TarvikGenerator::update_disease_snp_columns() {
  const int D = static_cast<int>(dl_indices.size());
  const int n = panel_data.nhaplotypes;
  const int h = num_simulated_haps;
  if (h <= disease_snp_columns_last_h || disease_snp_columns_indices != dl_indices ||
      disease_snp_columns.size() != dl_indices.size()) {
    disease_snp_columns.assign(D, std::vector<short>());
    disease_snp_columns_indices = dl_indices;
    for (int d = 0; d < D; ++d)
      for (int c = 0; c < n; ++c)
        disease_snp_columns[d].push_back(static_cast<short>(panel_data.panel.get(dl_indices[d], c)));
  }
  disease_snp_columns_last_h = h;
  for (int d = 0; d < D; ++d) {
    std::vector<short>& column = disease_snp_columns[d];
    for (int row = static_cast<int>(column.size()) - n; row < h; ++row)
      column.push_back(simulated.disease_allele(d, row));
  }
}

void TarvikGenerator::simulate_disease_alleles(std::vector<std::vector<int>>& locus_states,
                                               std::vector<std::vector<int>>& disease_haplotypes,
                                               const double* mutation_probabilities,
                                               const std::vector<double>* uniforms) {
  assert(locus_states.size() == 2);
  assert(locus_states[0].size() == dl_indices.size() && locus_states[1].size() == dl_indices.size());
  assert(dl_indices.size() >= 1);
  assert(static_cast<int>(simulated.haplotypes()) >= num_simulated_haps);
  assert(simulated.disease_snps() == dl_indices);

  std::vector<std::vector<int>> groups[2];
  const std::string key = group_loci(locus_states, groups);
  const std::map<double, std::vector<std::vector<int>>>& distribution = case_distribution(key, groups);
  // The case model's draws, in order: drawn before, or now.
  std::size_t used = 0;
  auto next_uniform = [&]() {
    assert(uniforms == nullptr || used < uniforms->size());
    return uniforms != nullptr ? (*uniforms)[used++] : uniform_draw();
  };
  auto drawn = distribution.upper_bound(next_uniform());
  assert(drawn != distribution.end());
  disease_haplotypes.resize(2);
  disease_haplotypes[0] = drawn->second[0];
  disease_haplotypes[1] = drawn->second[1];

  update_disease_snp_columns();
  const bool panel_only = params.copy_panel_only;
  for (int k = 0; k < 2; ++k) {
    const Candidates who{disease_snp_columns, disease_haplotypes,
                         panel_only ? panel_data.nhaplotypes : panel_data.nhaplotypes + num_simulated_haps, k,
                         panel_only ? 0 : k};
    for (const std::vector<int>& group : groups[k]) {
      const double u = next_uniform();
      const int chosen = group.size() <= static_cast<std::size_t>(max_pattern_loci)
                             ? choose_by_pattern(who, group, mutation_probabilities[k], u)
                             : choose_by_weights(who, group, mutation_probabilities[k], u, disease_source_weights);
      for (const int d : group) {
        assert(locus_states[k][d] <= -2);
        locus_states[k][d] = chosen;
      }
    }
  }
  assert(uniforms == nullptr || used == uniforms->size());
}
