// Statistical soundness of the case model on the bundled panel: a disease
// locus at a common SNP of a 300 kb stretch, 2000 controls and 2000 cases,
// fixed seed.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <memory>
#include <vector>

#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "test_support.hpp"

namespace {

using testing_support::TempDir;

const int kDiseasePosition = 1994801;  // allele-1 frequency 0.357 in the panel
const int kPartnerPosition = 1988682;  // r^2 about 0.92 with it, positive D
const int kSubjects = 2000;            // controls, and cases

int snp_index(const Data& data, int position) {
  auto it = data.snps_data.find(position);
  EXPECT_NE(it, data.snps_data.end()) << position;
  return static_cast<int>(std::distance(data.snps_data.begin(), it));
}

double panel_frequency(const Data& data, int position) {
  const std::vector<int>& codes = data.snps_data.at(position).haplotypes;
  double total = 0;
  for (int a : codes) total += a;
  return total / codes.size();
}

// Allele-1 frequency among the rows [first, end) at SNP index j.
double row_frequency(const TarvikGenerator& g, int first, int end, int j) {
  double total = 0;
  for (int r = first; r < end; ++r) total += g.simulated_haplotypes[r][j];
  return total / (end - first);
}

class CaseModelOnPanel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir();
    TarvikParameters params;
    params.haplotype_file = testing_support::example_file("chr20.hap.gz");
    params.legend_file = testing_support::example_file("chr20.legend.gz");
    params.genetic_map_file = testing_support::example_file("chr20.map.gz");
    params.lower = 1850000;
    params.upper = 2150000;
    params.ncontrols = kSubjects;
    params.ncases = kSubjects;
    params.summary_file = dir->file("run.summary");
    params.dl[kDiseasePosition] = DiseaseLocus(1, 1.5, 2.25);
    risk = simulate(TarvikGenerator(params));

    params.dl[kDiseasePosition] = DiseaseLocus(1, 1.0, 1.0);
    neutral = simulate(TarvikGenerator(params, risk->panel_data));
  }
  static void TearDownTestSuite() {
    delete risk;
    delete neutral;
    delete dir;
  }

  static TarvikGenerator* simulate(TarvikGenerator g) {
    MT rng(0.12345);
    Random::Set(rng);
    g.num_simulated_haps = 0;
    g.set_theta();
    g.process_dl();
    g.simulate_all_alleles();
    return new TarvikGenerator(std::move(g));
  }

  // Allele-1 frequency over the panel and the controls: the population the
  // case distribution is built from.
  static double reference_frequency(const TarvikGenerator& g, int position) {
    const double n = g.panel_data.nhaplotypes, m = 2.0 * kSubjects;
    const int j = snp_index(g.panel_data, position);
    return (panel_frequency(g.panel_data, position) * n +
            row_frequency(g, 0, 2 * kSubjects, j) * m) /
           (n + m);
  }

  static TempDir* dir;
  static TarvikGenerator* risk;
  static TarvikGenerator* neutral;
};

TempDir* CaseModelOnPanel::dir = nullptr;
TarvikGenerator* CaseModelOnPanel::risk = nullptr;
TarvikGenerator* CaseModelOnPanel::neutral = nullptr;

const double kBinomialSE = 1.0 / std::sqrt(2.0 * kSubjects);  // times sqrt(p(1-p))

TEST_F(CaseModelOnPanel, CasesCarryTheRiskAlleleAsTheModelSays) {
  ASSERT_EQ(risk->dl_indices.size(), 1u);
  const int j = risk->dl_indices[0];
  ASSERT_EQ(j, snp_index(risk->panel_data, kDiseasePosition));
  const double f = reference_frequency(*risk, kDiseasePosition);
  const double rr1 = 1.5, rr2 = 2.25;
  const double expected =
      f * (rr1 * (1 - f) + rr2 * f) / ((1 - f) * (1 - f) + 2 * f * (1 - f) * rr1 + f * f * rr2);
  const double cases = row_frequency(*risk, 2 * kSubjects, 4 * kSubjects, j);
  // Each case's disease alleles are an independent draw, and the model is
  // multiplicative, so the case alleles are binomial around the expectation.
  EXPECT_NEAR(cases, expected, 4 * kBinomialSE * std::sqrt(expected * (1 - expected))) << "f " << f;
  EXPECT_GT(expected - f, 0.05);  // the test can tell cases from controls

  // Controls copy the panel and the controls before them, an urn that gains
  // one copy per haplotype: the spread around the panel frequency is that of
  // a Polya urn started from the n panel haplotypes.
  const double fp = panel_frequency(risk->panel_data, kDiseasePosition);
  const double n = risk->panel_data.nhaplotypes, m = 2.0 * kSubjects;
  const double urn_se = std::sqrt(fp * (1 - fp) * (n + m) / (m * (n + 1)));
  EXPECT_NEAR(row_frequency(*risk, 0, 2 * kSubjects, j), fp, 4 * urn_se);
}

TEST_F(CaseModelOnPanel, NeutralLocusLeavesCasesLikeControls) {
  const int j = neutral->dl_indices[0];
  const double f = reference_frequency(*neutral, kDiseasePosition);
  const double se = kBinomialSE * std::sqrt(f * (1 - f));
  const double cases = row_frequency(*neutral, 2 * kSubjects, 4 * kSubjects, j);
  const double controls = row_frequency(*neutral, 0, 2 * kSubjects, j);
  EXPECT_NEAR(cases, f, 4 * se);
  EXPECT_NEAR(cases, controls, 4 * std::sqrt(2.0) * se);
}

TEST_F(CaseModelOnPanel, LinkedSnpRisesInCases) {
  // Precondition on the panel: the partner's allele 1 goes with the risk allele.
  const std::vector<int>& a = risk->panel_data.snps_data.at(kDiseasePosition).haplotypes;
  const std::vector<int>& b = risk->panel_data.snps_data.at(kPartnerPosition).haplotypes;
  double both = 0;
  for (std::size_t c = 0; c < a.size(); ++c) both += a[c] * b[c];
  const double fa = panel_frequency(risk->panel_data, kDiseasePosition);
  const double fb = panel_frequency(risk->panel_data, kPartnerPosition);
  ASSERT_GT(both / a.size() - fa * fb, 0.15);

  const int j = snp_index(risk->panel_data, kPartnerPosition);
  const double cases = row_frequency(*risk, 2 * kSubjects, 4 * kSubjects, j);
  const double controls = row_frequency(*risk, 0, 2 * kSubjects, j);
  const double se = kBinomialSE * std::sqrt(2 * fb * (1 - fb));
  EXPECT_GT(cases - controls, 4 * se) << "cases " << cases << " controls " << controls;

  // Without risk the partner shows no such rise.
  const double neutral_cases = row_frequency(*neutral, 2 * kSubjects, 4 * kSubjects, j);
  const double neutral_controls = row_frequency(*neutral, 0, 2 * kSubjects, j);
  EXPECT_NEAR(neutral_cases, neutral_controls, 4 * se);
}

}  // namespace
