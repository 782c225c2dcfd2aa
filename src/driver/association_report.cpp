#include "driver/association_report.hpp"

#include <iomanip>
#include <set>
#include <string>
#include <vector>

#include "assoc/logistic_regression.hpp"
#include "core/log.hpp"
#include "sim/generator.hpp"

namespace {

void write_failure(std::ostringstream& log, const std::string& model,
                   numerical::SolverStatus status, const char* rows) {
  log << "Warning: " << model << " could not be estimated ("
      << logistic_regression::describe_failure(status) << "); " << rows << " nan.\n";
}

}  // namespace

void association_report(const TarvikGenerator& engine, std::ostringstream& log, RunLog& run_log) {
  // Each fit decodes only the genotypes of the SNPs it tests.
  const MosaicSource haplotypes = engine.source();
  const std::vector<int>& phenotypes = engine.simulated_phenotypes;
  const std::set<int> snp_indices(engine.dl_indices.begin(), engine.dl_indices.end());

  NEWMAT::Matrix beta;
  NEWMAT::Matrix beta_se;
  double pvalue = 0.0;

  // General format, 4 significant digits; it stays on the log afterwards.
  log.unsetf(std::ios::floatfield | std::ios::showpoint);
  log.precision(4);

  log << "\n\nThe pvalues and effect sizes of each disease SNP is:\n" << "\n";
  log << std::setw(15) << "Disease_locus_index" << std::setw(15) << "beta" << std::setw(15)
      << "beta_se" << std::setw(15) << "pvalue" << "\n";
  std::vector<int> failed_snps;
  std::vector<numerical::SolverStatus> failures;
  for (int s : snp_indices) {
    const numerical::SolverStatus status =
        logistic_regression::run_test(
        logistic_regression::GenotypeDesign(haplotypes, phenotypes, {s}), beta, beta_se, pvalue);
    if (status != numerical::SolverStatus::converged) {
      failed_snps.push_back(s);
      failures.push_back(status);
    }
    log << std::setw(15) << s << std::setw(19) << beta(2, 1) << std::setw(15) << beta_se(2, 1)
        << std::setw(15) << pvalue << "\n";
  }
  for (std::size_t i = 0; i < failed_snps.size(); ++i)
    write_failure(log, "the model for disease SNP index " + std::to_string(failed_snps[i]),
                  failures[i], "its row shows");

  const numerical::SolverStatus status =
      logistic_regression::run_test(
      logistic_regression::GenotypeDesign(haplotypes, phenotypes, snp_indices), beta, beta_se,
      pvalue);
  log << "\n\nThe pvalue for the full disease model is " << pvalue << ":" << "\n";
  log << std::setw(15) << "Disease_locus_index" << std::setw(15) << "beta" << std::setw(15)
      << "beta_se" << "\n";
  std::set<int>::const_iterator index = snp_indices.begin();
  for (int i = 2; i <= beta.Nrows(); ++i, ++index) {
    log << std::setw(15) << *index << std::setw(19) << beta(i, 1) << std::setw(15)
        << beta_se(i, 1) << "\n";
  }
  if (status != numerical::SolverStatus::converged)
    write_failure(log, "the full disease model", status, "its rows show");

  run_log.report(log);
}
