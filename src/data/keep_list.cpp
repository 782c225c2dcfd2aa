#include "data/keep_list.hpp"

#include <algorithm>
#include <cstdint>

#include "core/errors.hpp"
#include "io/input_file.hpp"

namespace {

std::string quoted(const std::string& token) {
  return "\"" + (token.size() <= 40 ? token : token.substr(0, 40) + "...") + "\"";
}

// "id1_<i>" or "<i>": the index, or false when the token is neither.
bool individual_of(const std::string& token, std::uint64_t& index) {
  const std::size_t digits = token.compare(0, 4, "id1_") == 0 ? 4 : 0;
  if (token.size() == digits || token.size() - digits > 18) return false;
  index = 0;
  for (std::size_t k = digits; k < token.size(); ++k) {
    if (token[k] < '0' || token[k] > '9') return false;
    index = index * 10 + static_cast<std::uint64_t>(token[k] - '0');
  }
  return true;
}

}  // namespace

std::vector<std::size_t> read_keep_list(const std::string& name, std::size_t individuals) {
  InputFile in(name);
  if (!in.is_open()) throw FileError::reading(name, "can't open file.");
  std::vector<std::size_t> kept;
  std::string line;
  for (long number = 1; in.getline(line); ++number) {
    std::vector<std::string> fields;
    const char* p = line.data();
    const char *first, *last;
    while (next_token(p, line.data() + line.size(), first, last) && fields.size() < 2)
      fields.emplace_back(first, last);
    if (fields.empty()) continue;
    if (number == 1 && (fields[0] == "FID" || fields[0] == "#FID" || fields[0] == "IID")) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (fields.size() == 2 && fields[0] != "0")
      throw FileError::reading(name, where + "the family " + quoted(fields[0]) +
                                         " is not that of this run's individuals (0).");
    const std::string& token = fields.back();
    std::uint64_t index = 0;
    if (!individual_of(token, index) || index >= individuals)
      throw FileError::reading(name, where + quoted(token) + " is not an individual of this run (" +
                                         (individuals == 0 ? std::string("it has none")
                                                           : "id1_<i> or i, i from 0 to " +
                                                                 std::to_string(individuals - 1)) +
                                         ").");
    kept.push_back(static_cast<std::size_t>(index));
  }
  if (kept.empty()) throw FileError::reading(name, "no individual is listed.");
  std::sort(kept.begin(), kept.end());
  kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
  return kept;
}
