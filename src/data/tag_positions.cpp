#include "data/tag_positions.hpp"

#include <cstdint>

#include "io/input_file.hpp"
#include "core/errors.hpp"
#include "core/numbers.hpp"

namespace {

std::string shortened(const std::string& token) {
  return token.size() <= 40 ? token : token.substr(0, 40) + "...";
}

}  // namespace

std::set<int> read_tag_positions(const std::string& name) {
  InputFile in(name);
  if (!in.is_open()) throw FileError::reading(name, "can't open file.");
  std::set<int> positions;
  std::string line;
  long line_number = 0;
  while (in.getline(line)) {
    ++line_number;
    const char* p = line.data();
    const char* const end = p + line.size();
    const char *first, *last;
    while (next_token(p, end, first, last)) {
      std::int32_t value = 0;
      if (!parse_int32(first, last, value))
        throw FileError::reading(
            name, "line " + std::to_string(line_number) + ": \"" +
                      shortened(std::string(first, last)) +
                      "\" is not a position (a decimal integer within the range of an int).");
      positions.insert(value);
    }
  }
  return positions;
}
