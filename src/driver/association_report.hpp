#pragma once
// Tests the simulated disease SNPs for association with case/control status:
// the fits, their table (<stem>.assoc.tsv) and the report's two text tables.
#include <sstream>
#include <vector>

#include "assoc/numerical.hpp"
#include "output/assoc_file.hpp"

class RunLog;
class TarvikGenerator;

struct AssociationResults {
  std::vector<int> snps;  // disease SNP indices, ascending
  struct Fit {
    double beta, se, p;
    numerical::SolverStatus status;
  };
  std::vector<Fit> single;  // per SNP alone
  std::vector<double> joint_beta, joint_se;
  double joint_p = 0.0;
  numerical::SolverStatus joint_status = numerical::SolverStatus::converged;
};

// Fits each disease SNP alone, then all of them jointly.
AssociationResults test_disease_snps(const TarvikGenerator& engine);

// The rows of <stem>.assoc.tsv: each SNP alone, then each in the joint model.
std::vector<AssocRow> association_rows(const TarvikGenerator& engine, const AssociationResults& results);

// The report's text. Leaves its number format on `text`, whose later lines keep it.
void association_report(const AssociationResults& results, std::ostringstream& text, RunLog& log);
