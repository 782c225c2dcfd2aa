// The simulation module: the random stream and its draws, the copying model, the disease loci
// and the case model, by scripted draws on small panels and by statistics on the example panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "params/errors.hpp"
#include "scripted_draws.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "test_support.hpp"

using testing_support::TempDir;
using testing_support::read_file;

namespace {

using Rows = std::vector<std::vector<short>>;
using Pair = std::vector<std::vector<int>>;
using Groups = std::vector<std::vector<int>>;
const double kNoMutation[2] = {0.0, 0.0};
const double kJustBelowOne = 1.0 - 1.0 / 8589934592.0;  // the largest MT draw

// Any generator but the plain MT takes the generic draw path; this one gives MT's draws.
struct ForwardedMT : Random {
  ~ForwardedMT() override { Random::RNG = Random::Dummy; }
  double Next() override { return MT::next_uniform(); }
};

// SNP j at position 10 (j + 1), map position rho[j] (default 0), codes[j] per panel haplotype.
Data make_panel(const std::vector<std::vector<int>>& codes, const std::vector<double>& rho = {}) {
  Data data;
  data.nhaplotypes = static_cast<int>(codes[0].size());
  for (std::size_t j = 0; j < codes.size(); ++j) {
    snp& s = data.snps_data[10 * (j + 1)];
    s.cumulative_rho = rho.empty() ? 0.0 : rho[j];
    s.haplotypes = codes[j];
    s.frequency = std::accumulate(codes[j].begin(), codes[j].end(), 0.0) / codes[j].size();
  }
  return data;
}

TarvikParameters make_params(const TempDir& dir, int ncontrols, int ncases, double theta) {
  TarvikParameters params;
  params.summary_file = dir.file("run.summary");
  params.ncontrols = ncontrols;
  params.ncases = ncases;
  params.theta = theta;
  return params;
}

// A generator at the start of the case phase: disease loci as SNP index -> locus, and complete
// control rows.
TarvikGenerator case_generator(const std::vector<std::vector<int>>& codes, const Rows& controls,
                               const std::map<int, DiseaseLocus>& loci) {
  TarvikParameters params;
  params.ncontrols = static_cast<int>(controls.size() / 2);
  params.ncases = 1;
  for (const auto& locus : loci) params.dl[10.0 * (locus.first + 1)] = locus.second;
  TarvikGenerator g(params, make_panel(codes));
  for (const auto& locus : loci) g.dl_indices.push_back(locus.first);
  g.simulated_haplotypes = controls;
  g.num_simulated_haps = static_cast<int>(controls.size());
  return g;
}

// A stretch of the bundled chr20 panel.
TarvikParameters example_params(const TempDir& dir, int lower, int upper, int ncontrols, int ncases) {
  TarvikParameters params = make_params(dir, ncontrols, ncases, -1.0);
  params.haplotype_file = testing_support::example_file("chr20.hap.gz");
  params.legend_file = testing_support::example_file("chr20.legend.gz");
  params.genetic_map_file = testing_support::example_file("chr20.map.gz");
  params.lower = lower;
  params.upper = upper;
  return params;
}

// Probability of each pair of a case distribution: the step from the key before.
std::map<Pair, double> probabilities(TarvikGenerator& g, const Groups& side0, const Groups& side1) {
  const Groups groups[2] = {side0, side1};
  std::map<double, Pair> distribution{{0.5, {}}};  // stale content is replaced
  g.calculate_case_hap_freq(groups, distribution);
  EXPECT_EQ(distribution.rbegin()->first, 1.0);
  std::map<Pair, double> out;
  double previous = 0.0;
  for (const auto& entry : distribution) {
    out[entry.second] = entry.first - previous;
    previous = entry.first;
  }
  return out;
}

// Copying states of a case haplotype whose SNP j lies in disease segment segment_of_snp[j].
std::vector<int> labels(const std::vector<int>& segment_of_snp) {
  std::vector<int> row;
  for (int i : segment_of_snp) row.push_back(-2 - i);
  return row;
}

Pair draw(TarvikGenerator& g, Pair& states, const double* mu = kNoMutation) {
  Pair drawn;
  g.simulate_disease_alleles(states, drawn, mu);
  return drawn;
}

TEST(MersenneTwister, SeedWordsAndEveryDrawPathContinueOneSharedStandardStream) {
  // s * 2^32 clamped to [0, 2^32 - 1], truncated.
  const std::pair<double, std::uint32_t> seeds[] = {
      {0.12345, 530213712u}, {1.0, 4294967295u}, {1e300, 4294967295u}, {0.0, 0u}, {-0.25, 0u},
      {0.5, 2147483648u}, {1.0 / 4294967296.0, 1u}, {0.999999999, 4294967291u}};
  for (const auto& s : seeds) EXPECT_EQ(MT::seed_word_of(s.first), s.second) << s.first;
  MT::reset_unseeded();
  EXPECT_EQ(MT::next_word(), std::mt19937()());  // a state never seeded starts as the standard one

  MT first(0.9);
  first.Next();
  MT second(0.12345 + 1e-11);  // reseeds the shared state; same seed word as 0.12345
  Random::Set(second);
  UniformDraws draws;
  std::mt19937 reference(530213712u);
  for (int i = 0; i < 2000; ++i) {
    const double u = i % 3 == 0 ? uniform_draw() : i % 3 == 1 ? first.Next() : draws.next();
    ASSERT_EQ(u, (reference() + 0.5) * 2.3283064365386963e-10) << "draw " << i;  // in (0, 1)
  }
  std::vector<std::uint32_t> words(1500);
  MT::fill_words(words.data(), words.size());  // crosses two regenerations of the state
  for (std::uint32_t w : words) ASSERT_EQ(w, reference());
}

TEST(CurrentGenerator, PlaceholderRefusesToDrawUntilAGeneratorIsSet) {
  EXPECT_EQ(Random::RNG, Random::Dummy);
  EXPECT_THROW(uniform_draw(), RandomNotSetException);
  EXPECT_STREQ(RandomNotSetException().message, "Newran: uniform rng not setup");
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

// Word thresholds agree with the double comparisons they replace, at the
// words next to each threshold, for probabilities across the whole range.
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

TEST(ProcessDl, KeepsLociOnPolymorphicPanelSnpsReportsTheOthersAndStopsIfNoneIsLeft) {
  // Frequencies 0.5 at 10, 0 at 20, 1 at 30, 0.25 at 40.
  const Data panel = make_panel({{0, 1, 0, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 1, 0}});
  const std::string start = "\nProcessing disease loci ... ", end = "done \n\n";
  const std::string missing = "\ncannot find snp information for position ";
  const std::string removed = ", so it has been removed from the set of disease loci.\n";
  const struct { std::vector<double> loci; std::vector<int> kept; std::string log; } cases[] = {
      {{40, 10}, {0, 3}, start + end},
      {{10, 15, 39, 10.5, 12345678}, {0},
       start + missing + "10.5" + removed + missing + "15" + removed + missing + "39" + removed +
           missing + "1.23457e+07" + removed + end},
      {{30, 10, 40}, {0, 3}, start + "\nsnp at position 30 has frequency 1" + removed + end},
      {{20, 30}, {}, start + "\nsnp at position 20 has frequency 0" + removed +
           "\nsnp at position 30 has frequency 1" + removed + end +
           "No suitable disease loci. Program terminated.\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TarvikParameters params = make_params(dir, 1, 1, 1.0);
    for (double position : c.loci) params.dl[position] = DiseaseLocus(1, 2.0, 4.0);
    TarvikGenerator generator(params, panel);
    if (c.kept.empty()) {
      EXPECT_THROW(generator.process_dl(), RunTerminated);
    } else {
      generator.process_dl();
      EXPECT_EQ(generator.dl_indices, c.kept);
      EXPECT_EQ(generator.params.dl.size(), c.kept.size());
    }
    EXPECT_EQ(read_file(dir.file("run.summary")), c.log);
  }
}

TEST(SimulateCrossovers, SwitchesWhenTheDrawExceedsTheStayingProbability) {
  // Map positions 0, 0, 1, 1, 3 with N = 2: staying probabilities 1, e^-0.5, 1, e^-1.
  const Data panel = make_panel({{0}, {0}, {0}, {0}, {0}}, {0, 0, 1, 1, 3});
  const double stay2 = std::exp(-0.5), stay4 = std::exp(-1.0), top = kJustBelowOne;
  const struct { std::vector<double> draws; std::vector<std::vector<int>> segments; } cases[] = {
      // A draw equal to the staying probability stays; equal positions never switch.
      {{top, stay2, top, stay4}, {{0, 1, 2, 3, 4}}},
      {{0.5, std::nextafter(stay2, 1.0), top, std::nextafter(stay4, 1.0)}, {{0, 1}, {2, 3}, {4}}},
      {{0.5, 0.9, 0.5, 0.1}, {{0, 1}, {2, 3, 4}}},
  };
  TempDir dir;
  TarvikGenerator generator(make_params(dir, 1, 0, 1.0), panel);
  for (const auto& c : cases) {
    ScriptedDraws script(c.draws);
    std::vector<std::vector<int>> segments{{99}};
    generator.simulate_crossovers(panel.snps_data, 2, segments);
    EXPECT_EQ(segments, c.segments);
    EXPECT_EQ(script.used, 4u);  // one draw per neighbouring pair of SNPs
  }
  std::vector<std::vector<int>> segments;
  generator.simulate_crossovers(make_panel({{0, 1}}, {5}).snps_data, 3, segments);  // the placeholder would throw
  EXPECT_EQ(segments, std::vector<std::vector<int>>{{0}});
}

// Scripted draws at the edges that whole runs never meet; sources and segments in ordinary runs
// are pinned by the golden run of the driver tests.
TEST(SimulateAllAlleles, MutationThresholdNoIndividualsAndUnmutatedDiseaseAlleles) {
  const double under25 = std::nextafter(0.25, 0.0), under20 = std::nextafter(0.2, 0.0);
  const struct {
    int ncontrols, ncases;
    double theta;
    std::vector<double> draws;
    Rows rows;
  } cases[] = {
      // 2 + 2 crossover draws, two sources (0.1 of two candidates, then of three: panel 0), 3 + 3
      // allele draws; mu = theta/2 / (N + theta) is 0.25, then 0.2: a draw flips only below mu.
      {1, 0, 2.0, {0.5, 0.5, 0.5, 0.5, 0.1, 0.1, 0.25, under25, 0.9, 0.2, under20, 0.1},
       {{0, 0, 0}, {0, 0, 1}}},
      {0, 0, 1.0, {}, {}},  // -n 0 0: no draws, still reported
      // A case at SNP 1 (rr2 1e6: pair (1, 1)) draws no ordinary sources; side 0's source is
      // 0.5 of weights 0.75, 0.25 (panel 0), side 1's 0.99 of 0.8, 0.2, 0.8 (its mate); the
      // other SNPs all mutate, but the disease alleles stay.
      {0, 1, 2.0, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.99, 0.01, 0.01, 0.01, 0.01},
       {{1, 1, 1}, {0, 1, 0}}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TarvikParameters params = make_params(dir, c.ncontrols, c.ncases, c.theta);
    if (c.ncases) params.dl[20] = DiseaseLocus(1, 1.0, 1e6);
    TarvikGenerator generator(params, kThreeSnps);
    if (c.ncases) generator.process_dl();
    ScriptedDraws script(c.draws);
    generator.simulate_all_alleles();
    EXPECT_EQ(script.used, c.draws.size()) << "draws left over";
    EXPECT_EQ(generator.simulated_haplotypes, c.rows);
    std::vector<int> phenotypes(c.ncontrols, 0);
    phenotypes.resize(c.ncontrols + c.ncases, 1);
    EXPECT_EQ(generator.simulated_phenotypes, phenotypes);
    EXPECT_EQ(generator.num_simulated_haps, static_cast<int>(c.rows.size()));
    const std::string log = read_file(dir.file("run.summary"));
    const std::string done = "\nSimulating haplotypes ... done\n";
    EXPECT_EQ(log.substr(log.size() - done.size()), done);
  }
}

// The fixed seed and the log order of a whole run are pinned by the golden run of the driver tests.
TEST(SimulateHaplotypes, ClockSeedIsReportedAndTheGeneratorReleased) {
  TempDir dir;
  TarvikParameters params = make_params(dir, 2, 1, 0.0);
  params.output_file = dir.file("out");
  params.output_directory = dir.path();
  params.dl[20] = DiseaseLocus(1, 2.0, 4.0);
  TarvikGenerator generator(params, kThreeSnps);
  generator.simulate_haplotypes();
  EXPECT_EQ(Random::RNG, Random::Dummy);
  const std::string log = read_file(dir.file("run.summary")), label = "\nRandom seed set to ";
  ASSERT_EQ(log.compare(0, label.size(), label), 0) << log;
  std::size_t digits = 0;
  const double seed = std::stod(log.substr(label.size()), &digits);
  EXPECT_TRUE(seed >= 0.0 && seed <= 1.0) << seed;
  const std::string rest = "\n\nProcessing disease loci ... done \n\n\nSimulating haplotypes ... done\n";
  EXPECT_EQ(log.substr(label.size() + digits, rest.size()), rest);
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
    std::map<Pair, double> p = probabilities(g, {{0}}, {{0}});
    const double S = c.w[0] + c.w[1] + c.w[2] + c.w[3];
    for (int i = 0; i < 4; ++i) EXPECT_NEAR((p[{{i / 2}, {i % 2}}]), c.w[i] / S, 1e-12) << i;
  }
}

TEST(CaseDistribution, LociOfOneGroupAreDrawnJointlyAndGroupsIndependently) {
  // Haplotypes (0,0) x4, (0,1) x1, (1,0) x2 in panel and controls, never (1,1); neutral risks.
  TarvikGenerator g =
      case_generator({{0, 0, 1, 1, 0}, {0, 1, 0, 0, 0}}, {{0, 0}, {0, 0}},
                     {{0, DiseaseLocus(1, 1.0, 1.0)}, {1, DiseaseLocus(0, 1.0, 1.0)}});
  g.simulated_haplotypes.push_back({1, 1});  // a half-built case row is no source
  const std::map<Pair, double> p = probabilities(g, {{0}, {1}}, {{0, 1}});
  const double p0 = 2.0 / 7, p1 = 1.0 / 7;  // allele-1 frequencies at the two loci
  const std::map<std::vector<int>, double> side0 = {{{0, 0}, (1 - p0) * (1 - p1)},
      {{0, 1}, (1 - p0) * p1}, {{1, 0}, p0 * (1 - p1)}, {{1, 1}, p0 * p1}};
  const std::map<std::vector<int>, double> side1 = {
      {{0, 0}, 4.0 / 7}, {{0, 1}, 1.0 / 7}, {{1, 0}, 2.0 / 7}};
  ASSERT_EQ(p.size(), 12u);
  for (const auto& a : side0)
    for (const auto& b : side1)
      EXPECT_NEAR(p.at({a.first, b.first}), a.second * b.second, 1e-12);
}

TEST(DiseaseAlleles, EachDiseaseSegmentTakesOneSourceCarryingTheDrawnAlleles) {
  // Loci at SNPs 3 and 5. Haplotype 0: source 7 on SNPs 0-1, one disease segment on 2-7, source 4
  // on 8-9. Haplotype 1: disease segments from the first SNP to 4 and from 5 to the last.
  const std::vector<int> alleles = {0, 1, 0, 1, 1, 0, 0, 1};  // of each panel haplotype, every SNP
  TarvikGenerator g = case_generator(std::vector<std::vector<int>>(10, alleles), {},
      {{3, DiseaseLocus(1, 3.0, 9.0)}, {5, DiseaseLocus(0, 2.0, 4.0)}});
  const int n = 8;
  MT rng(0.3);
  Random::Set(rng);
  int mate_chosen = 0;
  for (int round = 0; round < 2; ++round) {
    if (round == 1) g.simulated_haplotypes = {std::vector<short>(10, 0), std::vector<short>(10, 1)};
    if (round == 1) g.num_simulated_haps = 2;  // a new run, with fewer and different rows
    for (int i = 0; i < 150; ++i) {
      Pair states = {
          {7, 7, -3, -3, -3, -3, -3, -3, 4, 4}, {-2, -2, -2, -2, -2, -3, -3, -3, -3, -3}};
      const Pair drawn = draw(g, states);  // without mutation
      const int s = states[0][2], a = states[1][0], b = states[1][9], h = g.num_simulated_haps;
      EXPECT_EQ(states[0], (std::vector<int>{7, 7, s, s, s, s, s, s, 4, 4}));
      EXPECT_EQ(states[1], (std::vector<int>{a, a, a, a, a, b, b, b, b, b}));
      // Real candidates; only haplotype 1 may copy its mate (n + h).
      ASSERT_TRUE(s >= 0 && a >= 0 && b >= 0 && s < n + h && a <= n + h && b <= n + h);
      const auto allele = [&](int c, int d) {  // of candidate c at locus d
        return c < n       ? alleles[c]
               : c < n + h ? g.simulated_haplotypes[c - n][3 + 2 * d]
                           : drawn[0][d];
      };
      ASSERT_EQ((Pair{{allele(s, 0), allele(s, 1)}, {allele(a, 0), allele(b, 1)}}), drawn) << i;
      mate_chosen += (a == n + h) + (b == n + h);
      if (round == 1) continue;
      for (int k = 0; k < 2; ++k) {  // the finished case becomes a candidate of the next
        g.simulated_haplotypes.emplace_back(10, 0);
        g.simulated_haplotypes.back()[3] = static_cast<short>(drawn[k][0]);
        g.simulated_haplotypes.back()[5] = static_cast<short>(drawn[k][1]);
      }
      g.num_simulated_haps += 2;
    }
  }
  EXPECT_GT(mate_chosen, 0);
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
      Pair states = {labels({0, 0}), labels({0, 0})};
      try {
        draw(g, states);
        ADD_FAILURE() << "no error for " << c.detail;
      } catch (const GenericErrorException& e) {
        EXPECT_EQ(e.detail, c.detail);
        EXPECT_EQ(e.prefix, "Error encountered, program terminated: ");
      }
    }
    EXPECT_TRUE(g.case_hap_freq_cache.empty());
  }
}

// Controls simulated on a 1 Mb stretch of the bundled chr20 panel.
TEST(ExamplePanel, ControlsKeepThePanelFrequenciesAndLinkage) {
  TempDir dir;
  const int controls = 1000;
  TarvikGenerator g(example_params(dir, 1500000, 2500000, controls, 0));
  g.set_theta();
  MT rng(0.12345);
  Random::Set(rng);
  g.simulate_all_alleles();
  const Rows& rows = g.simulated_haplotypes;
  ASSERT_EQ(rows.size(), 2u * controls);

  // Each row copies a uniformly chosen earlier one (panel or simulated), a Polya urn: at a SNP the
  // allele-1 frequency has mean p and variance p(1-p)/m_eff, m_eff = m(n+1)/(n+m) = 462.
  // |z| < 5 fails by chance with probability 6e-7 per SNP (p >= 0.05, z about normal); mean z^2
  // averages a few hundred independent blocks of linked SNPs (SD near 0.1): 1 +- 0.4 is 4 SDs.
  // Neighbours switch source with probability about 1e-4, so pairs follow the same urn: r^2 has
  // SD <= sqrt(4 r^2 (1-r^2)^2 / m_eff) <= 0.036, so 0.18 is 5 SDs (frequencies in [0.1, 0.9]);
  // the mean difference errs by < 0.01 over >= 100 blocks, with bias <= (1-r^2)^2 / m_eff = 0.002.
  const double n = g.panel_data.nhaplotypes, m = rows.size(), m_eff = m * (n + 1) / (n + m);
  const auto r2 = [](double p1, double p2, double p11) {
    return (p11 - p1 * p2) * (p11 - p1 * p2) / (p1 * (1 - p1) * p2 * (1 - p2));
  };
  std::vector<const snp*> snps;
  for (const auto& entry : g.panel_data.snps_data) snps.push_back(&entry.second);
  int tested = 0, pairs = 0;
  double sum_z2 = 0.0, max_z = 0.0, sum_d = 0.0, max_d = 0.0;
  for (std::size_t j = 0; j < snps.size(); ++j) {
    const snp& a = *snps[j];
    double p1 = 0, p2 = 0, p11 = 0, panel11 = 0;
    for (const auto& row : rows) {
      ASSERT_TRUE(row.at(j) == 0 || row[j] == 1) << row[j];
      p1 += row[j];
    }
    if (a.frequency >= 0.05 && a.frequency <= 0.95) {
      const double z = (p1 / m - a.frequency) / std::sqrt(a.frequency * (1 - a.frequency) / m_eff);
      sum_z2 += z * z;
      max_z = std::max(max_z, std::fabs(z));
      ++tested;
    }
    if (j + 1 == snps.size()) break;
    const snp& b = *snps[j + 1];
    if (std::fabs(a.frequency - 0.5) > 0.4 || std::fabs(b.frequency - 0.5) > 0.4) continue;
    for (int c = 0; c < n; ++c) panel11 += a.haplotypes[c] * b.haplotypes[c];
    for (const auto& row : rows) {
      p2 += row[j + 1];
      p11 += row[j] * row[j + 1];
    }
    const double d = r2(p1 / m, p2 / m, p11 / m) - r2(a.frequency, b.frequency, panel11 / n);
    sum_d += d;
    max_d = std::max(max_d, std::fabs(d));
    ++pairs;
  }
  EXPECT_EQ(rows[0].size(), snps.size());
  ASSERT_GT(tested, 1000);
  EXPECT_LT(max_z, 5.0);
  EXPECT_NEAR(sum_z2 / tested, 1.0, 0.4);
  ASSERT_GT(pairs, 500);
  EXPECT_LT(max_d, 0.18);
  EXPECT_LT(std::fabs(sum_d / pairs), 0.03);
}

// A disease locus at a common SNP of a 300 kb stretch of the bundled panel; 2000 controls and
// 2000 cases with a fixed seed, under a multiplicative risk and under no risk.
TEST(CaseModelOnPanel, CasesCarryTheRiskAlleleAndItsLinkedSnpAsTheModelSays) {
  const int subjects = 2000, disease = 1994801, partner = 1988682;  // partner: r^2 0.92, D > 0.15
  TempDir dir;
  TarvikParameters params = example_params(dir, 1850000, 2150000, subjects, subjects);
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
  const TarvikGenerator risk = simulate(TarvikGenerator(params));
  // The word path taken for the plain MT draws exactly what the generic path draws.
  EXPECT_EQ(simulate(TarvikGenerator(params, risk.panel_data), true).simulated_haplotypes,
            risk.simulated_haplotypes);
  params.dl[disease] = DiseaseLocus(1, 1.0, 1.0);
  const TarvikGenerator neutral = simulate(TarvikGenerator(params, risk.panel_data));
  const auto& snps = risk.panel_data.snps_data;
  const auto freq = [&](const TarvikGenerator& g, bool cases, int position) {
    const std::size_t j = std::distance(snps.begin(), snps.find(position));
    double total = 0;
    for (int r = 0; r < 2 * subjects; ++r)
      total += g.simulated_haplotypes[r + cases * 2 * subjects][j];
    return total / (2 * subjects);
  };
  const double n = risk.panel_data.nhaplotypes, m = 2.0 * subjects, fp = snps.at(disease).frequency;
  const auto se = [m](double p) { return std::sqrt(p * (1 - p) / m); };  // binomial, m alleles

  // Cases draw from the panel and the controls. Under a multiplicative model every case allele is
  // an independent draw, so the case frequency is binomial around its expectation.
  const double f = (fp * n + freq(risk, false, disease) * m) / (n + m);
  const double expected =
      f * (1.5 * (1 - f) + 2.25 * f) / ((1 - f) * (1 - f) + 3 * f * (1 - f) + 2.25 * f * f);
  EXPECT_NEAR(freq(risk, true, disease), expected, 4 * se(expected)) << "f " << f;
  EXPECT_GT(expected - f, 0.05);  // cases differ visibly from controls
  // Controls are a Polya urn started from the n panel haplotypes: variance p(1-p)(n+m)/(m(n+1)).
  EXPECT_NEAR(freq(risk, false, disease), fp, 4 * se(fp) * std::sqrt((n + m) / (n + 1)));
  const double f0 = (fp * n + freq(neutral, false, disease) * m) / (n + m);
  EXPECT_NEAR(freq(neutral, true, disease), f0, 4 * se(f0));
  EXPECT_NEAR(freq(neutral, true, disease), freq(neutral, false, disease),
              4 * std::sqrt(2.0) * se(f0));
  // The partner's allele 1 goes with the risk allele: it rises in cases only under risk.
  const double partner_se = std::sqrt(2.0) * se(snps.at(partner).frequency);
  EXPECT_GT(freq(risk, true, partner) - freq(risk, false, partner), 4 * partner_se);
  EXPECT_NEAR(freq(neutral, true, partner), freq(neutral, false, partner), 4 * partner_se);
}

}  // namespace
