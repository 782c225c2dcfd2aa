// Association testing: the chi-squared tail, the logistic-regression fit and
// its likelihood-ratio test, and the association report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "assoc/cdfchi.hpp"
#include "assoc/single_snp_test.hpp"
#include "driver/association_report.hpp"
#include "numerical.hpp"
#include "sim/generator.hpp"
#include "test_support.hpp"

using NEWMAT::Matrix;
using numerical::SolverStatus;
using testing_support::TempDir;

namespace {

const double nan_value = std::numeric_limits<double>::quiet_NaN();

struct Sample {
  std::vector<std::vector<short>> haplotypes;
  std::vector<int> phenotypes;
};

// One individual per entry: its allele-1 count at SNP indices 0, 1, ... and
// its phenotype. A heterozygote carries allele 1 on its first row.
Sample make_sample(const std::vector<std::vector<int>>& genotypes, const std::vector<int>& phenotypes) {
  Sample sample;
  for (const std::vector<int>& g : genotypes) {
    std::vector<short> first, second;
    for (int count : g) {
      first.push_back(count >= 1 ? 1 : 0);
      second.push_back(count == 2 ? 1 : 0);
    }
    sample.haplotypes.push_back(first);
    sample.haplotypes.push_back(second);
  }
  sample.phenotypes = phenotypes;
  return sample;
}

double uniform(std::mt19937& gen) { return (gen() + 0.5) / 4294967296.0; }

// Individuals with three SNPs (allele-1 frequencies 0.3, 0.2, 0.4), SNP 1
// in strong linkage disequilibrium with SNP 0, and case status drawn from a
// logistic model with the given intercept and per-allele effects.
Sample random_sample(int individuals, double intercept, const std::vector<double>& effects,
                     unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::vector<int>> genotypes;
  std::vector<int> phenotypes;
  for (int k = 0; k < individuals; ++k) {
    std::vector<int> g(3, 0);
    for (int h = 0; h < 2; ++h) {
      const int a0 = uniform(gen) < 0.3;
      const int a1 = uniform(gen) < 0.85 ? a0 : (uniform(gen) < 0.2);
      const int a2 = uniform(gen) < 0.4;
      g[0] += a0;
      g[1] += a1;
      g[2] += a2;
    }
    double eta = intercept;
    for (int t = 0; t < 3; ++t) eta += effects[t] * g[t];
    genotypes.push_back(g);
    phenotypes.push_back(uniform(gen) < 1.0 / (1.0 + std::exp(-eta)));
  }
  return make_sample(genotypes, phenotypes);
}

Matrix column(const std::vector<double>& values) {
  Matrix m(static_cast<int>(values.size()), 1);
  for (std::size_t i = 0; i < values.size(); ++i) m(static_cast<int>(i) + 1, 1) = values[i];
  return m;
}

double null_loglikelihood(const std::vector<int>& phenotypes) {
  double n1 = 0;
  for (int y : phenotypes) n1 += y;
  const double n = phenotypes.size();
  const double n0 = n - n1;
  return n1 * std::log(n1) + n0 * std::log(n0) - n * std::log(n);
}

struct Fit {
  Matrix beta, se;
  double pvalue = -1;
  SolverStatus status = SolverStatus::iteration_limit;
};

Fit fit(const Sample& s, const std::set<int>& snps) {
  Fit f;
  f.status = single_snp_test::run_test(s.haplotypes, s.phenotypes, snps, f.beta, f.se, f.pvalue);
  return f;
}

// The likelihood-ratio statistic, from the fitted and the null log-likelihoods.
double lr_statistic(const Sample& s, const std::set<int>& snps) {
  Matrix beta, variance;
  double l1 = 0;
  single_snp_test::maximise_likelihood_snp(s.haplotypes, s.phenotypes, snps, beta, l1, variance);
  return -2.0 * (null_loglikelihood(s.phenotypes) - l1);
}

double upper_tail(double x, double df) {
  int which = 1, status = -99;
  double p = 0, q = 0, bound = 0;
  cdfchi(&which, &p, &q, &x, &df, &status, &bound);
  EXPECT_EQ(status, 0);
  return q;
}

}  // namespace

// ---------------------------------------------------------------------------
// Chi-squared tail probability

TEST(Cdfchi, ReferenceValues) {
  struct Case {
    double x, df, q;
  };
  const double u = 7.5;  // df 3 has the closed form Q = erfc(sqrt(u)) + 2 sqrt(u / pi) exp(-u)
  const Case cases[] = {
      {0.0, 1.0, 1.0},
      {0.0, 7.0, 1.0},
      {3.841458820694124, 1.0, 0.05},
      {2.0 * std::log(100.0), 2.0, 0.01},
      {150.0, 1.0, std::erfc(std::sqrt(150 / 2.0))},  // exact for one degree of freedom
      {400.0, 2.0, std::exp(-200.0)},
      {2 * u, 3.0, std::erfc(std::sqrt(u)) + 2.0 * std::sqrt(u / M_PI) * std::exp(-u)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("x " + std::to_string(c.x) + " df " + std::to_string(c.df));
    int which = 1, status = -99;
    double p = -1, q = -1, x = c.x, df = c.df, bound = -1;
    cdfchi(&which, &p, &q, &x, &df, &status, &bound);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(q / c.q, 1.0, 1e-12);
    EXPECT_NEAR(p + q, 1.0, 1e-15);
  }
  // q of order 1e-34 keeps full relative accuracy while p rounds to 1.
  int which = 1, status = -99;
  double p = -1, q = -1, x = 150.0, df = 1.0, bound = -1;
  cdfchi(&which, &p, &q, &x, &df, &status, &bound);
  EXPECT_EQ(p, 1.0);
  EXPECT_GT(q, 1e-34);
  EXPECT_LT(q, 1e-33);
}

TEST(Cdfchi, ErrorStatusesInCheckOrder) {
  struct Case {
    int which;
    double x, df;
    int status;
    double bound;
  };
  const double nan = nan_value;
  const Case cases[] = {
      {0, 1.0, 1.0, -1, 1.0},   {-3, -1.0, 0.0, -1, 1.0}, {4, 1.0, 1.0, -1, 3.0},
      {2, 1.0, 1.0, -1, 1.0},   {3, 1.0, 1.0, -1, 1.0},   {1, -1.0, 1.0, -4, 0.0},
      {1, nan, 1.0, -4, 0.0},   {1, -1.0, 0.0, -4, 0.0},  {1, 1.0, 0.0, -5, 0.0},
      {1, 1.0, -2.0, -5, 0.0},  {1, 1.0, nan, -5, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("which " + std::to_string(c.which) + " x " + std::to_string(c.x) + " df " +
                 std::to_string(c.df));
    int which = c.which, status = 0;
    double p = 42, q = 43, x = c.x, df = c.df, bound = -7;
    cdfchi(&which, &p, &q, &x, &df, &status, &bound);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(bound, c.bound);
    EXPECT_EQ(p, 42);
    EXPECT_EQ(q, 43);
  }
}

// ---------------------------------------------------------------------------
// Newton-Raphson

TEST(NewtonRaphson, FindsRootAndReportsHowItEnded) {
  const auto score = [](const Matrix& x) {
    Matrix u(1, 1);
    u(1, 1) = x(1, 1) * x(1, 1) - 2.0;
    return u;
  };
  const auto slope = [](const Matrix& x) {
    Matrix h(1, 1);
    h(1, 1) = 2.0 * x(1, 1);
    return h;
  };
  const numerical::SolverResult root = numerical::newton_raphson(column({1.0}), score, slope, 1e-28);
  EXPECT_EQ(root.status, SolverStatus::converged);
  EXPECT_NEAR(root.root(1, 1), std::sqrt(2.0), 1e-13);
  EXPECT_LT(root.iterations, 10);

  const numerical::SolverResult capped =
      numerical::newton_raphson(column({100.0}), score, slope, 1e-20, 3);
  EXPECT_EQ(capped.status, SolverStatus::iteration_limit);
  EXPECT_EQ(capped.iterations, 3);

  // A flat start point: the derivative is exactly zero.
  const numerical::SolverResult flat = numerical::newton_raphson(column({0.0}), score, slope, 1e-20);
  EXPECT_EQ(flat.status, SolverStatus::singular_hessian);

  const auto nan_score = [](const Matrix&) { return column({nan_value}); };
  const numerical::SolverResult lost =
      numerical::newton_raphson(column({1.0}), nan_score, slope, 1e-20);
  EXPECT_EQ(lost.status, SolverStatus::diverged);
}

// ---------------------------------------------------------------------------
// Log-likelihood, score and Hessian

TEST(Likelihood, NullModelMatchesClosedForm) {
  const Sample s = random_sample(300, -0.5, {0.4, 0.0, 0.2}, 11);
  double n1 = 0;
  for (int y : s.phenotypes) n1 += y;
  const double n0 = s.phenotypes.size() - n1;
  const double at_null = single_snp_test::loglikelihood_function(
      column({std::log(n1 / n0), 0.0, 0.0}), s.haplotypes, s.phenotypes, {0, 2});
  EXPECT_NEAR(at_null, null_loglikelihood(s.phenotypes), 1e-9);
}

TEST(Likelihood, ScoreAndHessianAreDerivatives) {
  const Sample s = random_sample(200, -0.3, {0.5, 0.2, -0.4}, 5);
  const std::set<int> snps{0, 1, 2};
  const std::vector<double> b{-0.2, 0.3, 0.1, -0.25};
  const Matrix u = single_snp_test::score_function(column(b), s.haplotypes, s.phenotypes, snps);
  const Matrix h = single_snp_test::hessian_function(column(b), s.haplotypes, s.phenotypes, snps);
  const double step = 1e-5;
  for (int i = 0; i < 4; ++i) {
    std::vector<double> up = b, down = b;
    up[i] += step;
    down[i] -= step;
    const double dl = (single_snp_test::loglikelihood_function(column(up), s.haplotypes, s.phenotypes, snps) -
                       single_snp_test::loglikelihood_function(column(down), s.haplotypes, s.phenotypes, snps)) /
                      (2 * step);
    EXPECT_NEAR(u(i + 1, 1), dl, 1e-5) << "score entry " << i + 1;
    const Matrix du = (single_snp_test::score_function(column(up), s.haplotypes, s.phenotypes, snps) -
                       single_snp_test::score_function(column(down), s.haplotypes, s.phenotypes, snps)) /
                      (2 * step);
    for (int j = 0; j < 4; ++j) {
      EXPECT_NEAR(h(j + 1, i + 1), du(j + 1, 1), 1e-5) << "Hessian " << j + 1 << "," << i + 1;
      EXPECT_EQ(h(i + 1, j + 1), h(j + 1, i + 1));
    }
  }
}

TEST(Likelihood, HugeLinearPredictorsStayFinite) {
  // One case and one control, both homozygous: eta = +-800 overflows exp.
  const Sample s = make_sample({{2}, {2}}, {1, 0});
  for (double b : {400.0, -400.0}) {
    SCOPED_TRACE("beta " + std::to_string(b));
    const Matrix beta = column({0.0, b});
    const double l = single_snp_test::loglikelihood_function(beta, s.haplotypes, s.phenotypes, {0});
    // The correctly predicted individual contributes about 0, the other -800.
    EXPECT_NEAR(l, -800.0, 1e-9);
    const Matrix u = single_snp_test::score_function(beta, s.haplotypes, s.phenotypes, {0});
    EXPECT_NEAR(u(1, 1), b > 0 ? -1.0 : 1.0, 1e-12);
    EXPECT_NEAR(u(2, 1), b > 0 ? -2.0 : 2.0, 1e-12);
    const Matrix h = single_snp_test::hessian_function(beta, s.haplotypes, s.phenotypes, {0});
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) {
        EXPECT_TRUE(std::isfinite(h(i, j)));
        EXPECT_LE(h(i, j), 0.0);
      }
  }
}

// ---------------------------------------------------------------------------
// Fit and likelihood-ratio test

TEST(RunTest, NoAssociationGivesZeroEffectAndPValueOne) {
  // Cases and controls have the same genotypes, so the fit stays at zero
  // and the statistic is zero up to rounding.
  const std::vector<std::vector<int>> half{{0}, {1}, {2}, {1}, {0}, {1}, {0}};
  std::vector<std::vector<int>> genotypes = half;
  genotypes.insert(genotypes.end(), half.begin(), half.end());
  const Sample s = make_sample(genotypes, {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1});
  const Fit f = fit(s, {0});
  ASSERT_EQ(f.status, SolverStatus::converged);
  EXPECT_NEAR(f.beta(2, 1), 0.0, 1e-12);
  const double chisq = lr_statistic(s, {0});
  EXPECT_NEAR(chisq, 0.0, 1e-12);
  // This sample's rounding makes the statistic non-positive, which must give
  // exactly 1.
  ASSERT_LE(chisq, 0.0);
  EXPECT_EQ(f.pvalue, 1.0);

  // The intercept-only model is the null model.
  const Fit intercept_only = fit(s, {});
  ASSERT_EQ(intercept_only.status, SolverStatus::converged);
  EXPECT_EQ(intercept_only.pvalue, 1.0);

  // Without cases the null log-likelihood is 0 log 0, not a number.
  const Sample controls = make_sample(half, {0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(fit(controls, {0}).pvalue, 1.0);
}

TEST(RunTest, DegreesOfFreedomEqualTheNumberOfSnps) {
  const Sample s = random_sample(800, -0.4, {0.3, 0.1, 0.25}, 21);
  for (const std::set<int>& snps : {std::set<int>{2}, std::set<int>{0, 2}, std::set<int>{0, 1, 2}}) {
    SCOPED_TRACE(snps.size());
    const Fit f = fit(s, snps);
    ASSERT_EQ(f.status, SolverStatus::converged);
    EXPECT_EQ(f.beta.Nrows(), static_cast<int>(snps.size()) + 1);
    EXPECT_EQ(f.se.Nrows(), static_cast<int>(snps.size()) + 1);
    const double chisq = lr_statistic(s, snps);
    EXPECT_GT(chisq, 1.0);
    EXPECT_NEAR(f.pvalue / upper_tail(chisq, snps.size()), 1.0, 1e-12);
  }
}

TEST(RunTest, StandardErrorsIncludeCovariances) {
  const Sample s = random_sample(1000, -0.2, {0.4, 0.2, 0.0}, 3);
  const Fit f = fit(s, {0});
  ASSERT_EQ(f.status, SolverStatus::converged);
  const Matrix h = single_snp_test::hessian_function(f.beta, s.haplotypes, s.phenotypes, {0});
  // Inverse of the 2 x 2 information matrix [a b; b d]: diagonal d/det, a/det.
  const double a = -h(1, 1), b = -h(1, 2), d = -h(2, 2), det = a * d - b * b;
  EXPECT_NEAR(f.se(1, 1) / std::sqrt(d / det), 1.0, 1e-10);
  EXPECT_NEAR(f.se(2, 1) / std::sqrt(a / det), 1.0, 1e-10);
  // Ignoring the covariance would give visibly smaller errors here.
  EXPECT_GT(f.se(1, 1), 1.2 / std::sqrt(a));
  EXPECT_GT(f.se(2, 1), 1.2 / std::sqrt(d));
}

TEST(RunTest, OrderOfIndividualsDoesNotMatter) {
  const Sample s = random_sample(500, -0.1, {0.5, 0.0, -0.3}, 8);
  Sample shuffled;
  std::mt19937 gen(99);
  std::vector<int> order(s.phenotypes.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
  std::shuffle(order.begin(), order.end(), gen);
  for (int k : order) {
    shuffled.haplotypes.push_back(s.haplotypes[2 * k]);
    shuffled.haplotypes.push_back(s.haplotypes[2 * k + 1]);
    shuffled.phenotypes.push_back(s.phenotypes[k]);
  }
  const Fit a = fit(s, {0, 2});
  const Fit b = fit(shuffled, {0, 2});
  ASSERT_EQ(a.status, SolverStatus::converged);
  ASSERT_EQ(b.status, SolverStatus::converged);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NEAR(a.beta(i, 1), b.beta(i, 1), 1e-10);
    EXPECT_NEAR(a.se(i, 1), b.se(i, 1), 1e-10);
  }
  EXPECT_NEAR(a.pvalue / b.pvalue, 1.0, 1e-8);
}

TEST(RunTest, SnpWithoutVariationGivesNanInsteadOfThrowing) {
  // SNP 0 is never carried; SNP 1 is heterozygous in everyone (the same
  // column as the intercept); SNPs 2 and 3 are identical; SNP 4 carries the
  // other allele of SNP 2 (2 minus its genotype), dependent only up to rounding.
  const std::vector<std::vector<int>> g{{0, 1, 0, 0, 2}, {0, 1, 1, 1, 1}, {0, 1, 2, 2, 0},
                                        {0, 1, 1, 1, 1}, {0, 1, 0, 0, 2}, {0, 1, 2, 2, 0},
                                        {0, 1, 1, 1, 1}, {0, 1, 0, 0, 2}};
  const Sample s = make_sample(g, {0, 0, 1, 1, 0, 1, 0, 1});
  for (const std::set<int>& snps : {std::set<int>{0}, std::set<int>{1}, std::set<int>{2, 3},
                                    std::set<int>{0, 2}, std::set<int>{2, 4}}) {
    SCOPED_TRACE("SNPs " + std::to_string(*snps.begin()) + " to " + std::to_string(*snps.rbegin()));
    Fit f;
    EXPECT_NO_THROW(f = fit(s, snps));
    EXPECT_EQ(f.status, SolverStatus::singular_hessian);
    ASSERT_EQ(f.beta.Nrows(), static_cast<int>(snps.size()) + 1);
    ASSERT_EQ(f.se.Nrows(), static_cast<int>(snps.size()) + 1);
    for (int i = 1; i <= f.beta.Nrows(); ++i) {
      EXPECT_TRUE(std::isnan(f.beta(i, 1)));
      EXPECT_TRUE(std::isnan(f.se(i, 1)));
    }
    EXPECT_TRUE(std::isnan(f.pvalue));
  }
  const Fit usable = fit(s, {2});
  EXPECT_EQ(usable.status, SolverStatus::converged);
}

TEST(RunTest, StrongAssociationGivesTinyPValue) {
  // Cases are mostly homozygous for allele 1, controls mostly for allele 0,
  // with every genotype present in both groups.
  std::vector<std::vector<int>> g;
  std::vector<int> y;
  for (int k = 0; k < 400; ++k) {
    const bool is_case = k % 2;
    if (is_case)
      g.push_back({k % 20 == 1 ? 1 : k % 100 == 3 ? 0 : 2});
    else
      g.push_back({k % 20 == 0 ? 1 : k % 100 == 2 ? 2 : 0});
    y.push_back(is_case);
  }
  const Sample s = make_sample(g, y);
  const Fit f = fit(s, {0});
  ASSERT_EQ(f.status, SolverStatus::converged);
  const double chisq = lr_statistic(s, {0});
  EXPECT_GT(f.beta(2, 1), 3.0);
  EXPECT_LT(f.pvalue, 1e-60);
  EXPECT_GT(f.pvalue, 0.0);
  EXPECT_NEAR(f.pvalue / upper_tail(chisq, 1), 1.0, 1e-12);
}

// ---------------------------------------------------------------------------
// Association report

namespace {

// Twelve individuals, controls first, at three SNPs; SNP 1 is never carried.
Sample report_sample() {
  return make_sample({{0, 0, 1}, {1, 0, 0}, {0, 0, 0}, {2, 0, 1}, {0, 0, 2}, {1, 0, 0},
                      {1, 0, 1}, {2, 0, 2}, {0, 0, 1}, {1, 0, 0}, {2, 0, 1}, {0, 0, 2}},
                     {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1});
}

// Runs the report on a hand-filled engine and returns what reached the
// summary file; `log` keeps its format state for inspection.
std::string report_text(const std::vector<int>& dl_indices, std::ostringstream& log) {
  TempDir dir;
  TarvikParameters params;
  params.summary_file = dir.file("run.summary");
  TarvikGenerator engine(params, Data());
  const Sample s = report_sample();
  engine.simulated_haplotypes = s.haplotypes;
  engine.simulated_phenotypes = s.phenotypes;
  engine.num_simulated_haps = static_cast<int>(s.haplotypes.size());
  engine.dl_indices = dl_indices;
  association_report(engine, log);
  EXPECT_EQ(log.str(), "");  // flushed into the summary file
  return testing_support::read_file(params.summary_file);
}

}  // namespace

// The numbers agree with a reference logistic-regression fit (iterated to
// convergence) to the last printed digit, except SNP 2's single-SNP beta and
// standard error, 0.9293 and 0.8443 there: the stopping rule on the sum of
// squared scores ends these fits that early.
TEST(AssociationReport, TablesLayoutAndFormat) {
  std::ostringstream log;
  log << std::fixed << std::showpoint << std::setprecision(0);  // as the parameter summary leaves it
  const std::string text = report_text({2, 0, 2}, log);
  EXPECT_EQ(text,
            "\n\nThe pvalues and effect sizes of each disease SNP is:\n\n"
            "Disease_locus_index           beta        beta_se         pvalue\n"
            "              0             0.5346         0.7493         0.4674\n"
            "              2             0.9285         0.8442          0.246\n"
            "\n\nThe pvalue for the full disease model is 0.3713:\n"
            "Disease_locus_index           beta        beta_se\n"
            "              0             0.6322         0.8228\n"
            "              2              0.989         0.8674\n");
  // The run-time line that follows is written in the same general format.
  log << 12.0 << " " << 2.5 << " " << 1234.5678 << " " << 0.000123456;
  EXPECT_EQ(log.str(), "12 2.5 1235 0.0001235");
}

TEST(AssociationReport, UnestimableModelsPrintNanRowsAndWarnings) {
  std::ostringstream log;
  std::string text;
  ASSERT_NO_THROW(text = report_text({1, 2}, log));
  EXPECT_EQ(text,
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
            "Warning: the full disease model could not be estimated (singular information "
            "matrix); its rows show nan.\n");
}
