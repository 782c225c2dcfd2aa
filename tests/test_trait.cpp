// Polygenic traits: the causal-SNP reader, the trait model, and whole runs.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/thread_budget.hpp"
#include "data/trait_inputs.hpp"
#include "sim/ascertain.hpp"
#include "engine_support.hpp"
#include "sim/trait.hpp"
#include "sim/trait_stream.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

std::vector<double> normal_values(std::size_t n, std::uint32_t seed) {
  TraitStream stream(seed, 99);
  std::vector<double> x(n);
  for (double& v : x) v = stream.normal();
  return x;
}

}  // namespace

TEST(TraitModel, GeneticValueOfATinyMosaicByHand) {
  // Three individuals (six haplotypes) at four SNPs; causal SNPs 1 and 3.
  const RowSource rows({{0, 1, 0, 1}, {1, 1, 0, 0}, {0, 0, 1, 1}, {0, 0, 1, 1}, {1, 0, 0, 0}, {0, 1, 1, 0}}, 4);
  const CausalSet causal{{1, 3}, {0.5, -2.0}};
  std::vector<double> frequency;
  const std::vector<double> g = genetic_values(rows.source(), causal, frequency);
  // Individual 0: 2 copies at SNP 1, 1 at SNP 3; 1: 0 and 2; 2: 1 and 0.
  EXPECT_EQ(g, (std::vector<double>{0.5 * 2 - 2.0 * 1, -2.0 * 2, 0.5}));
  EXPECT_EQ(frequency, (std::vector<double>{3.0 / 6, 3.0 / 6}));
}

TEST(TraitModel, NoiseHeritabilityReplicatesAndPrevalence) {
  const std::vector<double> g = normal_values(20000, 1);
  TraitConfig trait;
  trait.h2 = 0.4;
  trait.replicates = 3;
  const Phenotypes three = draw_phenotypes(g, trait, 7);
  double mean = 0, variance = 0;
  mean_and_variance(g, mean, variance);
  EXPECT_EQ(three.genetic_variance, variance);
  EXPECT_DOUBLE_EQ(three.noise_sd * three.noise_sd, variance * 0.6 / 0.4);
  ASSERT_EQ(three.columns.size(), 3u);
  for (std::size_t r = 0; r < 3; ++r) {
    double y_mean = 0, y_variance = 0;
    mean_and_variance(three.columns[r], y_mean, y_variance);
    EXPECT_EQ(three.realized_h2[r], variance / y_variance);
    EXPECT_NEAR(three.realized_h2[r], 0.4, 0.02);  // about 5 SE of a 20,000 sample
  }
  EXPECT_NE(three.columns[0], three.columns[1]);
  // One replicate's noise does not depend on how many are asked for; another seed changes it.
  trait.replicates = 1;
  EXPECT_EQ(draw_phenotypes(g, trait, 7).columns[0], three.columns[0]);
  EXPECT_NE(draw_phenotypes(g, trait, 8).columns[0], three.columns[0]);
  trait.h2 = 1.0;
  EXPECT_EQ(draw_phenotypes(g, trait, 7).columns[0], g);

  trait.h2 = 0.5;
  trait.prevalence = 0.1;
  trait.replicates = 2;
  const Phenotypes binary = draw_phenotypes(g, trait, 7);
  for (std::size_t r = 0; r < 2; ++r) {
    double cases = 0;
    for (double y : binary.columns[r]) {
      ASSERT_TRUE(y == 0.0 || y == 1.0);
      cases += y;
    }
    EXPECT_EQ(binary.case_fraction[r], cases / 20000);
    EXPECT_NEAR(binary.case_fraction[r], 0.1, 3 * std::sqrt(0.1 * 0.9 / 20000));
  }
  EXPECT_EQ(error_of([&] { draw_phenotypes(std::vector<double>(10, 2.5), trait, 7); }),
            "Error encountered, program terminated: the genetic values of the 10 individuals do not vary, so no "
            "heritability can be set (-h2).\n");
}

TEST(TraitModel, CausalSnpsListedOrDrawn) {
  // Panel of 10 haplotypes: allele1 frequencies 0.5, 0, 0.1, 0.3, 1, 0.2 at positions 10 .. 60.
  auto column = [](int ones) {
    std::vector<int> codes(10, 0);
    for (int k = 0; k < ones; ++k) codes[k] = 1;
    return codes;
  };
  const Data data = make_panel({column(5), column(0), column(1), column(3), column(10), column(2)});
  TraitConfig trait;
  const CausalSet listed = choose_causal_snps(trait, {{60, 1.5, 1}, {10, -0.5, 2}}, data, 0);
  EXPECT_EQ(listed.indices, (std::vector<int>{0, 5}));
  EXPECT_EQ(listed.effects, (std::vector<double>{-0.5, 1.5}));
  EXPECT_TRUE(contains(error_of([&] { choose_causal_snps(trait, {{15, 1.0, 3}}, data, 0); }),
                       "the causal SNP at position 15 (line 3 of the -causal file) is not a panel SNP"));
  EXPECT_TRUE(contains(error_of([&] { choose_causal_snps(trait, {{50, 1.0, 4}}, data, 0); }),
                       "position 50 (line 4 of the -causal file) is monomorphic in the panel"));

  trait.causal_random = 3;
  trait.causal_maf = 0.15;  // SNPs 0, 3 and 5 qualify
  const CausalSet drawn = choose_causal_snps(trait, {}, data, 11);
  EXPECT_EQ(drawn.indices, (std::vector<int>{0, 3, 5}));
  trait.alpha = -1;
  trait.causal_random = 1;
  std::set<int> seen;
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    const CausalSet one = choose_causal_snps(trait, {}, data, seed);
    EXPECT_EQ(one.indices, choose_causal_snps(trait, {}, data, seed).indices);
    seen.insert(one.indices[0]);
  }
  EXPECT_EQ(seen, (std::set<int>{0, 3, 5}));
  trait.causal_random = 4;
  EXPECT_TRUE(contains(error_of([&] { choose_causal_snps(trait, {}, data, 1); }),
                       "-causal_random 4 asks for more causal SNPs than the 3 panel SNPs"));
}

TEST(TraitInputs, BadFilesAreNamedWithTheirLine) {
  TempDir dir;
  const std::string file = dir.file("causal.txt");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"100 0.5\n200\n", "line 2: expected \"position effect\" (two fields) but found 1."},
      {"1e5 0.5\n", "line 1: \"1e5\" is not a position (a decimal integer within 32 bits)."},
      {"100 0.5\n\n300 big\n", "line 3: \"big\" is not an effect (a finite number)."},
      {"100 0.5\n100 1\n", "line 2: position 100 is listed a second time."},
      {"\n", "it lists no causal SNP."},
  };
  for (const auto& c : cases) {
    write_file(file, c.first);
    EXPECT_EQ(error_of([&] { read_causal_file(file); }), "Error reading file " + file + ": " + c.second) << c.first;
  }
  write_file(file, gzip(" 100\t-0.25 \r\n200 3\n"));
  const std::vector<CausalEffect> read = read_causal_file(file);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].position, 100);
  EXPECT_EQ(read[0].effect, -0.25);
  EXPECT_EQ(read[1].line, 2);

  const std::vector<std::pair<std::string, std::string>> gv_cases = {
      {"FID IID PHENO\n", "line 1: expected the header \"FID IID GV\" of a genetic-value file."},
      {"FID\tIID\tGV\n0\tid1_0\tnan\n", "line 2: \"nan\" is not a genetic value (a finite number)."},
      {"FID\tIID\tGV\n0\tid1_0\n", "line 2: expected \"FID IID GV\" (three fields) but found 2."},
  };
  for (const auto& c : gv_cases) {
    write_file(file, c.first);
    EXPECT_EQ(error_of([&] { read_genetic_values(file); }), "Error reading file " + file + ": " + c.second);
  }
}

// Ascertainment on a panel of 8 haplotypes and 5 SNPs in LD: the model's mean and variance of G against
// 100,000 drawn individuals, and the sample against each individual's liability recomputed alone.
TEST(Ascertainment, MomentsAreTheModelsAndTheSampleIsTheFirstCasesAndControls) {
  const Data panel = make_panel({{0, 0, 1, 1, 0, 1, 1, 1}, {0, 0, 1, 1, 0, 1, 0, 1}, {1, 0, 1, 0, 1, 0, 1, 0},
                                 {0, 0, 0, 1, 0, 1, 1, 1}, {1, 1, 1, 0, 0, 0, 0, 1}});
  const PopulationModel model{{0.0, 2.0, 2.5, 9.0, 40.0}, 8, 0.04, 23};
  const CausalSet causal{{0, 1, 3, 4}, {1.0, 0.7, -0.4, 0.9}};
  const GeneticMoments expected = expected_genetic_moments(model, panel.panel, causal);
  DrawnIndividual one;
  std::vector<int> scratch;
  std::vector<double> g(100000);
  for (std::size_t i = 0; i < g.size(); ++i) {
    draw_individual(model, i, {}, one);
    g[i] = genetic_value(one, panel.panel, causal, scratch);
  }
  double mean = 0, variance = 0;
  mean_and_variance(g, mean, variance);
  EXPECT_NEAR(mean, expected.mean, 4 * std::sqrt(expected.variance / 1e5));
  EXPECT_NEAR(variance, expected.variance, 4 * expected.variance * std::sqrt(2 / 1e5));
  // Without the LD terms the model variance would be 15% lower, far outside this check.

  TraitConfig trait;
  trait.h2 = 0.7;
  trait.prevalence = 0.15;
  trait.ascertain_cases = 30;
  trait.ascertain_controls = 50;
  ThreadBudget three(3);
  const AscertainedSample alone = ascertain(model, panel.panel, causal, trait, nullptr);
  const AscertainedSample threaded = ascertain(model, panel.panel, causal, trait, &three);
  EXPECT_EQ(alone.kept, threaded.kept);
  EXPECT_EQ(alone.value, threaded.value);
  std::vector<std::size_t> kept;
  std::vector<int> status;
  std::uint64_t above = 0;
  int cases = 0, controls = 0;
  for (std::size_t i = 0; i < alone.population; ++i) {
    const bool is_case = liability(model.seed_word, i, g[i], expected, 0.7) > alone.threshold;
    above += is_case;
    if (is_case ? cases++ < 30 : controls++ < 50) {
      kept.push_back(i);
      status.push_back(is_case);
    }
  }
  EXPECT_EQ(alone.kept, kept);
  EXPECT_EQ(alone.status, status);
  EXPECT_EQ(alone.population_cases, above);
  EXPECT_EQ(alone.kept.back(), alone.population - 1);  // the smallest population that yields the sample
  EXPECT_EQ(std::count(status.begin(), status.end(), 1), 30);
  for (std::size_t k = 0; k < kept.size(); ++k) EXPECT_EQ(alone.value[k], g[kept[k]]);

  trait.h2 = 1.0;  // G takes few values here: a threshold no liability passes ends with a message
  trait.prevalence = 5e-5;
  trait.ascertain_cases = 1;
  EXPECT_TRUE(contains(error_of([&] { ascertain(model, panel.panel, causal, trait, &three); }),
                       "individuals of the population yielded 0 of the 1 cases"));
}
