// The population engine: its stream against Philox's published answers, its event draws against the exact
// per-SNP probabilities of the copying model, and whole samples against the per-SNP engine on the example panel.
#include <algorithm>
#include <cmath>

#include "core/thread_budget.hpp"
#include "sim/generator.hpp"
#include "sim/individual_stream.hpp"
#include "sim/population.hpp"
#include "sim/random.hpp"
#include "engine_support.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

TEST(IndividualStream, PhiloxGivesThePublishedAnswersAndTheStreamIsItsBlocksInOrder) {
  using P = IndividualStream::Philox;
  EXPECT_TRUE(IndividualStream::block({{0, 0, 0, 0}}, {{0, 0}}) ==
              (P::ctr_type{{0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}}));
  EXPECT_TRUE(IndividualStream::block({{~0u, ~0u, ~0u, ~0u}}, {{~0u, ~0u}}) ==
              (P::ctr_type{{0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}}));
  EXPECT_TRUE(IndividualStream::block({{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344}}, {{0xa4093822, 0x299f31d0}}) ==
              (P::ctr_type{{0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}}));
  // (seed 0, individual 0): block 0, then block 1, two words per draw; other individuals are other streams.
  IndividualStream stream(0, 0);
  EXPECT_EQ(stream.next_bits(), 0xe169c58d6627e8d5ull);
  EXPECT_EQ(stream.next_bits(), 0x9b00dbd8bc57ac4cull);
  const P::ctr_type second = IndividualStream::block({{1, 0, 0, 0}}, {{0, 0}});
  EXPECT_EQ(stream.next_bits(), std::uint64_t(second.v[1]) << 32 | second.v[0]);
  EXPECT_NE(IndividualStream(0, std::uint64_t(1) << 32).next_bits(), IndividualStream(0, 0).next_bits());
}

// Per SNP, the fraction of 40,000 haplotypes that switch there and that mutate there, against the model: a switch
// between SNPs j - 1 and j with probability 1 - exp(-(rho[j] - rho[j - 1]) / N) (never at a zero step), a
// mutation with mu, sources uniform.
TEST(PopulationEngine, EachSnpSwitchesAndMutatesWithTheModelsProbability) {
  const PopulationModel model{{0.0, 1.0, 1.0, 3.0, 3.5, 10.0, 10.1}, 4, 0.3, 17};
  const double H = 40000;
  std::vector<double> switches(7, 0), mutations(7, 0), sources(4, 0);
  DrawnIndividual one;
  for (int i = 0; i < H / 2; ++i) {
    draw_individual(model, i, {}, one);
    for (const DrawnHaplotype& h : one.haplotype) {
      for (std::size_t s = 0; s < h.segments.size(); ++s) {
        switches[h.segments[s].first_snp] += s > 0;
        sources[h.segments[s].source] += 1.0 / h.segments.size();
      }
      for (int m : h.mutations) mutations[m] += 1;
    }
  }
  for (std::size_t j = 0; j < 7; ++j) {
    const double q = j == 0 ? 0.0 : 1.0 - std::exp(-(model.rho[j] - model.rho[j - 1]) / 4.0);
    EXPECT_NEAR(switches[j] / H, q, 4 * std::sqrt(q * (1 - q) / H) + 1e-12) << j;
    EXPECT_NEAR(mutations[j] / H, 0.3, 4 * std::sqrt(0.21 / H)) << j;
  }
  for (double c : sources) EXPECT_NEAR(c / H, 0.25, 0.02);
}

// A case's disease segment takes its panel source by the posterior given the drawn allele: haplotypes 2 and 3
// carry allele 1 and weigh 1 - mu = 0.9, haplotypes 0 and 1 weigh mu = 0.1 (theta 1, n 4). With rr2 huge every
// case draws allele 1 on both sides, and its alleles there stay 1.
TEST(PopulationEngine, CaseDiseaseSegmentsTakeTheirSourcesByThePosteriorOfTheDrawnAlleles) {
  RunConfig params;
  params.ncontrols = 0;
  params.ncases = 4000;
  params.theta = 1.0;
  params.copy_panel_only = true;
  params.dl[20] = DiseaseLocus(1, 1.0, 1e9);
  TarvikGenerator g(params, make_panel({{0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 0, 0}}, {0.0, 1.0, 2.0}));
  g.process_dl();
  g.simulate_all_alleles();
  std::vector<double> sources(4, 0);
  const double H = g.simulated.haplotypes();
  for (std::size_t h = 0; h < H; ++h) {
    std::size_t count;
    const Segment* segments = g.simulated.segments_of(h, count);
    sources[(count > 1 && segments[1].first_snp <= 1 ? segments[1] : segments[0]).source] += 1;
    EXPECT_EQ(g.simulated.disease_allele(0, h), 1);
  }
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(sources[c] / H, c < 2 ? 0.05 : 0.45, 0.02) << c;
}

// The mean over SNPs of panel frequency 0.05 to 0.95 of the frequency z^2 against p' = p(1 - mu) + (1 - p) mu,
// then the mean r^2 of those SNPs `lag` apart, for each lag.
std::vector<double> statistics(const TarvikGenerator& g, double mu, const std::vector<std::size_t>& lags) {
  const std::size_t S = g.simulated.snps();
  const double H = g.simulated.haplotypes();
  std::vector<std::uint8_t> rows;
  g.source().decode_rows(0, S, rows);
  std::vector<double> f(S, 0.0), p;
  for (std::size_t k = 0; k < rows.size(); ++k) f[k % S] += rows[k] / H;
  for (const auto& entry : g.panel_data.snps_data) p.push_back(entry.second.frequency);
  const auto common = [&p](std::size_t j) { return p[j] >= 0.05 && p[j] <= 0.95; };
  std::vector<double> out(1 + lags.size(), 0.0), count(out.size(), 0.0);
  for (std::size_t j = 0; j < S; ++j) {
    const double e = p[j] * (1 - mu) + (1 - p[j]) * mu;
    if (common(j)) out[0] += std::pow(f[j] - e, 2) / (e * (1 - e) / H), count[0] += 1;
    for (std::size_t l = 0; l < lags.size(); ++l) {
      const std::size_t k = j + lags[l];
      if (j % 7 != 0 || k >= S || !common(j) || !common(k) || f[j] * f[k] * (1 - f[j]) * (1 - f[k]) == 0) continue;
      double both = 0;
      for (std::size_t h = 0; h < H; ++h) both += rows[h * S + j] & rows[h * S + k];
      out[1 + l] += std::pow(both / H - f[j] * f[k], 2) / (f[j] * (1 - f[j]) * f[k] * (1 - f[k]));
      count[1 + l] += 1;
    }
  }
  for (std::size_t s = 0; s < out.size(); ++s) out[s] /= count[s];
  return out;
}

// The whole example panel (24,978 SNPs, rho 3,037, N = 600), 2,000 individuals: the switches and mutations per
// haplotype against their exact means, then 6 samples of each engine. Frequency z^2 has mean 1 for both; one
// sample's spreads with an SD of about 0.17 (the SNPs share about five segments), so over 6 samples 0.3 is 4 SDs
// of the engines' difference. The mean r^2 of SNPs 1, 30 and 300 apart (0.47, 0.35, 0.13) spreads under 1% from
// sample to sample, 3,000 apart (0.0027) about 6%: the engines agree within 3% and 15%.
TEST(PopulationEngine, ExamplePanelEventsFrequenciesAndLdAreThoseOfThePerSnpModel) {
  TempDir dir;
  RunConfig params;
  params.haplotype_file = example_file("chr20.hap.gz");
  params.legend_file = example_file("chr20.legend.gz");
  params.genetic_map_file = example_file("chr20.map.gz");
  params.ncontrols = 2000;
  params.ncases = 0;
  params.copy_panel_only = true;
  RunLog log(dir.file("run.summary"));
  ThreadBudget budget(1);
  TarvikGenerator g(params, read_reference(params, log, budget), log, &budget);
  g.set_theta();
  g.simulate_all_alleles();
  const double n = g.panel_data.nhaplotypes, mu = g.params.theta / 2 / (n + g.params.theta);
  const double S = g.simulated.snps(), H = g.simulated.haplotypes();
  double K = 0, K_var = 0, switches = 0, mutated = 0, rho = g.panel_data.snps_data.begin()->second.cumulative_rho;
  for (const auto& entry : g.panel_data.snps_data) {
    const double q = 1 - std::exp(-(entry.second.cumulative_rho - rho) / n);
    rho = entry.second.cumulative_rho;
    K += q;
    K_var += q * (1 - q);
  }
  for (std::size_t h = 0; h < H; ++h) {
    std::size_t segments, mutations;
    g.simulated.segments_of(h, segments);
    g.simulated.mutations_of(h, mutations);
    switches += segments - 1.0;
    mutated += mutations;
  }
  EXPECT_NEAR(switches / H, K, 4 * std::sqrt(K_var / H));
  EXPECT_NEAR(mutated / H, S * mu, 4 * std::sqrt(S * mu * (1 - mu) / H));

  const std::vector<std::size_t> lags = {1, 30, 300, 3000};
  std::vector<double> mean[2] = {std::vector<double>(5, 0.0), std::vector<double>(5, 0.0)};
  for (int sample = 0; sample < 6; ++sample) {
    g.seed_word = 100 + sample;
    g.simulate_all_alleles();
    const std::vector<double> population = statistics(g, mu, lags);
    MT rng(0.01 + sample * 0.1);
    Random::Set(rng);
    g.simulated = MosaicStore(static_cast<std::size_t>(n), static_cast<std::size_t>(S), {});
    g.simulate_per_snp();
    const std::vector<double> per_snp = statistics(g, mu, lags);
    for (std::size_t s = 0; s < 5; ++s) mean[0][s] += population[s] / 6, mean[1][s] += per_snp[s] / 6;
  }
  EXPECT_NEAR(mean[0][0], 1.0, 0.3);
  EXPECT_NEAR(mean[0][0], mean[1][0], 0.3);
  for (std::size_t l = 0; l < lags.size(); ++l)
    EXPECT_NEAR(mean[0][1 + l] / mean[1][1 + l], 1.0, lags[l] < 1000 ? 0.03 : 0.15) << lags[l];
  EXPECT_GT(mean[0][1], 2 * mean[0][4]);  // LD decays
}

}  // namespace
