// The population engine: its stream against Philox's published answers, its event draws against the exact
// per-SNP probabilities of the copying model, and whole samples against the per-SNP engine on the example panel.
#include <cmath>
#include <algorithm>
#include <numeric>

#include "core/thread_budget.hpp"
#include "sim/generator.hpp"
#include "sim/individual_stream.hpp"
#include "sim/population.hpp"
#include "sim/random.hpp"
#include "engine_support.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

TEST(IndividualStream, PhiloxGivesThePublishedAnswersAndUniformsStayInsideTheUnitInterval) {
  using P = IndividualStream::Philox;
  const struct { P::ctr_type c; P::key_type k; P::ctr_type expected; } known[] = {
      {{{0, 0, 0, 0}}, {{0, 0}}, {{0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}}},
      {{{~0u, ~0u, ~0u, ~0u}}, {{~0u, ~0u}}, {{0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}}},
      {{{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344}}, {{0xa4093822, 0x299f31d0}},
       {{0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}}},
  };
  for (const auto& k : known) EXPECT_TRUE(IndividualStream::block(k.c, k.k) == k.expected);
  // The stream of (seed 0, individual 0) is the block of counter 0, then counter 1, two words per draw.
  IndividualStream stream(0, 0);
  EXPECT_EQ(stream.next_bits(), 0xe169c58d6627e8d5ull);
  EXPECT_EQ(stream.next_bits(), 0x9b00dbd8bc57ac4cull);
  const P::ctr_type second = IndividualStream::block({{1, 0, 0, 0}}, {{0, 0}});
  EXPECT_EQ(stream.next_bits(), std::uint64_t(second.v[1]) << 32 | second.v[0]);
  // Another individual or seed is another stream; the same one repeats.
  EXPECT_NE(IndividualStream(0, 1).next_bits(), IndividualStream(0, 0).next_bits());
  EXPECT_NE(IndividualStream(1, 0).next_bits(), IndividualStream(0, 0).next_bits());
  EXPECT_NE(IndividualStream(0, std::uint64_t(1) << 32).next_bits(), IndividualStream(0, 0).next_bits());
  EXPECT_EQ(IndividualStream(9, 5).next_bits(), IndividualStream(9, 5).next_bits());
  double lowest = 1, highest = 0;
  for (int i = 0; i < 100000; ++i) {
    const double u = stream.uniform();
    lowest = std::min(lowest, u);
    highest = std::max(highest, u);
    EXPECT_LT(stream.below(3), 3u);
  }
  EXPECT_GT(lowest, 0.0);
  EXPECT_LT(highest, 1.0);
  EXPECT_LT(lowest, 1e-4);
  EXPECT_GT(highest, 1 - 1e-4);
}

// Haplotypes drawn for individuals 0 .. count - 1 (two each); `loci` makes them cases.
std::vector<DrawnIndividual> draw_many(const PopulationModel& model, int count, const std::vector<int>& loci = {}) {
  std::vector<DrawnIndividual> all(count);
  for (int i = 0; i < count; ++i) draw_individual(model, i, loci, all[i]);
  return all;
}

// Per SNP, what fraction of haplotypes switch there and mutate there, against the model's probabilities: a
// switch between SNPs j - 1 and j with probability 1 - exp(-(rho[j] - rho[j - 1]) / N), a mutation with mu. 4 SE
// at 40,000 haplotypes is at most 0.01.
TEST(PopulationEngine, EachSnpSwitchesAndMutatesWithTheModelsProbability) {
  PopulationModel model;
  model.rho = {0.0, 1.0, 1.0, 3.0, 3.5, 10.0, 10.1};  // a zero step: never a switch there
  model.candidates = 4;
  model.mutation = 0.3;
  model.seed_word = 17;
  const int individuals = 20000;
  const double H = 2.0 * individuals;
  const std::size_t S = model.rho.size();
  std::vector<double> switches(S, 0), mutations(S, 0), sources(4, 0);
  for (const DrawnIndividual& one : draw_many(model, individuals))
    for (const DrawnHaplotype& h : one.haplotype) {
      ASSERT_EQ(h.segments.front().first_snp, 0);
      for (std::size_t s = 0; s < h.segments.size(); ++s) {
        switches[h.segments[s].first_snp] += s > 0;
        sources[h.segments[s].source] += 1;
      }
      ASSERT_TRUE(std::is_sorted(h.mutations.begin(), h.mutations.end()));
      for (int m : h.mutations) mutations[m] += 1;
    }
  for (std::size_t j = 0; j < S; ++j) {
    const double q = j == 0 ? 0.0 : 1.0 - std::exp(-(model.rho[j] - model.rho[j - 1]) / 4.0);
    EXPECT_NEAR(switches[j] / H, q, 4 * std::sqrt(q * (1 - q) / H) + 1e-12) << j;
    EXPECT_NEAR(mutations[j] / H, 0.3, 4 * std::sqrt(0.21 / H)) << j;
  }
  const double segments = std::accumulate(sources.begin(), sources.end(), 0.0);
  for (double c : sources) EXPECT_NEAR(c / segments, 0.25, 4 * std::sqrt(0.1875 / segments));

  // A case loses its mutations at the disease loci and draws one value for its alleles and one per group of
  // loci in one segment on each side.
  for (const DrawnIndividual& one : draw_many(model, 200, {2, 5})) {
    int groups = 1;
    for (const DrawnHaplotype& h : one.haplotype) {
      EXPECT_EQ(std::count(h.mutations.begin(), h.mutations.end(), 2), 0);
      EXPECT_EQ(std::count(h.mutations.begin(), h.mutations.end(), 5), 0);
      const bool apart = std::any_of(h.segments.begin(), h.segments.end(),
                                     [](const Segment& s) { return s.first_snp > 2 && s.first_snp <= 5; });
      groups += apart ? 2 : 1;
    }
    EXPECT_EQ(one.case_draws.size(), static_cast<std::size_t>(groups));
  }
  // No mutation at all when mu is 0; a run of SNPs without any map length is one segment.
  model.mutation = 0.0;
  model.rho.assign(5, 2.0);
  for (const DrawnIndividual& one : draw_many(model, 50))
    for (const DrawnHaplotype& h : one.haplotype) {
      EXPECT_TRUE(h.mutations.empty());
      EXPECT_EQ(h.segments.size(), 1u);
    }
}

RunConfig example_config(int individuals) {
  RunConfig params;
  params.haplotype_file = example_file("chr20.hap.gz");
  params.legend_file = example_file("chr20.legend.gz");
  params.genetic_map_file = example_file("chr20.map.gz");
  params.ncontrols = individuals;
  params.ncases = 0;
  params.copy_panel_only = true;
  params.seed_word = 3;
  return params;
}

// A case's disease segment takes its source from the panel by the posterior given the drawn allele: panel
// haplotypes 2 and 3 carry allele 1 at the locus and weigh 1 - mu = 0.9, haplotypes 0 and 1 weigh mu = 0.1
// (theta 1, n 4). With rr2 huge every case draws allele 1 on both sides, and its alleles there stay 1.
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
  for (std::size_t h = 0; h < g.simulated.haplotypes(); ++h) {
    std::size_t count;
    const Segment* segments = g.simulated.segments_of(h, count);
    std::size_t at = 0;
    while (at + 1 < count && segments[at + 1].first_snp <= 1) ++at;
    sources[segments[at].source] += 1;
    EXPECT_EQ(g.simulated.disease_allele(0, h), 1);
  }
  const double H = g.simulated.haplotypes();
  for (int c = 0; c < 4; ++c) {
    const double p = c < 2 ? 0.05 : 0.45;
    EXPECT_NEAR(sources[c] / H, p, 4 * std::sqrt(p * (1 - p) / H)) << c;
  }
}

struct Statistics {
  double mean_z2 = 0;
  std::vector<double> mean_r2;
};

// The frequency z^2 and the mean r^2 at each lag over the SNPs of panel frequency 0.05 to 0.95.
Statistics statistics(const TarvikGenerator& g, double mu, const std::vector<int>& lags) {
  const std::size_t S = g.simulated.snps(), H = g.simulated.haplotypes();
  std::vector<std::uint8_t> rows;
  g.source().decode_rows(0, S, rows);
  std::vector<double> f(S, 0.0), p;
  for (std::size_t h = 0; h < H; ++h)
    for (std::size_t j = 0; j < S; ++j) f[j] += rows[h * S + j];
  for (const auto& entry : g.panel_data.snps_data) p.push_back(entry.second.frequency);
  Statistics out;
  int common = 0;
  for (std::size_t j = 0; j < S; ++j) {
    if (p[j] < 0.05 || p[j] > 0.95) continue;
    const double expected = p[j] * (1 - mu) + (1 - p[j]) * mu;
    out.mean_z2 += std::pow((f[j] / H - expected) / std::sqrt(expected * (1 - expected) / H), 2);
    ++common;
  }
  out.mean_z2 /= common;
  for (const int lag : lags) {
    double sum = 0;
    int pairs = 0;
    for (std::size_t j = 0; j + lag < S; j += 7) {
      const std::size_t k = j + lag;
      if (p[j] < 0.05 || p[j] > 0.95 || p[k] < 0.05 || p[k] > 0.95) continue;
      double both = 0;
      for (std::size_t h = 0; h < H; ++h) both += rows[h * S + j] & rows[h * S + k];
      const double a = f[j] / H, b = f[k] / H, d = both / H - a * b;
      if (a > 0 && a < 1 && b > 0 && b < 1) {
        sum += d * d / (a * (1 - a) * b * (1 - b));
        ++pairs;
      }
    }
    out.mean_r2.push_back(sum / pairs);
  }
  return out;
}

// On the whole example panel (24,978 SNPs, rho 3,037, N = 600): the switches and mutations per haplotype against
// their exact means, and the allele frequencies and LD of 4,000 haplotypes against those of the per-SNP engine.
TEST(PopulationEngine, ExamplePanelEventsAndFrequenciesAreThoseOfThePerSnpModel) {
  TempDir dir;
  RunConfig params = example_config(2000);
  RunLog log(dir.file("run.summary"));
  ThreadBudget budget(1);
  TarvikGenerator engine(params, read_reference(params, log, budget), log, &budget);
  engine.set_theta();
  engine.stream_seed_word = params.seed_word;
  engine.simulate_all_alleles();
  const double n = engine.panel_data.nhaplotypes, theta = engine.params.theta, mu = theta / 2 / (n + theta);
  double K = 0, K_var = 0, rho_before = engine.panel_data.snps_data.begin()->second.cumulative_rho;
  for (const auto& entry : engine.panel_data.snps_data) {
    const double q = 1 - std::exp(-(entry.second.cumulative_rho - rho_before) / n);
    rho_before = entry.second.cumulative_rho;
    K += q;
    K_var += q * (1 - q);
  }
  const double S = engine.simulated.snps(), H = engine.simulated.haplotypes();
  double switches = 0, mutated = 0;
  for (std::size_t h = 0; h < H; ++h) {
    std::size_t segments, mutations;
    engine.simulated.segments_of(h, segments);
    engine.simulated.mutations_of(h, mutations);
    switches += segments - 1.0;
    mutated += mutations;
  }
  EXPECT_NEAR(switches / H, K, 4 * std::sqrt(K_var / H));
  EXPECT_NEAR(mutated / H, S * mu, 4 * std::sqrt(S * mu * (1 - mu) / H));

  // Both engines copy independently from the panel, so at each SNP the frequency of H haplotypes has mean
  // p' = p(1 - mu) + (1 - p) mu and variance p'q'/H: z^2, averaged over the common SNPs, has mean 1. The SNPs
  // share segments (about five switches in the interval), so one sample's average spreads with an SD of about
  // 0.17 (skewed to the right); over 6 samples per engine, 0.3 is 4 SDs of their difference. LD: the mean r^2
  // of common SNPs 1, 30 and 300 SNPs apart (0.47, 0.35, 0.13) spreads by under 1% from sample to sample, at
  // 3,000 apart (0.0027) by about 6%: over 6 samples the engines agree within 3% and 15%.
  const std::vector<int> lags = {1, 30, 300, 3000};
  double z2[2] = {0, 0}, r2[2][4] = {};
  const int samples = 6;
  for (int sample = 0; sample < samples; ++sample) {
    engine.stream_seed_word = 100 + sample;
    engine.simulate_all_alleles();
    const Statistics population = statistics(engine, mu, lags);
    MT rng(0.01 + sample * 0.1);
    Random::Set(rng);
    engine.simulated = MosaicStore(static_cast<std::size_t>(n), static_cast<std::size_t>(S), {});
    engine.simulate_per_snp();
    const Statistics per_snp = statistics(engine, mu, lags);
    for (int e = 0; e < 2; ++e) {
      const Statistics& of = e == 0 ? population : per_snp;
      z2[e] += of.mean_z2 / samples;
      for (std::size_t l = 0; l < lags.size(); ++l) r2[e][l] += of.mean_r2[l] / samples;
    }
  }
  EXPECT_NEAR(z2[0], 1.0, 0.3);
  EXPECT_NEAR(z2[0], z2[1], 0.3);
  for (std::size_t l = 0; l < lags.size(); ++l)
    EXPECT_NEAR(r2[0][l] / r2[1][l], 1.0, lags[l] < 1000 ? 0.03 : 0.15) << lags[l];
  EXPECT_GT(r2[0][0], 2 * r2[0][3]);  // LD decays
}

}  // namespace
