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

AssociationResults test_disease_snps(const TarvikGenerator& engine) {
  // Each fit decodes only the genotypes of the SNPs it tests.
  const MosaicSource haplotypes = engine.source();
  const std::vector<int>& phenotypes = engine.simulated_phenotypes;
  const std::set<int> snp_indices(engine.dl_indices.begin(), engine.dl_indices.end());
  AssociationResults results;
  results.snps.assign(snp_indices.begin(), snp_indices.end());
  NEWMAT::Matrix beta;
  NEWMAT::Matrix beta_se;
  double pvalue = 0.0;
  for (int s : snp_indices) {
    const numerical::SolverStatus status = logistic_regression::run_test(
        logistic_regression::GenotypeDesign(haplotypes, phenotypes, {s}), beta, beta_se, pvalue);
    results.single.push_back({beta(2, 1), beta_se(2, 1), pvalue, status});
  }
  results.joint_status = logistic_regression::run_test(
      logistic_regression::GenotypeDesign(haplotypes, phenotypes, snp_indices), beta, beta_se, pvalue);
  results.joint_p = pvalue;
  for (int i = 2; i <= beta.Nrows(); ++i) {
    results.joint_beta.push_back(beta(i, 1));
    results.joint_se.push_back(beta_se(i, 1));
  }
  return results;
}

std::vector<AssocRow> association_rows(const TarvikGenerator& engine, const AssociationResults& results) {
  std::vector<std::map<int, snp>::const_iterator> snp_at;
  for (auto it = engine.panel_data.snps_data.begin(); it != engine.panel_data.snps_data.end(); ++it)
    snp_at.push_back(it);
  std::vector<AssocRow> rows;
  auto row = [&](const char* test, std::size_t k, double beta, double se, double p) {
    const auto s = snp_at[static_cast<std::size_t>(results.snps[k])];
    rows.push_back({test, s->first, s->second.rsid, s->second.allele0, s->second.allele1, beta, se, p});
  };
  for (std::size_t k = 0; k < results.single.size(); ++k)
    row("single", k, results.single[k].beta, results.single[k].se, results.single[k].p);
  for (std::size_t k = 0; k < results.joint_beta.size(); ++k)
    row("joint", k, results.joint_beta[k], results.joint_se[k], results.joint_p);
  return rows;
}

void association_report(const AssociationResults& results, std::ostringstream& log, RunLog& run_log) {
  // General format, 4 significant digits; it stays on the log afterwards.
  log.unsetf(std::ios::floatfield | std::ios::showpoint);
  log.precision(4);

  log << "\n\nThe pvalues and effect sizes of each disease SNP is:\n" << "\n";
  log << std::setw(15) << "Disease_locus_index" << std::setw(15) << "beta" << std::setw(15)
      << "beta_se" << std::setw(15) << "pvalue" << "\n";
  for (std::size_t k = 0; k < results.single.size(); ++k) {
    const AssociationResults::Fit& fit = results.single[k];
    log << std::setw(15) << results.snps[k] << std::setw(19) << fit.beta << std::setw(15) << fit.se
        << std::setw(15) << fit.p << "\n";
  }
  for (std::size_t k = 0; k < results.single.size(); ++k)
    if (results.single[k].status != numerical::SolverStatus::converged)
      write_failure(log, "the model for disease SNP index " + std::to_string(results.snps[k]),
                    results.single[k].status, "its row shows");

  log << "\n\nThe pvalue for the full disease model is " << results.joint_p << ":" << "\n";
  log << std::setw(15) << "Disease_locus_index" << std::setw(15) << "beta" << std::setw(15)
      << "beta_se" << "\n";
  for (std::size_t k = 0; k < results.joint_beta.size(); ++k)
    log << std::setw(15) << results.snps[k] << std::setw(19) << results.joint_beta[k] << std::setw(15)
        << results.joint_se[k] << "\n";
  if (results.joint_status != numerical::SolverStatus::converged)
    write_failure(log, "the full disease model", results.joint_status, "its rows show");

  run_log.report(log);
}
