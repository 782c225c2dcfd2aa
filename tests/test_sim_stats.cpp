// Statistical checks of the copying model on the bundled chr20 panel: the
// simulated controls must keep the panel's allele frequencies and its linkage
// disequilibrium between neighbouring SNPs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "test_support.hpp"

using testing_support::TempDir;
using testing_support::example_file;

namespace {

constexpr int kControls = 1000;

TarvikParameters example_params(const TempDir& dir) {
  TarvikParameters params;
  params.haplotype_file = example_file("chr20.hap.gz");
  params.legend_file = example_file("chr20.legend.gz");
  params.genetic_map_file = example_file("chr20.map.gz");
  params.lower = 1500000;  // a 1 Mb stretch of the panel, several thousand SNPs
  params.upper = 2500000;
  params.ncontrols = kControls;
  params.ncases = 0;
  params.summary_file = dir.file("run.summary");
  return params;
}

// Simulates the controls with a fixed seed, as a run with "-nrs" does.
void simulate_controls(TarvikGenerator& generator, double seed) {
  MT rng(seed);
  Random::Set(rng);
  generator.num_simulated_haps = 0;
  generator.simulate_all_alleles();
}

class ExamplePanel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir();
    generator = new TarvikGenerator(example_params(*dir));
    generator->set_theta();
    simulate_controls(*generator, 0.12345);
  }
  static void TearDownTestSuite() {
    delete generator;
    delete dir;
  }
  static TempDir* dir;
  static TarvikGenerator* generator;
};
TempDir* ExamplePanel::dir = nullptr;
TarvikGenerator* ExamplePanel::generator = nullptr;

struct Counts {
  double p1;   // frequency of allele 1 at the first SNP
  double p2;   // at the second
  double p11;  // of the haplotype carrying allele 1 at both
};

double r_squared(const Counts& c) {
  const double d = c.p11 - c.p1 * c.p2;
  return d * d / (c.p1 * (1 - c.p1) * c.p2 * (1 - c.p2));
}

TEST_F(ExamplePanel, RowsAreCompleteAndHoldOnlyAlleleCodes) {
  const auto& rows = generator->simulated_haplotypes;
  ASSERT_EQ(rows.size(), 2u * kControls);
  EXPECT_EQ(generator->simulated_phenotypes, std::vector<int>(kControls, 0));
  const std::size_t nsnps = generator->panel_data.snps_data.size();
  ASSERT_GT(nsnps, 5000u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), nsnps);
    for (short code : row) ASSERT_TRUE(code == 0 || code == 1) << code;
  }
}

// At any one SNP, each new haplotype copies a uniformly chosen earlier one
// (panel or simulated) and mutates with probability below 1e-4, so the allele
// counts follow a Polya urn started with the n panel haplotypes. Among the
// m = 2000 drawn haplotypes the allele-1 frequency has mean p (the panel
// frequency) and variance p(1-p)(n+m)/(m(n+1)): about 2.2 times the binomial
// variance, as if m_eff = m(n+1)/(n+m) = 462 haplotypes had been sampled
// independently. With p >= 0.05 (at least 30 copies in the panel) the urn's
// Beta limit is close to normal, so each standardised difference z is about
// N(0, 1): a bound of |z| < 5 fails by chance with probability 6e-7 per SNP,
// under 1% over the SNPs of the interval. The SNPs are linked, so the mean of
// z^2 averages over a few hundred independent blocks rather than thousands of
// SNPs; its expected value is 1 with a standard deviation near 0.1, and 0.6 to
// 1.4 allows four of those.
TEST_F(ExamplePanel, ControlsKeepThePanelAlleleFrequencies) {
  const auto& rows = generator->simulated_haplotypes;
  const double n = generator->panel_data.nhaplotypes;
  const double m = static_cast<double>(rows.size());
  const double urn_factor = (n + m) / (m * (n + 1));
  int j = 0;
  int tested = 0;
  double sum_z2 = 0.0;
  double max_abs_z = 0.0;
  for (const auto& entry : generator->panel_data.snps_data) {
    const double p = entry.second.frequency;
    if (p >= 0.05 && p <= 0.95) {
      double ones = 0;
      for (const auto& row : rows) ones += row[j];
      const double z = (ones / m - p) / std::sqrt(p * (1 - p) * urn_factor);
      sum_z2 += z * z;
      max_abs_z = std::max(max_abs_z, std::fabs(z));
      ++tested;
    }
    ++j;
  }
  ASSERT_GT(tested, 1000);
  std::printf("allele frequencies: %d SNPs, mean z^2 %.3f, max |z| %.2f\n", tested,
              sum_z2 / tested, max_abs_z);
  EXPECT_LT(max_abs_z, 5.0);
  EXPECT_GT(sum_z2 / tested, 0.6);
  EXPECT_LT(sum_z2 / tested, 1.4);
}

// Neighbouring SNPs are copied from the same source unless the copying
// switches between them, which happens with probability 1 - e^(-drho/N):
// around 1e-4 here, so the two-SNP haplotypes follow the same urn as single
// alleles, with m_eff = 462. The sampling variance of r^2 from m_eff
// haplotypes is about 4 r^2 (1 - r^2)^2 / m_eff, at most 0.593 / 462 (at
// r^2 = 1/3): a standard deviation of at most 0.036, so a bound of 0.18 is 5
// standard deviations for pairs of common SNPs (both frequencies in
// [0.1, 0.9], where the approximation holds). The mean difference over all
// pairs must stay near 0 (within 0.03): its own sampling error is below 0.01
// even if only a hundred blocks were independent, and the estimate's bias
// (about (1 - r^2)^2 / m_eff, at most 0.002) and the decay by switches are
// far smaller. Copying SNPs independently would lose nearly all of the
// panel's mean r^2, which is printed for scale.
TEST_F(ExamplePanel, ControlsKeepTheLinkageBetweenNeighbouringCommonSnps) {
  const auto& rows = generator->simulated_haplotypes;
  const double m = static_cast<double>(rows.size());
  const double n = generator->panel_data.nhaplotypes;
  std::vector<const snp*> snps;
  for (const auto& entry : generator->panel_data.snps_data) snps.push_back(&entry.second);

  int pairs = 0;
  double sum_panel = 0.0;
  double sum_difference = 0.0;
  double max_difference = 0.0;
  for (std::size_t j = 0; j + 1 < snps.size(); ++j) {
    const snp& a = *snps[j];
    const snp& b = *snps[j + 1];
    if (a.frequency < 0.1 || a.frequency > 0.9 || b.frequency < 0.1 || b.frequency > 0.9) continue;
    Counts panel{a.frequency, b.frequency, 0.0};
    for (int c = 0; c < static_cast<int>(n); ++c) panel.p11 += a.haplotypes[c] * b.haplotypes[c];
    panel.p11 /= n;
    Counts simulated{0.0, 0.0, 0.0};
    for (const auto& row : rows) {
      simulated.p1 += row[j];
      simulated.p2 += row[j + 1];
      simulated.p11 += row[j] * row[j + 1];
    }
    simulated.p1 /= m;
    simulated.p2 /= m;
    simulated.p11 /= m;
    const double difference = r_squared(simulated) - r_squared(panel);
    sum_panel += r_squared(panel);
    sum_difference += difference;
    max_difference = std::max(max_difference, std::fabs(difference));
    ++pairs;
  }
  ASSERT_GT(pairs, 500);
  std::printf("r^2 of neighbouring common SNPs: %d pairs, panel mean %.3f, mean difference %.4f, "
              "max |difference| %.3f\n",
              pairs, sum_panel / pairs, sum_difference / pairs, max_difference);
  EXPECT_LT(max_difference, 0.18);
  EXPECT_LT(std::fabs(sum_difference / pairs), 0.03);
}

TEST_F(ExamplePanel, TheSameSeedReproducesEveryRowAndAnotherSeedDoesNot) {
  TempDir other_dir;
  TarvikGenerator again(example_params(other_dir), generator->panel_data);
  again.params.theta = generator->params.theta;
  simulate_controls(again, 0.12345);
  EXPECT_TRUE(again.simulated_haplotypes == generator->simulated_haplotypes);
  simulate_controls(again, 0.54321);
  EXPECT_FALSE(again.simulated_haplotypes == generator->simulated_haplotypes);
}

}  // namespace
