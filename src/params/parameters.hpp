#pragma once
// Bookkeeping shared by every parameter set read from a command line: which
// flags were typed, which are known, which are required, and the summary file.
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/errors.hpp"

class Parameters {
 public:
  std::set<std::string> specified_flags;
  std::string summary_file;
  std::vector<std::string> essential_flags;
  std::map<std::string, std::vector<std::string>> flag_dependencies;
  std::set<std::string> recognised_flags;
  std::set<std::string> unrecognised_flags;

  virtual ~Parameters() = default;
  virtual void process_parameters(int argc, char** argv) = 0;
  virtual void parameters_summary(std::ostream& out) const = 0;
  virtual void parameters_help(std::ostream& out) const = 0;
  virtual void reset_parameters() = 0;

 protected:
  Parameters() = default;
  Parameters(const Parameters&) = default;
  Parameters& operator=(const Parameters&) = default;

  // The steps of a parse that do not depend on the concrete flags.
  void collect_unrecognised_flags();
  void check_required_flags() const;
  // Writes the warning block for unrecognised flags, if there are any.
  void write_unrecognised_warning(std::ostream& out) const;

 public:
  // The known flag an unrecognised one most likely meant ("" when none is
  // close): a typo, a "-" for a "_", a wrong case or a doubled dash.
  std::string closest_flag(const std::string& flag) const;
  // One line naming every unrecognised flag and its likely meaning, for the
  // end of a run; "" when all were recognised.
  std::string unrecognised_reminder() const;
};
