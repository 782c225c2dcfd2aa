#include "data/trait_inputs.hpp"

#include <cmath>
#include <cstdlib>
#include <set>

#include "core/errors.hpp"
#include "core/numbers.hpp"
#include "io/input_file.hpp"

namespace {

std::string shortened(const std::string& text) { return text.size() <= 40 ? text : text.substr(0, 40) + "..."; }

// The whole token as a finite double; from_chars would do, but GCC 12's
// libstdc++ reads doubles through strtod anyway.
bool parse_real(const std::string& token, double& value) {
  char* end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return !token.empty() && end == token.c_str() + token.size() && std::isfinite(value);
}

std::vector<std::string> tokens(const std::string& line) {
  std::vector<std::string> out;
  const char* p = line.data();
  const char* const end = p + line.size();
  const char *first, *last;
  while (next_token(p, end, first, last)) out.emplace_back(first, last);
  return out;
}

struct Lines {
  explicit Lines(const std::string& name) : name(name), in(name) {
    if (!in.is_open()) throw FileError::reading(name, "can't open file.");
  }
  bool next(std::string& line) {
    if (!in.getline(line)) return false;
    ++number;
    return true;
  }
  [[noreturn]] void fail(const std::string& detail) const {
    throw FileError::reading(name, "line " + std::to_string(number) + ": " + detail);
  }
  std::string name;
  InputFile in;
  long number = 0;
};

}  // namespace

std::vector<CausalEffect> read_causal_file(const std::string& file) {
  Lines in(file);
  std::vector<CausalEffect> effects;
  std::set<std::int32_t> seen;
  std::string line;
  while (in.next(line)) {
    const std::vector<std::string> fields = tokens(line);
    if (fields.empty()) continue;
    if (fields.size() != 2)
      in.fail("expected \"position effect\" (two fields) but found " + std::to_string(fields.size()) + ".");
    CausalEffect effect;
    effect.line = in.number;
    if (!parse_int32(fields[0], effect.position))
      in.fail("\"" + shortened(fields[0]) + "\" is not a position (a decimal integer within 32 bits).");
    if (!parse_real(fields[1], effect.effect))
      in.fail("\"" + shortened(fields[1]) + "\" is not an effect (a finite number).");
    if (!seen.insert(effect.position).second)
      in.fail("position " + fields[0] + " is listed a second time.");
    effects.push_back(effect);
  }
  if (effects.empty()) throw FileError::reading(file, "it lists no causal SNP.");
  return effects;
}

GeneticValues read_genetic_values(const std::string& file) {
  Lines in(file);
  std::string line;
  if (!in.next(line) || tokens(line) != std::vector<std::string>{"FID", "IID", "GV"})
    in.fail("expected the header \"FID IID GV\" of a genetic-value file.");
  GeneticValues values;
  while (in.next(line)) {
    const std::vector<std::string> fields = tokens(line);
    if (fields.size() != 3)
      in.fail("expected \"FID IID GV\" (three fields) but found " + std::to_string(fields.size()) + ".");
    double value = 0.0;
    if (!parse_real(fields[2], value))
      in.fail("\"" + shortened(fields[2]) + "\" is not a genetic value (a finite number).");
    values.family.push_back(fields[0]);
    values.individual.push_back(fields[1]);
    values.value.push_back(value);
  }
  if (values.value.empty()) throw FileError::reading(file, "it holds no individual.");
  return values;
}

std::vector<std::string> read_name_list(const std::string& file) {
  Lines in(file);
  std::vector<std::string> names;
  std::string line;
  while (in.next(line)) {
    std::size_t first = 0, last = line.size();
    while (first < last && is_space(line[first])) ++first;
    while (last > first && is_space(line[last - 1])) --last;
    if (last > first) names.push_back(line.substr(first, last - first));
  }
  if (names.empty()) throw FileError::reading(file, "it names no file.");
  return names;
}

std::vector<std::string> read_table_rows(const std::string& file, const std::string& header) {
  Lines in(file);
  std::string line;
  if (!in.next(line) || line != header) in.fail("expected the header \"" + header + "\".");
  std::vector<std::string> rows;
  while (in.next(line))
    if (!line.empty()) rows.push_back(line);
  return rows;
}
