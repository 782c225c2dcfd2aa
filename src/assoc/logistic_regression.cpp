#include "assoc/logistic_regression.hpp"

#include <cassert>
#include <cmath>
#include <limits>
#include <string>

#include <newmat/newmatap.h>

#include "assoc/cdfchi.hpp"

namespace logistic_regression {

namespace {

const double not_a_number = std::numeric_limits<double>::quiet_NaN();

// log(1 + exp(eta)) without overflow: for large eta, exp(eta) is infinite
// but the value is eta plus a vanishing correction.
inline double log_one_plus_exp(double eta) {
  return eta > 0 ? eta + std::log1p(std::exp(-eta)) : std::log1p(std::exp(eta));
}

// The fitted probability of being a case, p = exp(eta) / (1 + exp(eta)), and
// its complement q = 1 - p, each from an exponential of a non-positive number
// so that neither overflows and a tiny q is not lost in 1 - p.
inline void logistic_probabilities(double eta, double& p, double& q) {
  if (eta > 0) {
    const double e = std::exp(-eta);
    p = 1.0 / (1.0 + e);
    q = e / (1.0 + e);
  } else {
    const double e = std::exp(eta);
    p = e / (1.0 + e);
    q = 1.0 / (1.0 + e);
  }
}

// y - p, taken as q for a case so that it keeps its precision when p is
// close to 1.
inline double residual(int y, double p, double q) {
  if (y == 1) return q;
  if (y == 0) return -p;
  return y - p;
}

// The coefficients as a plain array, read once per evaluation.
std::vector<double> coefficients(const Matrix& effect_sizes, const GenotypeDesign& design) {
  assert(effect_sizes.Ncols() == 1 && "effect_sizes.Ncols() == 1");
  assert(effect_sizes.Nrows() == design.snps + 1 && "effect_sizes.Nrows() == snp_indices.size() + 1");
  std::vector<double> beta(design.snps + 1);
  for (int i = 0; i <= design.snps; ++i) beta[i] = effect_sizes(i + 1, 1);
  return beta;
}

// eta(k) = beta(1) * 1 + sum over t of beta(1 + t) * g(k, t), summed in that order.
inline double linear_predictor(const double* beta, const unsigned char* g, int m) {
  double eta = beta[0] * 1.0;
  for (int t = 0; t < m; ++t) eta += beta[t + 1] * g[t];
  return eta;
}

// Relative size, in the information matrix scaled to unit diagonal, below
// which an eigenvalue is rounding noise. Linearly independent genotype
// columns stay far above it (about 0.2 / N for two SNPs that differ in a
// single individual out of N); dependent ones (one SNP's genotype equal to 2
// minus another's, or to 1 plus another's) end at rounding level (1e-15 for
// 1000 individuals, 1e-12 for a million), and would otherwise be reported
// with arbitrary estimates and standard errors of 1e8.
const double dependence_threshold = 1e-10;

// True when the information matrix is singular up to rounding: a zero or
// negative diagonal entry, or a scaled eigenvalue below the threshold.
bool numerically_singular(const Matrix& information) {
  const int n = information.Nrows();
  std::vector<double> scale(n);
  for (int i = 0; i < n; ++i) {
    const double d = information(i + 1, i + 1);
    if (!(d > 0.0) || !std::isfinite(d)) return true;
    scale[i] = 1.0 / std::sqrt(d);
  }
  NEWMAT::SymmetricMatrix scaled(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) scaled(i + 1, j + 1) = information(i + 1, j + 1) * scale[i] * scale[j];
  NEWMAT::DiagonalMatrix eigenvalues;
  NEWMAT::EigenValues(scaled, eigenvalues);  // ascending
  return !(eigenvalues(1) > dependence_threshold * eigenvalues(n));
}

Matrix filled(int rows, int cols, double value) {
  Matrix a(rows, cols);
  a = value;
  return a;
}

}  // namespace

GenotypeDesign::GenotypeDesign(const HaplotypeSource& haplotypes,
                               const std::vector<int>& phenotypes_in,
                               const std::set<int>& snp_indices)
    : individuals(static_cast<int>(phenotypes_in.size())),
      snps(static_cast<int>(snp_indices.size())),
      phenotypes(phenotypes_in) {
  assert(haplotypes.haplotypes() / 2 == phenotypes_in.size() &&
         "haplotypes / 2 == phenotypes.size()");
  const std::vector<int> columns(snp_indices.begin(), snp_indices.end());
  for (int s : columns) {
    assert(s >= 0 && static_cast<std::size_t>(s) < haplotypes.snps() && "snp index within the source");
    (void)s;
  }
  Tile tile;
  haplotypes.decode_snps(columns, tile);
  genotypes.resize(static_cast<std::size_t>(individuals) * snps);
  for (int t = 0; t < snps; ++t) {
    const std::uint8_t* allele = tile.snp(t);
    for (int k = 0; k < individuals; ++k)
      genotypes[static_cast<std::size_t>(k) * snps + t] =
          static_cast<unsigned char>(allele[2 * k] + allele[2 * k + 1]);
  }
}

double loglikelihood_function(const Matrix& effect_sizes, const GenotypeDesign& design) {
  const std::vector<double> beta = coefficients(effect_sizes, design);
  const int m = design.snps;
  const unsigned char* g = design.genotypes.data();
  double sum = 0.0;
  for (int k = 0; k < design.individuals; ++k, g += m) {
    const double eta = linear_predictor(beta.data(), g, m);
    sum += design.phenotypes[k] * eta - log_one_plus_exp(eta);
  }
  return sum;
}

Matrix score_function(const Matrix& effect_sizes, const GenotypeDesign& design) {
  const std::vector<double> beta = coefficients(effect_sizes, design);
  const int m = design.snps;
  std::vector<double> u(m + 1, 0.0);
  const unsigned char* g = design.genotypes.data();
  for (int k = 0; k < design.individuals; ++k, g += m) {
    const double eta = linear_predictor(beta.data(), g, m);
    double p, q;
    logistic_probabilities(eta, p, q);
    const double r = residual(design.phenotypes[k], p, q);
    u[0] += 1.0 * r;
    for (int t = 0; t < m; ++t) u[t + 1] += g[t] * r;
  }
  Matrix score(m + 1, 1);
  for (int i = 0; i <= m; ++i) score(i + 1, 1) = u[i];
  return score;
}

Matrix hessian_function(const Matrix& effect_sizes, const GenotypeDesign& design) {
  const std::vector<double> beta = coefficients(effect_sizes, design);
  const int m = design.snps;
  const int n = m + 1;
  // Lower triangle, row-major; the matrix is symmetric.
  std::vector<double> lower(static_cast<std::size_t>(n) * n, 0.0);
  std::vector<double> x(n, 1.0);
  const unsigned char* g = design.genotypes.data();
  for (int k = 0; k < design.individuals; ++k, g += m) {
    const double eta = linear_predictor(beta.data(), g, m);
    double p, q;
    logistic_probabilities(eta, p, q);
    const double w = p * q;
    for (int t = 0; t < m; ++t) x[t + 1] = g[t];
    for (int i = 0; i < n; ++i) {
      const double wx = w * x[i];
      double* row = &lower[static_cast<std::size_t>(i) * n];
      for (int j = 0; j <= i; ++j) row[j] += wx * x[j];
    }
  }
  Matrix hessian(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      const double value = -lower[static_cast<std::size_t>(i) * n + j];
      hessian(i + 1, j + 1) = value;
      hessian(j + 1, i + 1) = value;
    }
  }
  return hessian;
}

numerical::SolverStatus maximise_likelihood_snp(const GenotypeDesign& design, Matrix& beta,
                                                double& max_loglikelihood, Matrix& variance) {
  const int n = design.snps + 1;
  const Matrix start = filled(n, 1, 0.0);
  const auto score = [&design](const Matrix& b) { return score_function(b, design); };
  const auto hessian = [&design](const Matrix& b) { return hessian_function(b, design); };
  const numerical::SolverResult fit = numerical::newton_raphson(start, score, hessian, tolerance);

  numerical::SolverStatus status = fit.status;
  if (status == numerical::SolverStatus::converged) {
    beta = fit.root;
    max_loglikelihood = loglikelihood_function(beta, design);
    if (!std::isfinite(max_loglikelihood) || !std::isfinite(beta.SumSquare())) {
      status = numerical::SolverStatus::diverged;
    } else {
      try {
        const Matrix information = -hessian_function(beta, design);
        const NEWMAT::CroutMatrix factors = information;
        if (factors.IsSingular() || numerically_singular(information)) {
          status = numerical::SolverStatus::singular_hessian;
        } else {
          variance = factors.i();
          for (int i = 1; i <= n; ++i) {
            if (!(variance(i, i) > 0.0) || !std::isfinite(variance(i, i)))
              status = numerical::SolverStatus::singular_hessian;
          }
        }
      } catch (NEWMAT::BaseException&) {
        status = numerical::SolverStatus::singular_hessian;
      }
    }
  }
  if (status != numerical::SolverStatus::converged) {
    beta = filled(n, 1, not_a_number);
    variance = filled(n, n, not_a_number);
    max_loglikelihood = not_a_number;
  }
  return status;
}

numerical::SolverStatus run_test(const GenotypeDesign& design, Matrix& beta, Matrix& beta_se,
                                 double& pvalue) {
  int cases = 0;
  for (int y : design.phenotypes) cases += y;
  const double N = design.individuals;
  const double n1 = cases;
  const double n0 = N - n1;
  // With no cases or no controls this is 0 * log(0), NaN, and the p-value
  // below is then 1.0.
  const double null_loglikelihood = n1 * std::log(n1) + n0 * std::log(n0) - N * std::log(N);

  double max_loglikelihood = 0.0;
  Matrix variance;
  const numerical::SolverStatus status =
      maximise_likelihood_snp(design, beta, max_loglikelihood, variance);

  beta_se.ReSize(variance.Nrows(), 1);
  if (status != numerical::SolverStatus::converged) {
    beta_se = not_a_number;
    pvalue = not_a_number;
    return status;
  }
  for (int i = 1; i <= variance.Nrows(); ++i) beta_se(i, 1) = std::sqrt(variance(i, i));

  double chisq = -2.0 * (null_loglikelihood - max_loglikelihood);
  double df = beta.Nrows() - 1;
  pvalue = 1.0;
  // Without SNPs the model is the null model: its statistic is rounding
  // noise and has no distribution to be referred to.
  if (chisq > 0 && df > 0) {
    int which = 1;
    int cdf_status = 0;
    double p = 0.0, q = 0.0, bound = 0.0;
    cdfchi(&which, &p, &q, &chisq, &df, &cdf_status, &bound);
    assert(cdf_status == 0 && "cdfchi status == 0");
    pvalue = q;
  }
  return status;
}

std::string describe_failure(numerical::SolverStatus status) {
  switch (status) {
    case numerical::SolverStatus::converged:
      return "converged";
    case numerical::SolverStatus::singular_hessian:
      return "singular information matrix";
    case numerical::SolverStatus::diverged:
      return "the Newton-Raphson iterations diverged";
    case numerical::SolverStatus::iteration_limit:
      return "no convergence within " + std::to_string(numerical::default_max_iterations) +
             " Newton-Raphson iterations";
  }
  return "unknown failure";
}

}  // namespace logistic_regression
