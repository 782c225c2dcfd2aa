// Association testing: the chi-squared tail, the logistic-regression fit and its likelihood-ratio test, and
// the association report.

#include <cmath>
#include <set>
#include <sstream>

#include "assoc/cdfchi.hpp"
#include "assoc/logistic_regression.hpp"
#include "driver/association_report.hpp"
#include "assoc/numerical.hpp"
#include "sim/generator.hpp"
#include "engine_support.hpp"
#include "test_support.hpp"

using NEWMAT::Matrix;
using numerical::SolverStatus;
namespace sst = logistic_regression;

namespace {

struct Sample { std::vector<std::vector<short>> haplotypes; std::vector<int> phenotypes; };

sst::GenotypeDesign design(const Sample& s, const std::set<int>& snps) {
  const std::size_t nsnps = s.haplotypes.empty() ? 0 : s.haplotypes[0].size();
  return sst::GenotypeDesign(testing_support::RowSource(s.haplotypes, nsnps).source(), s.phenotypes, snps);
}

// One individual per entry of allele-1 counts at SNPs 0, 1, ...; heterozygotes carry allele 1 on their first
// row.
Sample make_sample(const std::vector<std::vector<int>>& genotypes, const std::vector<int>& status) {
  Sample s{{}, status};
  for (const std::vector<int>& g : genotypes) {
    s.haplotypes.resize(s.haplotypes.size() + 2);
    for (int count : g) {
      s.haplotypes.rbegin()[1].push_back(count >= 1);
      s.haplotypes.back().push_back(count == 2);
    }
  }
  return s;
}

Matrix column(const std::vector<double>& values) {
  Matrix m(static_cast<int>(values.size()), 1);
  for (std::size_t i = 0; i < values.size(); ++i) m(static_cast<int>(i) + 1, 1) = values[i];
  return m;
}

struct Fit { Matrix beta, se; double pvalue = -1; SolverStatus status = SolverStatus::iteration_limit; };

Fit fit(const Sample& s, const std::set<int>& snps) {
  Fit f;
  f.status = sst::run_test(design(s, snps), f.beta, f.se, f.pvalue);
  return f;
}

double upper_tail(double x, double df) {
  int which = 1, status = -99;
  double p = -1, q = -1, bound = -1;
  cdfchi(&which, &p, &q, &x, &df, &status, &bound);
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(p + q, 1.0, 1e-15);
  return q;
}

// The association test calls it only with which 1, x > 0 and df > 0, and asserts status 0.
TEST(Cdfchi, ReferenceValues) {
  const double u = 7.5;  // df 3: Q = erfc(sqrt(u)) + 2 sqrt(u / pi) exp(-u) at x = 2u
  const struct { double x, df, q; } values[] = {
      {0.0, 1.0, 1.0}, {0.0, 7.0, 1.0}, {3.841458820694124, 1.0, 0.05}, {2 * std::log(100.0), 2.0, 0.01},
      {150.0, 1.0, std::erfc(std::sqrt(75.0))}, {400.0, 2.0, std::exp(-200.0)},
      {2 * u, 3.0, std::erfc(std::sqrt(u)) + 2.0 * std::sqrt(u / M_PI) * std::exp(-u)}};
  for (const auto& c : values)
    EXPECT_NEAR(upper_tail(c.x, c.df) / c.q, 1.0, 1e-12) << c.x << " " << c.df;
  EXPECT_GT(upper_tail(150.0, 1.0), 1e-34);  // full relative accuracy while p rounds to 1
}

// The likelihood, score and Hessian on ordinary data are pinned by the golden run of the driver tests and the
// reference fit of the report test below. Here one case and one control, both homozygous: eta = +-800
// overflows exp.
TEST(Likelihood, OverflowSafety) {
  const Sample s = make_sample({{2}, {2}}, {1, 0});
  const std::set<int> snps{0};
  const auto l = [&](std::vector<double> b) { return sst::loglikelihood_function(column(b), design(s, snps)); };
  const auto score = [&](std::vector<double> b) { return sst::score_function(column(b), design(s, snps)); };
  const auto hessian = [&](std::vector<double> b) { return sst::hessian_function(column(b), design(s, snps)); };
  for (double sign : {1.0, -1.0}) {
    EXPECT_NEAR(l({0.0, 400 * sign}), -800.0, 1e-9);
    EXPECT_NEAR(score({0.0, 400 * sign})(1, 1), -sign, 1e-12);
    EXPECT_NEAR(score({0.0, 400 * sign})(2, 1), -2 * sign, 1e-12);
    const Matrix h2 = hessian({0.0, 400 * sign});
    EXPECT_TRUE(std::isfinite(h2.SumSquare()) && h2(1, 1) <= 0 && h2(2, 2) <= 0) << sign;
  }
}

TEST(RunTest, NoAssociationGivesPValueExactlyOne) {
  // Cases and controls have the same genotypes: the likelihood-ratio statistic is 0 up to rounding.
  const std::vector<std::vector<int>> half{{0}, {1}, {2}, {1}, {0}, {1}, {0}};
  std::vector<std::vector<int>> genotypes = half;
  genotypes.insert(genotypes.end(), half.begin(), half.end());
  const Sample s = make_sample(genotypes, {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1});
  const Fit f = fit(s, {0});
  ASSERT_EQ(f.status, SolverStatus::converged);
  EXPECT_NEAR(f.beta(2, 1), 0.0, 1e-12);
  EXPECT_EQ(f.pvalue, 1.0);
  EXPECT_EQ(fit(s, {}).pvalue, 1.0);  // the intercept-only model is the null model
  EXPECT_EQ(fit(make_sample(half, std::vector<int>(7, 0)), {0}).pvalue, 1.0);  // L0 = 0 log 0
}

TEST(RunTest, UnestimableModelsGiveNanInsteadOfThrowing) {
  // SNP 0 is never carried; SNP 1 is heterozygous in everyone (the intercept's column); SNPs 2 and 3 are
  // identical; SNP 4 is 2 minus SNP 2, dependent only up to rounding.
  const Sample s = make_sample({{0, 1, 0, 0, 2}, {0, 1, 1, 1, 1}, {0, 1, 2, 2, 0}, {0, 1, 1, 1, 1},
                                {0, 1, 0, 0, 2}, {0, 1, 2, 2, 0}, {0, 1, 1, 1, 1}, {0, 1, 0, 0, 2}},
                               {0, 0, 1, 1, 0, 1, 0, 1});
  for (const std::set<int>& snps : {std::set<int>{0}, std::set<int>{1}, std::set<int>{2, 3},
                                    std::set<int>{0, 2}, std::set<int>{2, 4}}) {
    Fit f;
    ASSERT_NO_THROW(f = fit(s, snps));
    EXPECT_EQ(f.status, SolverStatus::singular_hessian) << *snps.begin() << "-" << *snps.rbegin();
    ASSERT_EQ(f.beta.Nrows(), static_cast<int>(snps.size()) + 1);
    EXPECT_TRUE(std::isnan(f.pvalue));
    for (int i = 1; i <= f.beta.Nrows(); ++i)
      EXPECT_TRUE(std::isnan(f.beta(i, 1)) && std::isnan(f.se(i, 1))) << i;
  }
  EXPECT_EQ(fit(s, {2}).status, SolverStatus::converged);
}

// The layout and format of both tables are pinned by the golden run of the driver tests; here the rows of
// models that cannot be estimated, for twelve individuals (controls first) at three SNPs, SNP 1 never
// carried. SNP 2's row agrees with a reference fit iterated to convergence to the last printed digit, except
// beta and SE (0.9293, 0.8443 there): the stopping rule ends them early.
TEST(AssociationReport, NanRowsWithWarnings) {
  testing_support::TempDir dir;
  RunLog run_log(dir.file("run.summary"));
  TarvikGenerator engine(RunConfig(), testing_support::make_panel({{0}, {0}, {0}}));  // the rows are its mutants
  const Sample s = make_sample({{0, 0, 1}, {1, 0, 0}, {0, 0, 0}, {2, 0, 1}, {0, 0, 2}, {1, 0, 0},
                                {1, 0, 1}, {2, 0, 2}, {0, 0, 1}, {1, 0, 0}, {2, 0, 1}, {0, 0, 2}},
                               {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1});
  engine.dl_indices = {1, 2};
  testing_support::set_simulated(engine, s.haplotypes);
  engine.simulated_phenotypes = s.phenotypes;
  engine.num_simulated_haps = static_cast<int>(s.haplotypes.size());
  std::ostringstream log;
  const AssociationResults results = test_disease_snps(engine);
  ASSERT_NO_THROW(association_report(results, log, run_log));
  EXPECT_EQ(log.str(), "");  // flushed into the summary file
  EXPECT_EQ(testing_support::read_file(run_log.summary_file()),
            "\n\nThe pvalues and effect sizes of each disease SNP is:\n\n"
            "Disease_locus_index           beta        beta_se         pvalue\n"
            "              1                nan            nan            nan\n"
            "              2             0.9285         0.8442          0.246\n"
            "Warning: the model for disease SNP index 1 could not be estimated (singular "
            "information matrix); its row shows nan.\n"
            "\n\nThe pvalue for the full disease model is nan:\n"
            "Disease_locus_index           beta        beta_se\n"
            "              1                nan            nan\n"
            "              2                nan            nan\n"
            "Warning: the full disease model could not be estimated (singular "
            "information matrix); its rows show nan.\n");
  // The same tests as a table: the SNPs alone (positions 20 and 30), then in the joint model.
  write_assoc_file(dir.file("run.assoc.tsv"), association_rows(engine, results));
  std::istringstream table(testing_support::read_file(dir.file("run.assoc.tsv")));
  std::vector<std::string> lines;
  for (std::string line; std::getline(table, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "test\tpos\trsid\tallele0\tallele1\tbeta\tse\tp");
  EXPECT_EQ(lines[1], "single\t20\t\t\t\tnan\tnan\tnan");
  EXPECT_EQ(lines[2].substr(0, 18), "single\t30\t\t\t\t0.928");
  EXPECT_EQ(lines[4], "joint\t30\t\t\t\tnan\tnan\tnan");
}

}  // namespace
