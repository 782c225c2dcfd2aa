// The case distribution at the disease loci and the disease-allele draw of a
// case, on small hand-made panels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "params/errors.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "test_support.hpp"

namespace {

using Haplotype = std::vector<int>;
using Pair = std::vector<std::vector<int>>;
using Distribution = std::map<double, Pair>;

// A panel whose SNP j sits at position 1000 * (j + 1), 0.5 apart on the map,
// with codes[j][c] the allele of panel haplotype c.
Data make_panel(const std::vector<std::vector<int>>& codes) {
  Data data;
  data.nhaplotypes = static_cast<int>(codes[0].size());
  for (std::size_t j = 0; j < codes.size(); ++j) {
    snp s;
    s.rsid = "rs" + std::to_string(j);
    s.allele0 = "A";
    s.allele1 = "G";
    s.cumulative_rho = 0.5 * j;
    s.haplotypes = codes[j];
    double total = 0;
    for (int a : codes[j]) total += a;
    s.frequency = total / codes[j].size();
    data.snps_data[static_cast<int>(1000 * (j + 1))] = s;
  }
  return data;
}

// A generator over `panel` whose controls are `control_rows` (complete, so
// the case phase may begin) and whose disease loci are `loci`, given as
// SNP index -> locus.
TarvikGenerator make_generator(const std::vector<std::vector<int>>& panel,
                               const std::vector<std::vector<short>>& control_rows,
                               const std::map<int, DiseaseLocus>& loci) {
  TarvikParameters params;
  params.ncontrols = static_cast<int>(control_rows.size() / 2);
  params.ncases = 1;
  for (const auto& locus : loci) params.dl[1000.0 * (locus.first + 1)] = locus.second;
  TarvikGenerator g(params, make_panel(panel));
  for (const auto& locus : loci) g.dl_indices.push_back(locus.first);
  g.simulated_haplotypes = control_rows;
  g.num_simulated_haps = static_cast<int>(control_rows.size());
  return g;
}

// Probability of each entry of a distribution (difference of neighbouring keys).
std::vector<std::pair<Pair, double>> probabilities(const Distribution& dist) {
  std::vector<std::pair<Pair, double>> out;
  double previous = 0.0;
  for (const auto& entry : dist) {
    out.emplace_back(entry.second, entry.first - previous);
    previous = entry.first;
  }
  return out;
}

// Segment labels of a case haplotype: label -2 - i on every SNP of segment i.
std::vector<int> labels(const std::vector<int>& segment_of_snp) {
  std::vector<int> row;
  for (int i : segment_of_snp) row.push_back(-2 - i);
  return row;
}

const double kNoMutation[2] = {0.0, 0.0};

}  // namespace

TEST(ControlFrequencies, CountPanelAndControlRowsOnly) {
  // Panel of 4 at two SNPs, one control, and a half-built case row that must
  // not be counted.
  TarvikGenerator g = make_generator({{0, 1, 0, 1}, {0, 1, 1, 1}}, {{1, 1}, {0, 0}}, {});
  g.simulated_haplotypes.push_back({1, 0});
  std::map<Haplotype, double> table{{{9}, 9.0}};  // stale content is replaced
  g.calculate_control_hap_freq({0, 1}, table);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_NEAR(table.at({0, 0}), 2.0 / 6, 1e-15);
  EXPECT_NEAR(table.at({0, 1}), 1.0 / 6, 1e-15);
  EXPECT_NEAR(table.at({1, 1}), 3.0 / 6, 1e-15);

  g.calculate_control_hap_freq({1}, table);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_NEAR(table.at({0}), 2.0 / 6, 1e-15);
  EXPECT_NEAR(table.at({1}), 4.0 / 6, 1e-15);
}

TEST(CaseDistribution, OneLocusWeightsFollowTheRelativeRisks) {
  // Allele-1 frequency 2/6 over panel and controls.
  TarvikGenerator g = make_generator({{0, 1, 0, 0}}, {{1}, {0}}, {{0, DiseaseLocus(1, 2.0, 4.0)}});
  const std::vector<std::vector<int>> groups[2] = {{{0}}, {{0}}};
  Distribution dist{{0.5, {}}};
  g.calculate_case_hap_freq(groups, dist);

  const double f = 2.0 / 6;
  const double w[4] = {(1 - f) * (1 - f), 2 * f * (1 - f), 2 * f * (1 - f), 4 * f * f};
  const double S = w[0] + w[1] + w[2] + w[3];
  const Pair pairs[4] = {{{0}, {0}}, {{0}, {1}}, {{1}, {0}}, {{1}, {1}}};
  auto probs = probabilities(dist);
  ASSERT_EQ(probs.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(probs[i].first, pairs[i]) << i;
    EXPECT_NEAR(probs[i].second, w[i] / S, 1e-12) << i;
  }
  EXPECT_EQ(dist.rbegin()->first, 1.0);
  EXPECT_EQ(g.control_hap_freq_cache.count({0}), 1u);
}

TEST(CaseDistribution, NeutralRisksGiveProductOfSideFrequencies) {
  // Two loci; haplotype (1,1) never occurs. Side 0 draws them in separate
  // groups (all four combinations), side 1 jointly (only the three seen).
  const std::vector<std::vector<int>> panel = {{0, 0, 1, 1, 0}, {0, 1, 0, 0, 0}};
  TarvikGenerator g = make_generator(
      panel, {{0, 0}, {0, 0}}, {{0, DiseaseLocus(1, 1.0, 1.0)}, {1, DiseaseLocus(0, 1.0, 1.0)}});
  const std::vector<std::vector<int>> groups[2] = {{{0}, {1}}, {{0, 1}}};
  Distribution dist;
  g.calculate_case_hap_freq(groups, dist);

  // Seven haplotypes: (0,0) x4, (0,1) x1, (1,0) x2.
  const double p0 = 2.0 / 7, p1 = 1.0 / 7;  // locus 0 and locus 1 allele-1 frequencies
  std::map<Haplotype, double> side0 = {{{0, 0}, (1 - p0) * (1 - p1)},
                                       {{0, 1}, (1 - p0) * p1},
                                       {{1, 0}, p0 * (1 - p1)},
                                       {{1, 1}, p0 * p1}};
  std::map<Haplotype, double> side1 = {{{0, 0}, 4.0 / 7}, {{0, 1}, 1.0 / 7}, {{1, 0}, 2.0 / 7}};
  auto probs = probabilities(dist);
  ASSERT_EQ(probs.size(), 12u);
  auto it = probs.begin();
  for (const auto& a : side0) {
    for (const auto& b : side1) {
      EXPECT_EQ(it->first, (Pair{a.first, b.first}));
      EXPECT_NEAR(it->second, a.second * b.second, 1e-12);
      ++it;
    }
  }
}

TEST(CaseDistribution, ZeroWeightPairsAreNeverDrawn) {
  // Risk allele 0 with rr = {0, 1, 1}: the first pair (0,0) has weight zero
  // and key 0; risk allele 1 with rr = {1, 1, 0}: the last pair (1,1) repeats
  // the key before it and is dropped.
  struct Case {
    DiseaseLocus locus;
    Pair excluded;
  };
  const Case cases[] = {{DiseaseLocus(0, 1.0, 0.0), {{0}, {0}}},
                        {DiseaseLocus(1, 1.0, 0.0), {{1}, {1}}}};
  for (const Case& c : cases) {
    TarvikGenerator g = make_generator({{0, 1, 0, 1}}, {{1}, {0}}, {{0, c.locus}});
    const std::vector<std::vector<int>> groups[2] = {{{0}}, {{0}}};
    Distribution dist;
    g.calculate_case_hap_freq(groups, dist);
    EXPECT_EQ(dist.rbegin()->first, 1.0);
    for (const auto& entry : dist) {
      if (entry.second == c.excluded) {
        EXPECT_EQ(entry.first, 0.0);
      }
    }

    MT rng(0.25);
    Random::Set(rng);
    for (int i = 0; i < 300; ++i) {
      std::vector<std::vector<int>> states = {{-2}, {-2}};
      std::vector<std::vector<int>> drawn(2);
      g.simulate_disease_alleles(states, drawn, kNoMutation);
      ASSERT_NE(drawn, c.excluded);
    }
  }
}

TEST(DiseaseAlleles, GroupingKeysFollowTheSegments) {
  // Loci among SNPs 1, 2 and 4 of a six-SNP region. A case draws once for
  // the pair and once per group.
  const std::vector<std::vector<int>> panel = {{0, 1, 0, 1}, {1, 1, 0, 0}, {0, 0, 1, 1},
                                               {1, 0, 1, 0}, {0, 1, 1, 0}, {1, 1, 0, 1}};
  struct Case {
    std::vector<int> loci, segments0, segments1;
    std::string key;
    int groups;
  };
  const Case cases[] = {
      {{1}, {0, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0}, "1/1/", 2},
      {{1, 2}, {0, 0, 0, 0, 0, 0}, {0, 0, 1, 1, 1, 1}, "2/1.1/", 3},
      {{1, 2, 4}, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, "3/3/", 2},
      {{1, 2, 4}, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 0, 0, 0}, "2.1/3/", 3},
      {{1, 2, 4}, {0, 0, 0, 0, 0, 0}, {0, 1, 2, 2, 2, 3}, "3/1.2/", 3},
      {{1, 2, 4}, {0, 1, 2, 2, 3, 3}, {0, 0, 1, 1, 2, 2}, "1.1.1/1.1.1/", 6},
  };
  for (const Case& c : cases) {
    std::map<int, DiseaseLocus> loci;
    for (int j : c.loci) loci[j] = DiseaseLocus(1, 2.0, 3.0);
    TarvikGenerator g = make_generator(panel, {}, loci);
    std::vector<double> expected_draws;
    MT reference(0.5);
    for (int i = 0; i <= c.groups + 1; ++i) expected_draws.push_back(reference.Next());
    MT rng(0.5);
    Random::Set(rng);
    for (int repeat = 0; repeat < 2; ++repeat) {  // the second case is served from the cache
      std::vector<std::vector<int>> states = {labels(c.segments0), labels(c.segments1)};
      std::vector<std::vector<int>> drawn;
      g.simulate_disease_alleles(states, drawn, kNoMutation);
      ASSERT_EQ(g.case_hap_freq_cache.size(), 1u) << c.key;
      EXPECT_EQ(g.case_hap_freq_cache.begin()->first, c.key);
      EXPECT_EQ(drawn[0].size(), c.loci.size());
      EXPECT_EQ(drawn[1].size(), c.loci.size());
      if (repeat == 0) {
        EXPECT_EQ(uniform_draw(), expected_draws[c.groups + 1]) << c.key;
      }
    }
  }
}

TEST(DiseaseAlleles, ChosenSourceReplacesTheWholeSegment) {
  // Ten SNPs, loci at SNPs 3 and 5. Haplotype 0: ordinary sources 7 on SNPs
  // 0-1, disease segment 2-7 holding both loci, source 4 on 8-9. Haplotype 1:
  // one disease segment 0-4 (from the first SNP), one 5-9 (to the last).
  std::vector<std::vector<int>> panel(10, std::vector<int>{0, 1, 0, 1, 1, 0, 0, 1});
  TarvikGenerator g =
      make_generator(panel, {}, {{3, DiseaseLocus(1, 2.0, 4.0)}, {5, DiseaseLocus(1, 1.0, 1.0)}});
  MT rng(0.3);
  Random::Set(rng);
  const double mu[2] = {0.01, 0.02};
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<std::vector<int>> states = {{7, 7, -3, -3, -3, -3, -3, -3, 4, 4},
                                            {-2, -2, -2, -2, -2, -3, -3, -3, -3, -3}};
    std::vector<std::vector<int>> drawn;
    g.simulate_disease_alleles(states, drawn, mu);
    const std::vector<int> expected0 = {
        7, 7, states[0][2], states[0][2], states[0][2], states[0][2], states[0][2], states[0][2],
        4, 4};
    EXPECT_EQ(states[0], expected0);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(states[1][j], states[1][0]);
    for (int j = 5; j < 10; ++j) EXPECT_EQ(states[1][j], states[1][9]);
    for (int k = 0; k < 2; ++k)
      for (int s : states[k]) {
        EXPECT_GE(s, 0);
        EXPECT_LT(s, 8 + k);
      }
  }
}

TEST(DiseaseAlleles, WithoutMutationOnlyMatchingSourcesAreChosen) {
  // Two loci at SNPs 0 and 2; every source must carry the drawn alleles at
  // the loci of its group. First finished rows are added between cases (h
  // grows); then the run restarts with fewer, different rows, and h stays.
  const std::vector<std::vector<int>> panel = {
      {0, 1, 1, 0, 1, 0}, {1, 1, 0, 0, 1, 0}, {0, 0, 1, 1, 1, 0}};
  TarvikGenerator g =
      make_generator(panel, {{1, 0, 1}, {0, 1, 0}},
                     {{0, DiseaseLocus(1, 3.0, 9.0)}, {2, DiseaseLocus(0, 2.0, 4.0)}});
  const int n = 6;
  MT rng(0.4);
  Random::Set(rng);
  auto allele = [&](int candidate, int j, const std::vector<int>& mate) {
    if (candidate < n) return panel[j][candidate];
    if (candidate - n < g.num_simulated_haps)
      return static_cast<int>(g.simulated_haplotypes[candidate - n][j]);
    return mate[j == 0 ? 0 : 1];
  };
  int mate_chosen = 0;
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {  // a new run: the earlier rows are gone
      g.simulated_haplotypes = {{0, 0, 0}, {1, 1, 1}};
      g.num_simulated_haps = 2;
    }
    for (int i = 0; i < 150; ++i) {
      // Side 0 holds both loci in one segment, side 1 in two.
      std::vector<std::vector<int>> states = {labels({0, 0, 0}), labels({0, 0, 1})};
      std::vector<std::vector<int>> drawn;
      g.simulate_disease_alleles(states, drawn, kNoMutation);
      for (int k = 0; k < 2; ++k)
        for (int d = 0; d < 2; ++d)
          ASSERT_EQ(allele(states[k][2 * d], 2 * d, drawn[0]), drawn[k][d])
              << "round " << round << " case " << i << " side " << k << " locus " << d;
      if (states[1][0] == n + g.num_simulated_haps) ++mate_chosen;
      if (round == 1) continue;
      // The case is finished: its rows become candidates of the next case.
      for (int k = 0; k < 2; ++k)
        g.simulated_haplotypes.push_back({static_cast<short>(drawn[k][0]),
                                          static_cast<short>(i % 2),
                                          static_cast<short>(drawn[k][1])});
      g.num_simulated_haps += 2;
    }
  }
  EXPECT_GT(mate_chosen, 0);
}

TEST(DiseaseAlleles, UndefinedCaseDistributionIsAnError) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::vector<std::vector<double>> rr;  // per locus, overriding the table
    bool one_group;
    std::string detail;
  };
  const std::string prefix = "the relative risks of the disease loci at positions ";
  const Case cases[] = {
      {{{0.0, 0.0, 0.0}},
       true,
       prefix + "1000 give every case genotype weight zero, so no case can be simulated.\n"},
      // Locus 0 allows only genotype 0/0, locus 1 only 1/1, and no haplotype
      // carries 0 at locus 0 with 1 at locus 1.
      {{{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}},
       true,
       prefix + "1000 2000 give every case genotype weight zero, so no case can be simulated.\n"},
      {{{1.0, -1.0, 1.0}},
       true,
       prefix + "1000 include a negative value, so no case can be simulated.\n"},
      {{{1.0, inf, inf}},
       true,
       prefix + "1000 give the case genotypes an infinite or undefined total weight, so no case "
                "can be simulated.\n"},
  };
  for (const Case& c : cases) {
    std::map<int, DiseaseLocus> loci;
    for (std::size_t d = 0; d < c.rr.size(); ++d) {
      loci[d] = DiseaseLocus(1, 1.0, 1.0);
      loci[d].rr = c.rr[d];
    }
    TarvikGenerator g = make_generator({{0, 1, 0, 1}, {0, 1, 0, 1}}, {{1, 1}, {0, 0}}, loci);
    MT rng(0.1);
    Random::Set(rng);
    for (int attempt = 0; attempt < 2; ++attempt) {  // nothing half-made is cached
      std::vector<std::vector<int>> states = {labels({0, 0}), labels({0, 0})};
      std::vector<std::vector<int>> drawn;
      try {
        g.simulate_disease_alleles(states, drawn, kNoMutation);
        ADD_FAILURE() << "no error for " << c.detail;
      } catch (const GenericErrorException& e) {
        EXPECT_EQ(e.detail, c.detail);
        EXPECT_EQ(e.prefix, "Error encountered, program terminated: ");
      }
    }
    EXPECT_TRUE(g.case_hap_freq_cache.empty());
  }
}
