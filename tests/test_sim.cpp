#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "scripted_draws.hpp"
#include "test_support.hpp"

using testing_support::TempDir;
using testing_support::read_file;

namespace {

using Rows = std::vector<std::vector<short>>;

// SNP j at position 10 (j + 1), map position rho[j] (default 0), codes[j] per panel haplotype.
Data make_panel(const std::vector<std::vector<int>>& codes, const std::vector<double>& rho = {}) {
  Data data;
  data.start_panel(static_cast<int>(codes[0].size()));
  for (std::size_t j = 0; j < codes.size(); ++j)
    data.add_panel_snp(static_cast<int>(10 * (j + 1)), "", "", "", rho.empty() ? 0.0 : rho[j],
                       codes[j].data());
  data.finish_panel();
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

// Panel haplotype 0 is 0 1 0 and haplotype 1 is 1 0 1, all at one map position.
const Data kThreeSnps = make_panel({{0, 1}, {1, 0}, {0, 1}});

TEST(SetTheta, UsesTheReciprocalOfTheHarmonicSumOverAllPanelHaplotypes) {
  const struct { int n; double theta; std::string shown; } cases[] = {
      {1, 1.0, "1"}, {3, 1.0 / (1.0 + 0.5 + 1.0 / 3.0), "0.545455"}};
  for (const auto& c : cases) {
    TempDir dir;
    TarvikGenerator generator(make_params(dir, 1, 0, -1.0), make_panel({std::vector<int>(c.n, 0)}));
    generator.set_theta();
    EXPECT_DOUBLE_EQ(generator.params.theta, c.theta) << c.n;
    EXPECT_EQ(read_file(dir.file("run.summary")),
              "theta not set, so setting to a default value of " + c.shown + "\n");
  }
}

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

const double kJustBelowOne = 1.0 - 1.0 / 8589934592.0;  // the largest MT draw

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

TEST(SimulateAllAlleles, ScriptedDrawsPickSourcesSegmentsAndMutations) {
  // Panel haplotypes 0 0 0 0 and 1 1 1 1 with a long map gap between SNPs 2 and 3.
  const Data gap = make_panel({{0, 1}, {0, 1}, {0, 1}, {0, 1}}, {0, 0, 100, 100});
  const Data one = make_panel({{0, 0}});
  const double under25 = std::nextafter(0.25, 0.0), under20 = std::nextafter(0.2, 0.0);
  const struct {
    const Data& panel;
    int ncontrols, ncases;
    double theta;
    std::vector<double> draws;
    Rows rows;
  } cases[] = {
      // 2 + 2 crossover draws; sources: 0.9 of two candidates is panel haplotype 1 (the first
      // control copies only from the panel), 0.9 of three is its mate; then 3 + 3 allele draws.
      {kThreeSnps, 1, 0, 0.0, {0.5, 0.5, 0.5, 0.5, 0.9, 0.9, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5},
       {{1, 0, 1}, {1, 0, 1}}},
      // mu = theta/2 / (N + theta): 0.25 and 0.2; a draw flips only when strictly below mu.
      {kThreeSnps, 1, 0, 2.0, {0.5, 0.5, 0.5, 0.5, 0.1, 0.1, 0.25, under25, 0.9, 0.2, under20, 0.1},
       {{0, 0, 0}, {0, 0, 1}}},
      // Haplotype 0 switches at the gap (0.9 > e^-50), haplotype 1 does not (1e-16 <= e^-33.3);
      // each segment draws its own source.
      {gap, 1, 0, 0.0,
       {0.5, 0.9, 0.5, 0.5, 1e-16, 0.5, 0.1, 0.9, 0.9, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5},
       {{0, 0, 1, 1}, {0, 0, 1, 1}}},
      // Individual 1 may copy every earlier row: 0.99 of four is row 1, 0.99 of five its own mate.
      {one, 2, 0, 2.0, {0.1, 0.1, 0.9, 0.01, 0.99, 0.99, 0.9, 0.9}, {{0}, {1}, {1}, {1}}},
      {kThreeSnps, 0, 0, 1.0, {}, {}},  // -n 0 0: no draws, still reported
      // A case at SNP 1 (rr2 1e6: pair (1, 1)) draws no ordinary sources; side 0's source is
      // 0.5 of weights 0.75, 0.25 (panel 0), side 1's 0.99 of 0.8, 0.2, 0.8 (its mate); the
      // other SNPs all mutate, but the disease alleles stay.
      {kThreeSnps, 0, 1, 2.0, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.99, 0.01, 0.01, 0.01, 0.01},
       {{1, 1, 1}, {0, 1, 0}}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TarvikParameters params = make_params(dir, c.ncontrols, c.ncases, c.theta);
    if (c.ncases) params.dl[20] = DiseaseLocus(1, 1.0, 1e6);
    TarvikGenerator generator(params, c.panel);
    if (c.ncases) generator.process_dl();
    ScriptedDraws script(c.draws);
    generator.simulate_all_alleles();
    EXPECT_EQ(script.used, c.draws.size()) << "draws left over";
    EXPECT_EQ(generator.return_simulated_haplotypes(), c.rows);
    std::vector<int> phenotypes(c.ncontrols, 0);
    phenotypes.resize(c.ncontrols + c.ncases, 1);
    EXPECT_EQ(generator.simulated_phenotypes, phenotypes);
    EXPECT_EQ(generator.num_simulated_haps, static_cast<int>(c.rows.size()));
    const std::string log = read_file(dir.file("run.summary"));
    const std::string done = "\nSimulating haplotypes ... done\n";
    EXPECT_EQ(log.substr(log.size() - done.size()), done);
  }
}

// Fixed-seed runs repeat byte for byte end to end (driver tests); here the seed and the log order.
TEST(SimulateHaplotypes, SeedsTheRunReportsInOrderAndReleasesTheGenerator) {
  for (bool fixed : {true, false}) {  // "-nrs", or a clock seed with theta 0
    TempDir dir;
    TarvikParameters params = make_params(dir, 2, 1, fixed ? -1.0 : 0.0);
    params.output_file = dir.file("out");
    params.output_directory = dir.path();
    params.dl[20] = DiseaseLocus(1, 2.0, 4.0);
    if (fixed) params.specified_flags.insert("-nrs");
    TarvikGenerator generator(params, kThreeSnps);
    generator.simulate_haplotypes();
    EXPECT_EQ(Random::RNG, Random::Dummy);
    const std::string log = read_file(dir.file("run.summary")), label = "\nRandom seed set to ";
    ASSERT_EQ(log.compare(0, label.size(), label), 0) << log;
    std::size_t digits = 0;
    const double seed = std::stod(log.substr(label.size()), &digits);
    EXPECT_TRUE(fixed ? seed == 0.12345 : seed >= 0.0 && seed <= 1.0) << seed;
    // A clock seed names the seed word that repeats the run.
    std::string word_line;
    if (!fixed) {
      const std::size_t at = label.size() + digits + 1, end = log.find('\n', at);
      word_line = log.substr(at - 1, end - at + 1);
      const std::string word = word_line.substr(std::string("\nRandom seed word ").size());
      EXPECT_EQ(word_line, "\nRandom seed word " + word.substr(0, word.find(' ')) + " (-seed " +
                               word.substr(0, word.find(' ')) + " repeats this run)");
    }
    const std::string rest = word_line + (fixed ? "\ntheta not set, so setting to a default value of 0.666667" : "") +
        std::string("\n\nProcessing disease loci ... done \n\n\nSimulating haplotypes ... done\n");
    EXPECT_EQ(log.substr(label.size() + digits, rest.size()), rest);
  }
}

// Controls simulated on a 1 Mb stretch of the bundled chr20 panel.
TEST(ExamplePanel, ControlsKeepThePanelFrequenciesAndLinkage) {
  TempDir dir;
  const int controls = 1000;
  TarvikParameters params = make_params(dir, controls, 0, -1.0);
  params.haplotype_file = testing_support::example_file("chr20.hap.gz");
  params.legend_file = testing_support::example_file("chr20.legend.gz");
  params.genetic_map_file = testing_support::example_file("chr20.map.gz");
  params.lower = 1500000;
  params.upper = 2500000;
  TarvikGenerator g(params);
  g.set_theta();
  MT rng(0.12345);
  Random::Set(rng);
  g.simulate_all_alleles();
  const Rows rows = g.return_simulated_haplotypes();
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
    for (int c = 0; c < n; ++c) panel11 += g.panel_data.panel.get(j, c) * g.panel_data.panel.get(j + 1, c);
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

}  // namespace
