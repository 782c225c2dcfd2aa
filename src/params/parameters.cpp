#include "params/parameters.hpp"

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
  for (const std::string& flag : unrecognised_flags) out << "    " << flag << "\n";
  out << "\n";
}
