// The case distribution at the disease loci and the disease-allele draw of a case.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "params/errors.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "engine_support.hpp"
#include "test_support.hpp"

namespace {

// Any generator but the plain MT takes the generic draw path; this one gives MT's draws.
struct ForwardedMT : Random {
  ~ForwardedMT() override { Random::RNG = Random::Dummy; }
  double Next() override { return MT::next_uniform(); }
};

using Pair = std::vector<std::vector<int>>;
using Groups = std::vector<std::vector<int>>;
const double kNoMutation[2] = {0.0, 0.0};

// Panel SNP j at position 1000 (j + 1) with alleles codes[j]; complete control rows (so the case
// phase may begin); disease loci as SNP index -> locus.
TarvikGenerator make_generator(const std::vector<std::vector<int>>& codes,
                               const std::vector<std::vector<short>>& controls,
                               const std::map<int, DiseaseLocus>& loci) {
  TarvikParameters params;
  params.ncontrols = static_cast<int>(controls.size() / 2);
  params.ncases = 1;
  for (const auto& locus : loci) params.dl[1000.0 * (locus.first + 1)] = locus.second;
  Data data;
  data.start_panel(static_cast<int>(codes[0].size()));
  for (std::size_t j = 0; j < codes.size(); ++j)
    data.add_panel_snp(static_cast<int>(1000 * (j + 1)), "", "", "", 0.0, codes[j].data());
  data.finish_panel();
  TarvikGenerator g(params, data);
  for (const auto& locus : loci) g.dl_indices.push_back(locus.first);
  testing_support::set_simulated(g, controls);
  g.num_simulated_haps = static_cast<int>(controls.size());
  return g;
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

TEST(CaseDistribution, OneLocusPairWeightsAreTheRiskTimesBothFrequencies) {
  const double f = 2.0 / 6, hom0 = (1 - f) * (1 - f), het = f * (1 - f), hom1 = f * f;
  const struct { DiseaseLocus locus; double w[4]; } cases[] = {
      {DiseaseLocus(1, 2.0, 4.0), {hom0, 2 * het, 2 * het, 4 * hom1}},
      // A zero-weight pair is never drawn: first, its key is 0; last, it repeats the key before it.
      {DiseaseLocus(0, 1.0, 0.0), {0.0, het, het, hom1}},
      {DiseaseLocus(1, 1.0, 0.0), {hom0, het, het, 0.0}},
  };
  for (const auto& c : cases) {
    TarvikGenerator g = make_generator({{0, 1, 0, 0}}, {{1}, {0}}, {{0, c.locus}});
    std::map<Pair, double> p = probabilities(g, {{0}}, {{0}});
    const double S = c.w[0] + c.w[1] + c.w[2] + c.w[3];
    for (int i = 0; i < 4; ++i) EXPECT_NEAR((p[{{i / 2}, {i % 2}}]), c.w[i] / S, 1e-12) << i;
  }
}

TEST(CaseDistribution, LociOfOneGroupAreDrawnJointlyAndGroupsIndependently) {
  // Haplotypes (0,0) x4, (0,1) x1, (1,0) x2 in panel and controls, never (1,1); neutral risks.
  TarvikGenerator g =
      make_generator({{0, 0, 1, 1, 0}, {0, 1, 0, 0, 0}}, {{0, 0}, {0, 0}},
                     {{0, DiseaseLocus(1, 1.0, 1.0)}, {1, DiseaseLocus(0, 1.0, 1.0)}});
  testing_support::add_simulated(g, {1, 1});  // a half-built case row is no source
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

TEST(DiseaseAlleles, GroupingKeysFollowTheSegmentsAndEachGroupDrawsOnce) {
  const std::vector<std::vector<int>> panel(6, {0, 1, 0, 1});
  const struct { std::vector<int> loci, side0, side1; std::string key; int groups; } cases[] = {
      {{1}, {0, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0}, "1/1/", 2},
      {{1, 2}, {0, 0, 0, 0, 0, 0}, {0, 0, 1, 1, 1, 1}, "2/1.1/", 3},
      {{1, 2, 4}, {0, 1, 2, 2, 3, 3}, {0, 0, 1, 1, 2, 2}, "1.1.1/1.1.1/", 6},
  };
  for (const auto& c : cases) {
    std::map<int, DiseaseLocus> loci;
    for (int j : c.loci) loci[j] = DiseaseLocus(1, 2.0, 3.0);
    TarvikGenerator g = make_generator(panel, {}, loci);
    MT reference(0.5);
    for (int i = 0; i <= c.groups; ++i) reference.Next();  // the pair, then one source per group
    const double next = reference.Next();
    MT rng(0.5);
    Random::Set(rng);
    Pair states = {labels(c.side0), labels(c.side1)};
    const Pair drawn = draw(g, states);
    ASSERT_EQ(g.case_hap_freq_cache.size(), 1u) << c.key;
    EXPECT_EQ(g.case_hap_freq_cache.begin()->first, c.key);
    EXPECT_EQ(drawn[0].size() + drawn[1].size(), 2 * c.loci.size());
    EXPECT_EQ(uniform_draw(), next) << c.key;
  }
}

TEST(DiseaseAlleles, EachDiseaseSegmentTakesOneSourceCarryingTheDrawnAlleles) {
  // Loci at SNPs 3 and 5. Haplotype 0: source 7 on SNPs 0-1, one disease segment on 2-7, source 4
  // on 8-9. Haplotype 1: disease segments from the first SNP to 4 and from 5 to the last.
  const std::vector<int> alleles = {0, 1, 0, 1, 1, 0, 0, 1};  // of each panel haplotype, every SNP
  TarvikGenerator g = make_generator(std::vector<std::vector<int>>(10, alleles), {},
      {{3, DiseaseLocus(1, 3.0, 9.0)}, {5, DiseaseLocus(0, 2.0, 4.0)}});
  const int n = 8;
  MT rng(0.3);
  Random::Set(rng);
  int mate_chosen = 0;
  for (int round = 0; round < 2; ++round) {
    if (round == 1) testing_support::set_simulated(g, {std::vector<short>(10, 0), std::vector<short>(10, 1)});
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
               : c < n + h ? g.simulated.disease_allele(d, c - n)
                           : drawn[0][d];
      };
      ASSERT_EQ((Pair{{allele(s, 0), allele(s, 1)}, {allele(a, 0), allele(b, 1)}}), drawn) << i;
      mate_chosen += (a == n + h) + (b == n + h);
      if (round == 1) continue;
      for (int k = 0; k < 2; ++k) {  // the finished case becomes a candidate of the next
        std::vector<short> row(10, 0);
        row[3] = static_cast<short>(drawn[k][0]);
        row[5] = static_cast<short>(drawn[k][1]);
        testing_support::add_simulated(g, row);
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
      {{{0.0, 0.0, 0.0}}, at + "1000" + zero + none},
      // Locus 0 allows only 0/0, locus 1 only 1/1, and no haplotype carries 0 then 1.
      {{{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}, at + "1000 2000" + zero + none},
      {{{1.0, -1.0, 1.0}}, at + "1000 include a negative value" + none},
      {{{1.0, inf, inf}},
       at + "1000 give the case genotypes an infinite or undefined total weight" + none},
  };
  for (const auto& c : cases) {
    std::map<int, DiseaseLocus> loci;
    for (std::size_t d = 0; d < c.rr.size(); ++d) loci[d].rr = c.rr[d];
    TarvikGenerator g = make_generator({{0, 1, 0, 1}, {0, 1, 0, 1}}, {{1, 1}, {0, 0}}, loci);
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

// A disease locus at a common SNP of a 300 kb stretch of the bundled panel; 2000 controls and
// 2000 cases with a fixed seed, under a multiplicative risk and under no risk.
TEST(CaseModelOnPanel, CasesCarryTheRiskAlleleAndItsLinkedSnpAsTheModelSays) {
  const int subjects = 2000, disease = 1994801, partner = 1988682;  // partner: r^2 0.92, D > 0.15
  testing_support::TempDir dir;
  TarvikParameters params;
  params.haplotype_file = testing_support::example_file("chr20.hap.gz");
  params.legend_file = testing_support::example_file("chr20.legend.gz");
  params.genetic_map_file = testing_support::example_file("chr20.map.gz");
  params.lower = 1850000;
  params.upper = 2150000;
  params.ncontrols = params.ncases = subjects;
  params.summary_file = dir.file("run.summary");
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
  EXPECT_EQ(simulate(TarvikGenerator(params, risk.panel_data), true).return_simulated_haplotypes(),
            risk.return_simulated_haplotypes());
  params.dl[disease] = DiseaseLocus(1, 1.0, 1.0);
  const TarvikGenerator neutral = simulate(TarvikGenerator(params, risk.panel_data));
  const auto& snps = risk.panel_data.snps_data;
  const auto freq = [&](const TarvikGenerator& g, bool cases, int position) {
    const std::size_t j = std::distance(snps.begin(), snps.find(position));
    double total = 0;
    const auto rows = g.return_simulated_haplotypes();
    for (int r = 0; r < 2 * subjects; ++r)
      total += rows[r + cases * 2 * subjects][j];
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
