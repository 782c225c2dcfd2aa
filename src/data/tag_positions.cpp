#include "data/tag_positions.hpp"

#include <charconv>

#include "data/input_file.hpp"
#include "params/errors.hpp"

namespace {

std::string shortened(const std::string& token) {
  return token.size() <= 40 ? token : token.substr(0, 40) + "...";
}

}  // namespace

std::set<int> read_tag_positions(const std::string& name) {
  InputFile in(name);
  if (!in.is_open()) throw badfilename::reading(name, "can't open file.");
  std::set<int> positions;
  std::string line;
  long line_number = 0;
  while (in.getline(line)) {
    ++line_number;
    const char* p = line.data();
    const char* const end = p + line.size();
    const char *first, *last;
    while (next_token(p, end, first, last)) {
      const char* digits = first;
      // A leading plus sign is accepted, as by any stream reading an int.
      if (*digits == '+' && last - digits > 1 && digits[1] >= '0' && digits[1] <= '9') ++digits;
      int value = 0;
      const std::from_chars_result result = std::from_chars(digits, last, value);
      if (result.ec != std::errc() || result.ptr != last)
        throw badfilename::reading(
            name, "line " + std::to_string(line_number) + ": \"" +
                      shortened(std::string(first, last)) +
                      "\" is not a position (a decimal integer within the range of an int).");
      positions.insert(value);
    }
  }
  return positions;
}
