#include "data/genetic_map.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <sstream>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/system_errors.hpp"
#include "io/input_file.hpp"

namespace {

// One number of a map row, read the way stream extraction reads a double:
// leading blanks skipped, the longest number taken, the rest left for the
// next field. Only finite decimal numbers count.
bool parse_map_number(const char*& p, double& value) {
  while (is_space(*p)) ++p;
  const char* digits = p;
  if (*digits == '+' || *digits == '-') ++digits;
  if (!((*digits >= '0' && *digits <= '9') || *digits == '.')) return false;
  char* after = nullptr;
  double v = std::strtod(p, &after);
  if (after == p) return false;
  for (const char* q = p; q < after; ++q)
    if (*q == 'x' || *q == 'X') return false;
  if (!std::isfinite(v)) return false;
  value = v;
  p = after;
  return true;
}

std::string shortest(double value) {
  std::ostringstream text;
  text << std::setprecision(15) << value;
  return text.str();
}

constexpr double max_map_value = std::numeric_limits<double>::max() / 2;

}  // namespace

double GeneticMap::interpolate(const std::vector<double>& value, double x) const {
  assert(!position.empty() && position.size() == value.size());
  const std::vector<double>& P = position;
  if (x < P[0]) return value[0];
  auto above = std::upper_bound(P.begin() + 1, P.end(), x);
  if (above == P.end()) return value.back();
  const std::size_t i = static_cast<std::size_t>(above - P.begin());
  const std::size_t j = i - 1;
  return ((x - P[j]) / (P[i] - P[j])) * (value[i] - value[j]) + value[j];
}

GeneticMap read_genetic_map(const std::string& file, double Ne, RunLog& log, ThreadBudget* budget) {
  log.report("Reading genetic map file ... ");
  InputFile in(file, budget);
  if (!in.is_open()) throw FileError::reading(file, with_system_cause("can't open file", in.open_error()));

  GeneticMap map;
  std::string line;
  in.getline(line);  // header
  int rows = 0;
  while (in.getline(line)) {
    ++rows;
    const auto where = [rows] { return " on line " + std::to_string(rows + 1); };
    const char* p = line.c_str();
    double position, rate, cm;
    if (!parse_map_number(p, position) || !parse_map_number(p, rate) || !parse_map_number(p, cm))
      throw FileError::reading(file, "bad line in rates file" + where());
    // Interpolation bisects the positions, which needs them ascending; a
    // repeated position is most often a first column that is not a position
    // at all (a chromosome column), which would put every SNP at one place.
    if (!map.position.empty() && position <= map.position.back())
      throw FileError::reading(file, std::string(position < map.position.back() ? "positions decrease"
                                                                                 : "a position repeats") +
                                         where() + " (" + shortest(map.position.back()) + ", then " +
                                         shortest(position) +
                                         "): a map's rows are \"position rate cM\", positions strictly "
                                         "increasing.");
    // A map distance that shrinks would give a negative recombination
    // probability between the SNPs around this row.
    if (!map.position.empty() && cm < map.cm.back())
      throw FileError::reading(file, "cumulative cM decreases" + where() + ".");
    // Interpolation subtracts positions and map values from each other;
    // keeping both within half the double range keeps every difference, and
    // so every SNP's map position, finite.
    const double rho = (4.0 * Ne) * cm / 100.0;
    if (!(std::abs(position) <= max_map_value) || !(std::abs(rho) <= max_map_value))
      throw FileError::reading(file, "bad line in rates file" + where() +
                                         ": the position or the scaled map distance (4 Ne cM / 100) "
                                         "is out of range.");
    map.position.push_back(position);
    map.rho.push_back(rho);
    map.cm.push_back(cm);
  }
  if (rows == 0) throw FileError::reading(file, "no map rows found.");

  log.report("done\n");
  std::ostringstream text;
  text << std::setw(60) << "number of rates read: " << rows << "\n\n";
  log.report(text);
  return map;
}
