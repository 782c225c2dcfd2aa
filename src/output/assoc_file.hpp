#pragma once
// <stem>.assoc.tsv: the association report's tests as a table, so that a
// power study reads the p-values without parsing the report's text.
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

// One row: a test of a disease SNP alone ("single") or its coefficient in the
// joint model of all of them ("joint", whose p is the joint model's).
struct AssocRow {
  std::string test;
  int position = 0;
  std::string rsid, allele0, allele1;
  double beta = 0.0, se = 0.0, p = 0.0;
};

// "test pos rsid allele0 allele1 beta se p", tab-separated, then the rows;
// beta is per copy of allele1, numbers in full precision ("nan" for a model
// that could not be fitted). Written without announcement: the report's text
// stays as it was.
void write_assoc_file(const boost::filesystem::path& file, const std::vector<AssocRow>& rows);
