#pragma once
// Logistic regression of case/control status on additively coded genotypes
// at one or more SNPs, fitted by maximum likelihood, with a likelihood-ratio
// test against the intercept-only model.
#include <set>
#include <string>
#include <vector>

#include <newmat/newmat.h>

#include "assoc/numerical.hpp"
#include "store/haplotype_source.hpp"

namespace logistic_regression {

using NEWMAT::Matrix;

// The model's data for one fit: the genotype (number of allele-1 codes, 0 to
// 2) of every individual at every tested SNP, and the phenotypes. It holds
// N x m small integers, so a fit reads the haplotype rows once instead of at
// every evaluation.
struct GenotypeDesign {
  int individuals = 0;                 // N
  int snps = 0;                        // m
  std::vector<unsigned char> genotypes;  // individual k, SNP t at k * snps + t
  std::vector<int> phenotypes;         // 0 = control, 1 = case

  // Individual k owns haplotypes 2k and 2k+1 of the source; the SNPs of
  // snp_indices become columns in ascending index order.
  GenotypeDesign(const HaplotypeSource& haplotypes, const std::vector<int>& phenotypes,
                 const std::set<int>& snp_indices);
};

// Log-likelihood, score (gradient, (m+1) x 1) and Hessian ((m+1) x (m+1)) of
// the model at the coefficient column effect_sizes (intercept first, then one
// effect per SNP in ascending index order).
double loglikelihood_function(const Matrix& effect_sizes, const GenotypeDesign& design);
Matrix score_function(const Matrix& effect_sizes, const GenotypeDesign& design);
Matrix hessian_function(const Matrix& effect_sizes, const GenotypeDesign& design);

Matrix hessian_function(const Matrix& effect_sizes,
                        const std::vector<std::vector<short>>& haplotypes,
                        const std::vector<int>& phenotypes, const std::set<int>& snp_indices);

// Stopping tolerance on the sum of squared scores.
constexpr double tolerance = 1e-5;

// Fits the model by Newton-Raphson from all-zero coefficients. On success
// (status converged) beta, the maximum log-likelihood and the variance matrix
// (inverse observed information) are set. Otherwise every entry of beta and
// variance, and the log-likelihood, are NaN (beta keeps its m + 1 rows).
numerical::SolverStatus maximise_likelihood_snp(const GenotypeDesign& design, Matrix& beta,
                                                double& max_loglikelihood, Matrix& variance);

// Fits the model and tests it against the intercept-only model: beta and
// beta_se are (m+1) x 1 (intercept first) and pvalue is the upper chi-squared
// tail of the likelihood-ratio statistic with m degrees of freedom (1.0 when
// the statistic is not positive). When the fit fails, beta, beta_se and
// pvalue are NaN and the returned status says why.
numerical::SolverStatus run_test(const GenotypeDesign& design, Matrix& beta, Matrix& beta_se,
                                 double& pvalue);

// Why a fit failed, as a phrase for a warning ("singular information matrix").
std::string describe_failure(numerical::SolverStatus status);

}  // namespace logistic_regression
