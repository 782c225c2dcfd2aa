#include "sim/meiosis.hpp"

#include <algorithm>
#include <cmath>

MeiosisDraws::MeiosisDraws(std::uint32_t seed_word) {
  // A stream apart from the copying model's: the same word, marked.
  std::seed_seq seeds{seed_word, 0x6d65696fu /* "meio" */};
  engine.seed(seeds);
}

double MeiosisDraws::exponential() { return -std::log1p(-uniform()); }

void meiosis(const std::vector<double>& cm, std::int32_t first_source, double denovo, MeiosisDraws& draws,
             std::vector<Segment>& segments, std::vector<int>& mutations) {
  segments.clear();
  mutations.clear();
  const int nsnps = static_cast<int>(cm.size());
  int side = draws.uniform() < 0.5 ? 0 : 1;
  segments.push_back({0, first_source + side});
  if (nsnps == 0) return;
  // The next crossover lies an exponential number of Morgans further on; it
  // separates the SNPs before it from those at or after it. Several between
  // two SNPs cancel in pairs.
  double next = cm[0] + 100.0 * draws.exponential();
  for (;;) {
    const int j = static_cast<int>(std::lower_bound(cm.begin(), cm.end(), next) - cm.begin());
    if (j >= nsnps) break;
    side ^= 1;
    const std::int32_t source = first_source + side;
    if (segments.back().first_snp == j) segments.pop_back();
    if (segments.empty())
      segments.push_back({0, source});
    else if (segments.back().source != source)
      segments.push_back({j, source});
    next += 100.0 * draws.exponential();
  }
  if (denovo <= 0.0) return;
  // Mutations by geometric jumps: the gap to the next is the number of
  // failures before a success of probability `denovo`.
  const double log_stay = std::log1p(-std::min(denovo, 1.0 - 1e-16));
  for (double at = -1.0;;) {
    at += 1.0 + std::floor(std::log1p(-draws.uniform()) / log_stay);
    if (!(at < nsnps)) break;
    mutations.push_back(static_cast<int>(at));
  }
}
