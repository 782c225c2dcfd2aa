// The simulation module: the random stream and its draws, the copying model, the disease loci and the case
// model, by scripted draws on small panels and by statistics on the example panel, and individuals drawn ahead
// on a second thread. Ordinary runs, draw by draw, are pinned by the golden run of the driver tests.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "core/errors.hpp"
#include "core/thread_budget.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "engine_support.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

using Rows = std::vector<std::vector<short>>;
using Pair = std::vector<std::vector<int>>;
const double kNoMutation[2] = {0.0, 0.0};

// While installed, the current generator hands out scripted uniforms; an unscripted draw throws.
struct ScriptedDraws : Random {
  explicit ScriptedDraws(std::vector<double> v) : values(std::move(v)) { Random::Set(*this); }
  ~ScriptedDraws() override { Random::RNG = Random::Dummy; }
  double Next() override { return values.at(used++); }
  std::vector<double> values;
  std::size_t used = 0;
};

// Any generator but the plain MT takes the generic draw path; this one gives MT's draws.
struct ForwardedMT : Random {
  ~ForwardedMT() override { Random::RNG = Random::Dummy; }
  double Next() override { return MT::next_uniform(); }
};

RunConfig make_params(int ncontrols, int ncases, double theta) {
  RunConfig params;
  params.ncontrols = ncontrols;
  params.ncases = ncases;
  params.theta = theta;
  return params;
}

// A generator at the start of the case phase: disease loci as SNP index -> locus, and complete control rows.
TarvikGenerator case_generator(const std::vector<std::vector<int>>& codes, const Rows& controls,
                               const std::map<int, DiseaseLocus>& loci) {
  RunConfig params;
  params.ncontrols = static_cast<int>(controls.size() / 2);
  for (const auto& locus : loci) params.dl[10.0 * (locus.first + 1)] = locus.second;
  TarvikGenerator g(params, make_panel(codes));
  for (const auto& locus : loci) g.dl_indices.push_back(locus.first);
  set_simulated(g, controls);
  g.num_simulated_haps = static_cast<int>(controls.size());
  return g;
}

TEST(MersenneTwister, SeedWordIsTheSeedTimesTwoToThe32ClampedAndTruncated) {
  const std::pair<double, std::uint32_t> seeds[] = {
      {0.12345, 530213712u}, {1.0, 4294967295u}, {1e300, 4294967295u}, {0.0, 0u}, {-0.25, 0u},
      {0.5, 2147483648u}, {1.0 / 4294967296.0, 1u}, {0.999999999, 4294967291u}};
  for (const auto& s : seeds) EXPECT_EQ(MT::seed_word_of(s.first), s.second) << s.first;
}

// The words, drawn in bulk and one by one across several refills of the state, are the standard MT19937's.
TEST(MersenneTwister, WordsAreTheStandardGeneratorsForTheSameSeed) {
  MT generator(0.5);
  std::mt19937 standard(MT::seed_word_of(0.5));
  std::vector<std::uint32_t> words(3 * 624 + 5);
  MT::fill_words(words.data(), 1000);
  for (std::size_t i = 1000; i < words.size(); ++i) words[i] = MT::next_word();
  for (std::size_t i = 0; i < words.size(); ++i) ASSERT_EQ(words[i], standard()) << i;
}

TEST(CurrentGenerator, PlaceholderRefusesToDrawUntilAGeneratorIsSet) {
  EXPECT_THROW(uniform_draw(), RandomNotSetException);
  {
    MT generator(0.1);
    Random::Set(generator);
    { MT other(0.2); }  // never made current: its end leaves the slot alone
    EXPECT_EQ(Random::RNG, &generator);
  }
  EXPECT_EQ(Random::RNG, Random::Dummy);
  EXPECT_THROW(UniformDraws().next(), RandomNotSetException);
}

TEST(Rmultinom, ReducesTheDrawWeightByWeight) {
  const std::vector<double> quarter{0.25, 0.25, 0.5};
  const struct { std::vector<double> weights; double draw; int category; } cases[] = {
      {quarter, 0.25, 1},  // a remainder of exactly 0 picks the current category
      {quarter, 0.2500001, 2}, {quarter, 0.9, 3}, {{0.0, 1.0}, 1e-12, 2}, {{1.0, 0.0}, 0.999999, 1},
      {{0.5, 0.3}, 0.9, 2}, {{0.0, 0.0}, 0.5, 2}, {{}, 0.5, 0},  // running out gives the last
      // Ten weights of 0.1 sum below 1.0 in double arithmetic.
      {std::vector<double>(10, 0.1), 0.99999999999999995, 10},
  };
  for (const auto& c : cases) {
    std::vector<double> weights = c.weights;
    ScriptedDraws script({c.draw});
    EXPECT_EQ(rmultinom(&weights), c.category) << "draw " << c.draw << " over " << weights.size();
    EXPECT_EQ(script.used, 1u);
  }
}

// At the words next to each threshold, for probabilities across the whole range.
TEST(WordThresholds, MatchTheComparisonOfTheDrawWithTheProbability) {
  std::vector<double> probabilities = {0.0, -1.0, 1.0, 2.0, 1e-300, 0.5 / 4294967296.0,
                                       std::nextafter(0.5 / 4294967296.0, 1.0), 0.25, 0.999999,
                                       MT::uniform_of(12345), MT::uniform_of(4294967295u)};
  for (double p = 1e-12; p < 1.0; p *= 1.37) probabilities.push_back(p);
  for (const double p : probabilities) {
    const std::uint64_t below = words_below(p), at_most = words_at_most(p);
    for (const std::int64_t b : {std::int64_t(below), std::int64_t(at_most)})
      for (std::int64_t w = std::max<std::int64_t>(b - 2, 0); w <= std::min<std::int64_t>(b + 1, 4294967295LL); ++w) {
        const double u = MT::uniform_of(static_cast<std::uint32_t>(w));
        ASSERT_EQ(static_cast<std::uint64_t>(w) < below, u < p) << p << " " << w;
        ASSERT_EQ(static_cast<std::uint64_t>(w) < at_most, u <= p) << p << " " << w;
      }
  }
}

// Panel haplotype 0 is 0 1 0 and haplotype 1 is 1 0 1, all at one map position.
const Data kThreeSnps = make_panel({{0, 1}, {1, 0}, {0, 1}});

TEST(SimulateCrossovers, SwitchesWhenTheDrawExceedsTheStayingProbability) {
  // Map positions 0, 0, 1, 1, 3 with N = 2: staying probabilities 1, e^-0.5, 1, e^-1.
  const Data panel = make_panel({{0}, {0}, {0}, {0}, {0}}, {0, 0, 1, 1, 3});
  const double stay2 = std::exp(-0.5), stay4 = std::exp(-1.0), top = 1.0 - 1.0 / 8589934592.0;  // largest
  const struct { std::vector<double> draws; std::vector<int> starts; } cases[] = {
      // A draw equal to the staying probability stays; equal positions never switch.
      {{top, stay2, top, stay4}, {0}},
      {{0.5, std::nextafter(stay2, 1.0), top, std::nextafter(stay4, 1.0)}, {0, 2, 4}},
      {{0.5, 0.9, 0.5, 0.1}, {0, 2}},
  };
  for (const auto& c : cases) {
    ScriptedDraws script(c.draws);
    EXPECT_EQ(segment_starts(panel.snps_data, 2), c.starts);
    EXPECT_EQ(script.used, 4u);  // one draw per neighbouring pair of SNPs
  }
  // One SNP: no draw (the placeholder generator would throw).
  EXPECT_EQ(segment_starts(make_panel({{0, 1}}, {5}).snps_data, 3), std::vector<int>{0});
}

// Scripted draws at the edges that whole runs never meet; sources and segments in ordinary runs are pinned by
// the golden run of the driver tests.
TEST(SimulateAllAlleles, MutationThresholdNoIndividualsAndUnmutatedDiseaseAlleles) {
  const double under25 = std::nextafter(0.25, 0.0), under20 = std::nextafter(0.2, 0.0);
  const struct { int ncontrols, ncases; double theta; std::vector<double> draws; Rows rows; } cases[] = {
      // 2 + 2 crossover draws, two sources (0.1 of two candidates, then of three: panel 0), 3 + 3 allele
      // draws; mu = theta/2 / (N + theta) is 0.25, then 0.2: a draw flips only below mu.
      {1, 0, 2.0, {0.5, 0.5, 0.5, 0.5, 0.1, 0.1, 0.25, under25, 0.9, 0.2, under20, 0.1},
       {{0, 0, 0}, {0, 0, 1}}},
      {0, 0, 1.0, {}, {}},  // -n 0 0: no draws, still reported
      // A case at SNP 1 (rr2 1e6: pair (1, 1)) draws no ordinary sources; side 0's source is 0.5 of weights
      // 0.75, 0.25 (panel 0), side 1's 0.99 of 0.8, 0.2, 0.8 (its mate); the other SNPs all mutate, but the
      // disease alleles stay.
      {0, 1, 2.0, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.99, 0.01, 0.01, 0.01, 0.01},
       {{1, 1, 1}, {0, 1, 0}}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    RunConfig params = make_params(c.ncontrols, c.ncases, c.theta);
    if (c.ncases) params.dl[20] = DiseaseLocus(1, 1.0, 1e6);
    TarvikGenerator generator(params, kThreeSnps, RunLog(dir.file("run.summary")));
    if (c.ncases) generator.process_dl();
    ScriptedDraws script(c.draws);
    generator.simulate_all_alleles();
    EXPECT_EQ(script.used, c.draws.size()) << "draws left over";
    EXPECT_EQ(simulated_rows(generator), c.rows);
    const std::string log = read_file(dir.file("run.summary")), done = "\nSimulating haplotypes ... done\n";
    EXPECT_EQ(log.substr(log.size() - done.size()), done);
  }
}

TEST(CaseDistribution, OneLocusPairWeightsAreTheRiskTimesBothFrequencies) {
  const double f = 2.0 / 6, hom0 = (1 - f) * (1 - f), het = f * (1 - f), hom1 = f * f;
  const struct { DiseaseLocus locus; double w[4]; } cases[] = {
      {DiseaseLocus(1, 2.0, 4.0), {hom0, 2 * het, 2 * het, 4 * hom1}},
      // A zero-weight pair is never drawn: first, its key is 0; last, it repeats the key before it.
      {DiseaseLocus(0, 1.0, 0.0), {0.0, het, het, hom1}},
      {DiseaseLocus(1, 1.0, 0.0), {hom0, het, het, 0.0}},
  };
  for (const auto& c : cases) {
    TarvikGenerator g = case_generator({{0, 1, 0, 0}}, {{1}, {0}}, {{0, c.locus}});
    const std::vector<std::vector<int>> groups[2] = {{{0}}, {{0}}};
    std::map<double, Pair> distribution{{0.5, {}}};  // stale content is replaced
    g.calculate_case_hap_freq(groups, distribution);
    ASSERT_EQ(distribution.rbegin()->first, 1.0);
    std::map<Pair, double> p;  // the step from the key before
    for (auto e = distribution.begin(), before = e; e != distribution.end(); before = e++)
      p[e->second] = e->first - (e == before ? 0.0 : before->first);
    const double S = c.w[0] + c.w[1] + c.w[2] + c.w[3];
    for (int i = 0; i < 4; ++i) EXPECT_NEAR((p[{{i / 2}, {i % 2}}]), c.w[i] / S, 1e-12) << i;
  }
}

TEST(DiseaseAlleles, UndefinedCaseDistributionIsAnError) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::string at = "the relative risks of the disease loci at positions ";
  const std::string none = ", so no case can be simulated.\n";
  const std::string zero = " give every case genotype weight zero";
  const struct { std::vector<std::vector<double>> rr; std::string detail; } cases[] = {
      {{{0.0, 0.0, 0.0}}, at + "10" + zero + none},
      // Locus 0 allows only 0/0, locus 1 only 1/1, and no haplotype carries 0 then 1.
      {{{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}, at + "10 20" + zero + none},
      {{{1.0, -1.0, 1.0}}, at + "10 include a negative value" + none},
      {{{1.0, inf, inf}}, at + "10 give the case genotypes an infinite or undefined total weight" + none},
  };
  for (const auto& c : cases) {
    std::map<int, DiseaseLocus> loci;
    for (std::size_t d = 0; d < c.rr.size(); ++d) loci[d].rr = c.rr[d];
    TarvikGenerator g = case_generator({{0, 1, 0, 1}, {0, 1, 0, 1}}, {{1, 1}, {0, 0}}, loci);
    for (int attempt = 0; attempt < 2; ++attempt) {  // nothing half-made is cached
      Pair states(2, std::vector<int>(c.rr.size(), -2)), drawn;  // each side one disease segment
      EXPECT_EQ(error_of([&] { g.simulate_disease_alleles(states, drawn, kNoMutation); }),
                "Error encountered, program terminated: " + c.detail);
    }
    EXPECT_TRUE(g.case_hap_freq_cache.empty());
  }
}

// 2000 controls and 2000 cases with a fixed seed on 1 Mb of the bundled chr20 panel, a disease locus at a
// common SNP under a multiplicative risk, and again under no risk.
TEST(ExamplePanel, ControlsKeepThePanelStatisticsAndCasesFollowTheRiskModel) {
  const int subjects = 2000, disease = 1994801, partner = 1988682;  // partner: r^2 0.92, D > 0.15
  TempDir dir;
  RunConfig params = make_params(subjects, subjects, -1.0);
  params.haplotype_file = example_file("chr20.hap.gz");
  params.legend_file = example_file("chr20.legend.gz");
  params.genetic_map_file = example_file("chr20.map.gz");
  params.lower = 1500000;
  params.upper = 2500000;
  const auto simulate = [](TarvikGenerator g, bool forwarded = false) {
    MT rng(0.12345);
    ForwardedMT forward;
    Random::Set(forwarded ? static_cast<Random&>(forward) : rng);
    g.set_theta();
    g.process_dl();
    g.simulate_all_alleles();
    return g;
  };
  params.dl[disease] = DiseaseLocus(1, 1.5, 2.25);
  RunLog log(dir.file("run.summary"));
  ThreadBudget budget(1);
  const TarvikGenerator risk = simulate(TarvikGenerator(params, read_reference(params, log, budget)));
  // The word path taken for the plain MT draws exactly what the generic path draws.
  EXPECT_EQ(simulated_rows(simulate(TarvikGenerator(params, risk.panel_data), true)), simulated_rows(risk));
  params.dl[disease] = DiseaseLocus(1, 1.0, 1.0);
  const TarvikGenerator neutral = simulate(TarvikGenerator(params, risk.panel_data));
  const Rows rows = simulated_rows(risk);
  ASSERT_EQ(rows.size(), 4u * subjects);

  // Controls copy uniformly chosen earlier haplotypes, a Polya urn: the allele-1 frequency has mean p and
  // variance p(1-p)/m_eff, m_eff = m(n+1)/(n+m). |z| < 5 fails by chance with probability 6e-7 per SNP; mean
  // z^2 averages a few hundred blocks of linked SNPs: 1 +- 0.4 is 4 SDs.
  const double n = risk.panel_data.nhaplotypes, m = 2.0 * subjects, m_eff = m * (n + 1) / (n + m);
  int tested = 0;
  double sum_z2 = 0.0, max_z = 0.0;
  std::size_t j = 0;
  for (const auto& entry : risk.panel_data.snps_data) {
    const double p = entry.second.frequency;
    double p1 = 0;
    for (int r = 0; r < m; ++r) p1 += rows[r][j];
    ++j;
    if (p < 0.05 || p > 0.95) continue;
    const double z = (p1 / m - p) / std::sqrt(p * (1 - p) / m_eff);
    sum_z2 += z * z;
    max_z = std::max(max_z, std::fabs(z));
    ++tested;
  }
  EXPECT_EQ(rows[0].size(), j);
  ASSERT_GT(tested, 1000);
  EXPECT_LT(max_z, 5.0);
  EXPECT_NEAR(sum_z2 / tested, 1.0, 0.4);

  const auto& panel = risk.panel_data.snps_data;
  const auto freq = [&](const TarvikGenerator& g, bool cases, int position) {
    const std::size_t j = std::distance(panel.begin(), panel.find(position));
    double total = 0;
    const Rows all = simulated_rows(g);
    for (int r = 0; r < m; ++r) total += all[r + cases * m][j];
    return total / m;
  };
  const double fp = panel.at(disease).frequency;
  const auto se = [m](double p) { return std::sqrt(p * (1 - p) / m); };  // binomial, m alleles
  // Cases draw from the panel and the controls (the risk model's case frequency is checked by the report test
  // of scripts/validate.py on a real run).
  const double f0 = (fp * n + freq(neutral, false, disease) * m) / (n + m);
  EXPECT_NEAR(freq(neutral, true, disease), f0, 4 * se(f0));
  EXPECT_NEAR(freq(neutral, true, disease), freq(neutral, false, disease), 4 * std::sqrt(2.0) * se(f0));
  // The partner's allele 1 goes with the risk allele: it rises in cases only under risk.
  const double partner_se = std::sqrt(2.0) * se(panel.at(partner).frequency);
  EXPECT_GT(freq(risk, true, partner) - freq(risk, false, partner), 4 * partner_se);
  EXPECT_NEAR(freq(neutral, true, partner), freq(neutral, false, partner), 4 * partner_se);
}

}  // namespace
