#pragma once
// The genetic map: its rows as the file gives them (base-pair position and
// cumulative centimorgans) and each row's population-scaled map position,
// 4 Ne cM / 100, which the copying model works in. One interpolator serves
// both columns, so the simulation's map and the .bim file's agree.
#include <string>
#include <vector>

class RunLog;
class ThreadBudget;

struct GeneticMap {
  std::vector<double> position;
  std::vector<double> rho;  // 4 Ne cM / 100
  std::vector<double> cm;

  // The population-scaled map position at base pair x, and the same in
  // centimorgans: linear between rows, flat beyond the first and the last.
  double rho_at(double x) const { return interpolate(rho, x); }
  double cm_at(double x) const { return interpolate(cm, x); }

 private:
  double interpolate(const std::vector<double>& value, double x) const;
};

// Reads a map file (a header line, then rows "position rate cM"; the rate is
// not used), plain or gzip. Throws FileError naming the file and line for a
// row that is not three numbers, positions or cM that decrease, values out
// of range, or no rows at all.
GeneticMap read_genetic_map(const std::string& file, double Ne, RunLog& log, ThreadBudget* budget = nullptr);
