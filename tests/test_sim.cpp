#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "test_support.hpp"

using testing_support::TempDir;
using testing_support::read_file;

namespace {

// Hands out scripted uniforms while installed; an unscripted draw throws, so
// a test also fails when the engine draws more often than the script allows.
class ScriptedDraws : public Random {
 public:
  explicit ScriptedDraws(std::vector<double> script) : values(std::move(script)) {
    Random::Set(*this);
  }
  ~ScriptedDraws() override {
    if (Random::RNG == this) Random::RNG = Random::Dummy;
  }
  double Next() override { return values.at(used++); }
  std::vector<double> values;
  std::size_t used = 0;
};

const double kJustBelowOne = 1.0 - 1.0 / 8589934592.0;  // the largest MT draw

struct PanelSnp {
  int position;
  double rho;
  std::vector<int> codes;  // one per panel haplotype
};

Data make_panel(const std::vector<PanelSnp>& snps) {
  Data data;
  data.nhaplotypes = static_cast<int>(snps.front().codes.size());
  for (const PanelSnp& s : snps) {
    snp record;
    record.rsid = "rs" + std::to_string(s.position);
    record.cumulative_rho = s.rho;
    record.haplotypes = s.codes;
    record.allele0 = "A";
    record.allele1 = "G";
    double sum = 0.0;
    for (int code : s.codes) sum += code;
    record.frequency = sum / s.codes.size();
    data.snps_data[s.position] = record;
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

std::vector<std::vector<short>> rows(std::initializer_list<std::vector<short>> list) {
  return std::vector<std::vector<short>>(list);
}

TEST(SetTheta, UsesTheReciprocalOfTheHarmonicSumOverAllPanelHaplotypes) {
  struct Case {
    int nhaplotypes;
    double theta;
    std::string shown;
  };
  const Case cases[] = {
      {1, 1.0, "1"},
      {2, 1.0 / 1.5, "0.666667"},
      {3, 1.0 / (1.0 + 0.5 + 1.0 / 3.0), "0.545455"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    TarvikGenerator generator(make_params(dir, 1, 0, -1.0),
                              make_panel({{100, 0.0, std::vector<int>(c.nhaplotypes, 0)}}));
    generator.set_theta();
    EXPECT_DOUBLE_EQ(generator.params.theta, c.theta) << c.nhaplotypes;
    EXPECT_EQ(read_file(dir.file("run.summary")),
              "theta not set, so setting to a default value of " + c.shown + "\n");
  }
}

// SNPs at 1000 (frequency 0.5), 2000 (allele 1 nowhere), 3000 (allele 1
// everywhere) and 4000 (frequency 0.25).
Data disease_panel() {
  return make_panel({{1000, 0.0, {0, 1, 0, 1}},
                     {2000, 0.0, {0, 0, 0, 0}},
                     {3000, 0.0, {1, 1, 1, 1}},
                     {4000, 0.0, {0, 0, 1, 0}}});
}

TEST(ProcessDl, KeepsLociOnPolymorphicPanelSnpsAndReportsTheOthers) {
  const std::string start = "\nProcessing disease loci ... ";
  const std::string end = "done \n\n";
  const std::string removed = ", so it has been removed from the set of disease loci.\n";
  struct Case {
    std::vector<double> positions;
    std::vector<int> indices;
    std::string log;
  };
  const Case cases[] = {
      {{4000, 1000}, {0, 3}, start + end},
      {{1000, 1500, 3999, 1000.5, 12345678},
       {0},
       start + "\ncannot find snp information for position 1000.5" + removed +
           "\ncannot find snp information for position 1500" + removed +
           "\ncannot find snp information for position 3999" + removed +
           "\ncannot find snp information for position 1.23457e+07" + removed + end},
      {{2000, 4000}, {3}, start + "\nsnp at position 2000 has frequency 0" + removed + end},
      {{3000, 1000, 4000},
       {0, 3},
       start + "\nsnp at position 3000 has frequency 1" + removed + end},
  };
  for (const Case& c : cases) {
    TempDir dir;
    TarvikParameters params = make_params(dir, 1, 1, 1.0);
    for (double position : c.positions) params.dl[position] = DiseaseLocus(1, 2.0, 4.0);
    TarvikGenerator generator(params, disease_panel());
    generator.process_dl();
    EXPECT_EQ(generator.dl_indices, c.indices);
    ASSERT_EQ(generator.params.dl.size(), c.indices.size());
    auto kept = generator.params.dl.begin();
    for (int index : c.indices) {
      EXPECT_EQ(kept->first, (index + 1) * 1000.0);
      ++kept;
    }
    EXPECT_EQ(read_file(dir.file("run.summary")), c.log);
  }
}

TEST(ProcessDlDeathTest, EndsTheRunWithStatusOneWhenNoLocusIsUsable) {
  TempDir dir;
  TarvikParameters params = make_params(dir, 1, 1, 1.0);
  params.dl[3000] = DiseaseLocus(1, 2.0, 4.0);
  params.dl[2000] = DiseaseLocus(0, 2.0, 4.0);
  TarvikGenerator generator(params, disease_panel());
  EXPECT_EXIT(generator.process_dl(), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(read_file(dir.file("run.summary")),
            "\nProcessing disease loci ... "
            "\nsnp at position 2000 has frequency 0, so it has been removed from the set of disease loci.\n"
            "\nsnp at position 3000 has frequency 1, so it has been removed from the set of disease loci.\n"
            "done \n\nNo suitable disease loci. Program terminated.\n");
}

TEST(SimulateCrossovers, SwitchesWhenTheDrawExceedsTheNoRecombinationProbability) {
  // Map positions 0, 0, 1, 1, 3 with N = 2: staying probabilities 1, e^-0.5, 1, e^-1.
  const Data panel = make_panel({{10, 0.0, {0}}, {20, 0.0, {0}}, {30, 1.0, {0}},
                                 {40, 1.0, {0}}, {50, 3.0, {0}}});
  const double stay2 = std::exp(-(1.0 - 0.0) / 2.0);
  const double stay4 = std::exp(-(3.0 - 1.0) / 2.0);
  struct Case {
    std::vector<double> draws;
    std::vector<std::vector<int>> segments;
  };
  const Case cases[] = {
      // A draw equal to the staying probability stays; equal positions never switch.
      {{kJustBelowOne, stay2, kJustBelowOne, stay4}, {{0, 1, 2, 3, 4}}},
      {{0.5, std::nextafter(stay2, 1.0), kJustBelowOne, std::nextafter(stay4, 1.0)},
       {{0, 1}, {2, 3}, {4}}},
      {{0.5, 0.9, 0.5, 0.1}, {{0, 1}, {2, 3, 4}}},
  };
  TempDir dir;
  TarvikGenerator generator(make_params(dir, 1, 0, 1.0), panel);
  for (const Case& c : cases) {
    ScriptedDraws script(c.draws);
    std::vector<std::vector<int>> segments{{99}};
    generator.simulate_crossovers(panel.snps_data, 2, segments);
    EXPECT_EQ(segments, c.segments);
    EXPECT_EQ(script.used, 4u);  // one draw per neighbouring pair of SNPs
  }
}

TEST(SimulateCrossovers, ASingleSnpIsOneSegmentAndDrawsNothing) {
  const Data panel = make_panel({{10, 5.0, {0, 1}}});
  TempDir dir;
  TarvikGenerator generator(make_params(dir, 1, 0, 1.0), panel);
  std::vector<std::vector<int>> segments;
  generator.simulate_crossovers(panel.snps_data, 3, segments);  // the placeholder would throw
  EXPECT_EQ(segments, std::vector<std::vector<int>>{{0}});
}

// Runs simulate_all_alleles on `panel` with scripted draws, all of which must
// be used.
TarvikGenerator run_scripted(const TempDir& dir, const Data& panel, int ncontrols, int ncases,
                             double theta, const std::vector<double>& draws) {
  TarvikGenerator generator(make_params(dir, ncontrols, ncases, theta), panel);
  generator.num_simulated_haps = 0;
  ScriptedDraws script(draws);
  generator.simulate_all_alleles();
  EXPECT_EQ(script.used, draws.size()) << "draws left over";
  return generator;
}

// Panel haplotype 0 is 0 1 0 and haplotype 1 is 1 0 1, all at one map position.
Data three_snp_panel() {
  return make_panel({{10, 0.0, {0, 1}}, {20, 0.0, {1, 0}}, {30, 0.0, {0, 1}}});
}

TEST(SimulateAllAlleles, FirstControlCopiesThePanelAndItsMateMayCopyIt) {
  TempDir dir;
  // Draws: 2 + 2 crossover draws; the source of haplotype 0 (0.9 of two
  // candidates: panel haplotype 1); of haplotype 1 (0.9 of three: its mate);
  // then 3 + 3 allele draws. Without mutation the rows are exact copies.
  const TarvikGenerator generator =
      run_scripted(dir, three_snp_panel(), 1, 0, 0.0,
                   {0.5, 0.5, 0.5, 0.5, 0.9, 0.9, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5});
  EXPECT_EQ(generator.simulated_haplotypes, rows({{1, 0, 1}, {1, 0, 1}}));
  EXPECT_EQ(generator.simulated_phenotypes, std::vector<int>{0});
  EXPECT_EQ(generator.num_simulated_haps, 2);
  EXPECT_EQ(read_file(dir.file("run.summary")), "\nSimulating haplotypes ... done\n");
}

TEST(SimulateAllAlleles, FlipsAnAlleleOnlyWhenTheDrawIsBelowTheMutationProbability) {
  TempDir dir;
  // theta 2: mu0 = 1 / (2 + 2) = 0.25 and mu1 = 1 / (3 + 2) = 0.2. Both
  // haplotypes copy panel haplotype 0 (0 1 0).
  const double below0 = std::nextafter(0.25, 0.0);
  const double below1 = std::nextafter(0.2, 0.0);
  const TarvikGenerator generator =
      run_scripted(dir, three_snp_panel(), 1, 0, 2.0,
                   {0.5, 0.5, 0.5, 0.5, 0.1, 0.1, 0.25, below0, 0.9, 0.2, below1, 0.1});
  EXPECT_EQ(generator.simulated_haplotypes, rows({{0, 0, 0}, {0, 0, 1}}));
}

TEST(SimulateAllAlleles, EachSegmentDrawsItsOwnSource) {
  TempDir dir;
  // Panel haplotypes 0 0 0 0 and 1 1 1 1; a long map gap between SNPs 2 and 3.
  const Data panel = make_panel(
      {{10, 0.0, {0, 1}}, {20, 0.0, {0, 1}}, {30, 100.0, {0, 1}}, {40, 100.0, {0, 1}}});
  // Haplotype 0 switches at the gap (0.9 > e^-50), haplotype 1 does not
  // (1e-16 <= e^-33.3). Sources: 0.1 -> panel 0, 0.9 -> panel 1; haplotype 1
  // copies its mate (0.9 of three).
  const TarvikGenerator generator =
      run_scripted(dir, panel, 1, 0, 0.0,
                   {0.5, 0.9, 0.5, 0.5, 1e-16, 0.5, 0.1, 0.9, 0.9, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5,
                    0.5, 0.5});
  EXPECT_EQ(generator.simulated_haplotypes, rows({{0, 0, 1, 1}, {0, 0, 1, 1}}));
}

TEST(SimulateAllAlleles, LaterIndividualsMayCopyEveryEarlierRow) {
  TempDir dir;
  const Data panel = make_panel({{10, 0.0, {0, 0}}});
  // One SNP: no crossover draws. Individual 0: both copy panel haplotype 0,
  // haplotype 1 mutates (0.01 < 0.2). Individual 1: 0.99 of four candidates is
  // row 1; 0.99 of five is its own mate.
  const TarvikGenerator generator =
      run_scripted(dir, panel, 2, 0, 2.0, {0.1, 0.1, 0.9, 0.01, 0.99, 0.99, 0.9, 0.9});
  EXPECT_EQ(generator.simulated_haplotypes, rows({{0}, {1}, {1}, {1}}));
  EXPECT_EQ(generator.simulated_phenotypes, (std::vector<int>{0, 0}));
  EXPECT_EQ(generator.num_simulated_haps, 4);
}

TEST(SimulateAllAlleles, NoIndividualsDrawNothingAndStillReport) {
  TempDir dir;
  TarvikGenerator generator(make_params(dir, 0, 0, 1.0), three_snp_panel());
  generator.num_simulated_haps = 0;
  generator.simulate_all_alleles();  // the placeholder generator would throw on a draw
  EXPECT_TRUE(generator.simulated_haplotypes.empty());
  EXPECT_TRUE(generator.simulated_phenotypes.empty());
  EXPECT_EQ(read_file(dir.file("run.summary")), "\nSimulating haplotypes ... done\n");
}

TEST(SimulateAllAlleles, ACaseKeepsItsDrawnDiseaseAlleleUnmutated) {
  TempDir dir;
  TarvikParameters params = make_params(dir, 0, 1, 2.0);
  // Homozygous risk genotypes are a million times likelier: the pair (1, 1).
  params.dl[20] = DiseaseLocus(1, 1.0, 1e6);
  TarvikGenerator generator(params, three_snp_panel());
  generator.num_simulated_haps = 0;
  generator.process_dl();
  // One segment per haplotype holding the locus: no ordinary source draws.
  // Draws: 2 + 2 crossovers; the pair (0.5); side 0's source (0.5 of weights
  // 0.75, 0.25: panel 0, which carries allele 1); side 1's (0.99 of 0.8, 0.2,
  // 0.8: its mate); then the two other SNPs of each haplotype, all mutated
  // (0.01 < mu), so the mate's copies flip back.
  ScriptedDraws script({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.99, 0.01, 0.01, 0.01, 0.01});
  generator.simulate_all_alleles();
  EXPECT_EQ(script.used, 11u);
  EXPECT_EQ(generator.simulated_haplotypes, rows({{1, 1, 1}, {0, 1, 0}}));
  EXPECT_EQ(generator.simulated_phenotypes, std::vector<int>{1});
}

TEST(SimulateHaplotypes, FixedSeedRunReportsInOrderAndReleasesTheGenerator) {
  TempDir dir;
  TarvikParameters params = make_params(dir, 2, 1, -1.0);
  params.specified_flags.insert("-nrs");
  params.output_file = dir.file("out");
  params.output_directory = dir.path();
  params.dl[20] = DiseaseLocus(1, 2.0, 4.0);
  std::vector<std::vector<short>> first;
  for (int run = 0; run < 2; ++run) {
    TarvikGenerator generator(params, three_snp_panel());
    generator.simulate_haplotypes();
    EXPECT_EQ(Random::RNG, Random::Dummy);
    EXPECT_EQ(generator.num_simulated_haps, 6);
    EXPECT_EQ(generator.simulated_phenotypes, (std::vector<int>{0, 0, 1}));
    for (const auto& row : generator.return_simulated_haplotypes()) {
      ASSERT_EQ(row.size(), 3u);
      for (short code : row) EXPECT_TRUE(code == 0 || code == 1);
    }
    if (run == 0) first = generator.return_simulated_haplotypes();
    else EXPECT_EQ(generator.simulated_haplotypes, first);
  }
  const std::string summary = read_file(dir.file("run.summary"));
  const std::string expected_start =
      "\nRandom seed set to 0.12345\n"
      "theta not set, so setting to a default value of 0.666667\n"
      "\nProcessing disease loci ... done \n\n"
      "\nSimulating haplotypes ... done\n";
  EXPECT_EQ(summary.substr(0, expected_start.size()), expected_start);
}

TEST(SimulateHaplotypes, ClockSeedIsShownAsAValueBetweenZeroAndOne) {
  TempDir dir;
  TarvikParameters params = make_params(dir, 1, 0, 0.0);
  params.output_file = dir.file("out");
  params.output_directory = dir.path();
  params.dl[20] = DiseaseLocus(1, 2.0, 4.0);
  TarvikGenerator generator(params, three_snp_panel());
  generator.simulate_haplotypes();
  const std::string summary = read_file(dir.file("run.summary"));
  const std::string label = "\nRandom seed set to ";
  ASSERT_EQ(summary.compare(0, label.size(), label), 0) << summary;
  const double seed = std::stod(summary.substr(label.size()));
  EXPECT_GE(seed, 0.0);
  EXPECT_LE(seed, 1.0);
  // A given theta (here 0) is kept: no default is announced.
  EXPECT_EQ(summary.find("theta not set"), std::string::npos);
  EXPECT_EQ(generator.params.theta, 0.0);
}

}  // namespace
