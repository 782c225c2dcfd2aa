#include "params/parameters.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// The flag as its user probably thought of it: one leading dash, lower case,
// "_" for "-" inside.
std::string folded(const std::string& flag) {
  std::string f = flag.substr(flag.find_first_not_of('-') == std::string::npos ? 0 : flag.find_first_not_of('-'));
  for (char& c : f) c = c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "-" + f;
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) from a to b.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

std::string with_suggestion(const Parameters& params, const std::string& flag) {
  const std::string closest = params.closest_flag(flag);
  return closest.empty() ? flag : flag + " (did you mean " + closest + "?)";
}

}  // namespace

std::string Parameters::closest_flag(const std::string& flag) const {
  // A word that is a negative number is a misplaced value, not a flag.
  if (flag.size() > 1 && (std::isdigit(static_cast<unsigned char>(flag[1])) || flag[1] == '.')) return "";
  std::string best;
  std::size_t best_distance = 0;
  for (const std::string& known : recognised_flags) {
    const std::size_t distance = edit_distance(folded(flag), folded(known));
    if (best.empty() || distance < best_distance) {
      best = known;
      best_distance = distance;
    }
  }
  // Short flags are close to many words: only a slip of a letter or two.
  const std::size_t allowed = std::max<std::size_t>(1, std::min<std::size_t>(2, flag.size() / 4));
  return best_distance <= allowed ? best : "";
}

std::string Parameters::unrecognised_reminder() const {
  if (unrecognised_flags.empty()) return "";
  std::string line = "WARNING!! Not recognised, and so not used:";
  for (const std::string& flag : unrecognised_flags) line += " " + with_suggestion(*this, flag);
  return line + "\n";
}

void Parameters::collect_unrecognised_flags() {
  for (const std::string& flag : specified_flags)
    if (recognised_flags.count(flag) == 0) unrecognised_flags.insert(flag);
}

void Parameters::check_required_flags() const {
  for (const std::string& flag : essential_flags)
    if (specified_flags.count(flag) == 0) throw FlagError(flag);
  for (const auto& dependency : flag_dependencies) {
    if (specified_flags.count(dependency.first) == 0) continue;
    for (const std::string& flag : dependency.second)
      if (specified_flags.count(flag) == 0) throw FlagError(flag);
  }
}

void Parameters::write_unrecognised_warning(std::ostream& out) const {
  if (unrecognised_flags.empty()) return;
  out << "WARNING!! The following specified parameters were not recognised:\n";
  for (const std::string& flag : unrecognised_flags) out << "    " << with_suggestion(*this, flag) << "\n";
  out << "\n";
}
