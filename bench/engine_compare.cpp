// The two engines of -copy_panel_only runs side by side on one panel: the
// per-SNP engine (one stream, every SNP of every haplotype) and the
// population engine (each individual its own stream, only the events drawn)
// each simulate the same number of individuals; printed for each are the
// mean segments and mutations per haplotype against the model's exact means,
// the mean length of interior segments, and the mean r2 of fixed SNP pairs
// (both minor-allele frequencies at least 0.05; "near": at most 60 map units
// apart, "far": 60 to 120) over all simulated haplotypes, beside the panel's.
// With many haplotypes the r2 of a sample is close to its model's expectation,
// so two engines of one model print nearly the same numbers.
//
//   engine_compare <hap> <legend> <map> <individuals>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_panel.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"

namespace {

using Pairs = std::vector<std::pair<int, int>>;

int allele(const MosaicStore& store, const BitMatrix& panel, std::size_t h, int j) {
  std::size_t count, nmutations;
  const Segment* segments = store.segments_of(h, count);
  const std::int32_t* mutations = store.mutations_of(h, nmutations);
  std::size_t i = 0;
  while (i + 1 < count && segments[i + 1].first_snp <= j) ++i;
  const bool mutated = std::binary_search(mutations, mutations + nmutations, j);
  return panel.get(static_cast<std::size_t>(j), static_cast<std::size_t>(segments[i].source)) ^ mutated;
}

// Mean r2 of the pairs over the store's haplotypes, or the panel's when `store` is null.
double mean_r2(const MosaicStore* store, const BitMatrix& panel, std::size_t panel_haplotypes, const Pairs& pairs) {
  const std::size_t T = store != nullptr ? store->haplotypes() : panel_haplotypes;
  double total = 0.0;
  for (const auto& [j, k] : pairs) {
    double both = 0, first = 0, second = 0;
    for (std::size_t h = 0; h < T; ++h) {
      const int a = store != nullptr ? allele(*store, panel, h, j) : panel.get(static_cast<std::size_t>(j), h);
      const int b = store != nullptr ? allele(*store, panel, h, k) : panel.get(static_cast<std::size_t>(k), h);
      both += a & b;
      first += a;
      second += b;
    }
    const double p = first / T, q = second / T, d = both / T - p * q;
    total += d * d / (p * (1 - p) * q * (1 - q));
  }
  return total / static_cast<double>(pairs.size());
}

// 1,500 pairs of each kind, drawn by a fixed xorshift so that both engines see the same ones.
void choose_pairs(const Data& panel, const std::vector<double>& rho, Pairs& near, Pairs& far) {
  std::vector<double> maf;
  for (std::size_t j = 0; j < rho.size(); ++j) {
    double ones = 0;
    for (int h = 0; h < panel.nhaplotypes; ++h) ones += panel.panel.get(j, static_cast<std::size_t>(h));
    maf.push_back(std::min(ones, panel.nhaplotypes - ones) / panel.nhaplotypes);
  }
  std::uint64_t x = 88172645463325252ull;
  const auto next = [&x] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
  const std::size_t wanted = 1500, S = rho.size();
  for (int tries = 0; (near.size() < wanted || far.size() < wanted) && tries < 100000000; ++tries) {
    const std::size_t j = next() % S, k = j + 1 + next() % 400;
    if (k >= S || maf[j] < 0.05 || maf[k] < 0.05) continue;
    const double d = rho[k] - rho[j];
    if (d < 60 && near.size() < wanted) near.emplace_back(j, k);
    else if (d >= 60 && d < 120 && far.size() < wanted) far.emplace_back(j, k);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: engine_compare <hap> <legend> <map> <individuals>\n");
    return 2;
  }
  const Data panel = read_bench_panel(argv);
  RunLog log = RunLog::silent();
  std::vector<double> rho;
  for (const auto& entry : panel.snps_data) rho.push_back(entry.second.cumulative_rho);
  Pairs near, far;
  choose_pairs(panel, rho, near, far);
  const std::size_t n = static_cast<std::size_t>(panel.nhaplotypes);
  std::printf("panel: mean r2 near %.5f, far %.5f (%zu and %zu pairs)\n", mean_r2(nullptr, panel.panel, n, near),
              mean_r2(nullptr, panel.panel, n, far), near.size(), far.size());
  RunConfig sample;
  sample.ncontrols = std::atoi(argv[4]);
  sample.ncases = 0;
  sample.copy_panel_only = true;
  for (const bool population : {false, true}) {
    TarvikGenerator g(sample, panel, log);
    MT generator(0.2468);
    Random::Set(generator);
    g.set_theta();
    g.seed_word = 777;
    g.simulated = MosaicStore(n, rho.size(), {});
    population ? g.simulate_population() : g.simulate_per_snp();
    const MosaicStore& s = g.simulated;
    double segments = 0, mutations = 0, interior = 0, length = 0;
    for (std::size_t h = 0; h < s.haplotypes(); ++h) {
      std::size_t count, nmutations;
      const Segment* seg = s.segments_of(h, count);
      s.mutations_of(h, nmutations);
      segments += count;
      mutations += nmutations;
      for (std::size_t i = 0; i + 1 < count; ++i, ++interior) length += rho[seg[i + 1].first_snp] - rho[seg[i].first_snp];
    }
    const double T = s.haplotypes(), mu = (g.params.theta * 0.5) / (panel.nhaplotypes + g.params.theta);
    std::printf("%-10s %zu haplotypes: segments %.4f (model %.4f), mutations %.4f (model %.4f), interior segment "
                "length %.2f map units; mean r2 near %.5f, far %.5f\n",
                population ? "population" : "per-SNP", s.haplotypes(), segments / T,
                1 + (rho.back() - rho.front()) / panel.nhaplotypes, mutations / T, mu * rho.size(), length / interior,
                mean_r2(&s, panel.panel, n, near), mean_r2(&s, panel.panel, n, far));
  }
  return 0;
}
