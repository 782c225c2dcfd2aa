#include "driver/run_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <boost/filesystem/operations.hpp>

#include "core/errors.hpp"
#include "io/output_set.hpp"
#include "output/names.hpp"

namespace fs = boost::filesystem;

namespace {

// Links and "." or ".." resolved as far as the path exists, the rest taken
// as written.
fs::path resolved(const fs::path& name) {
  boost::system::error_code ec;
  fs::path full = fs::weakly_canonical(fs::absolute(name), ec);
  return ec ? fs::absolute(name).lexically_normal() : full;
}

bool same_file(const fs::path& a, const fs::path& b) {
  struct stat sa, sb;
  if (::stat(a.string().c_str(), &sa) == 0 && ::stat(b.string().c_str(), &sb) == 0 &&
      sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
    return true;
  return resolved(a) == resolved(b);
}

void check_against_inputs(const fs::path& output, const std::vector<InputFileFlag>& inputs) {
  for (const InputFileFlag& input : inputs)
    if (same_file(output, input.name))
      throw OutputNameError("the output file " + output.string() + " is the input file " + input.name +
                                " (" + input.flag + "); choose another output stem with -o.\n");
}

}  // namespace

void check_inputs_are_not_outputs(const TarvikParameters& params) {
  const std::vector<InputFileFlag> inputs = params.input_files();
  for (const fs::path& output : possible_output_names(params, params.summary_file))
    check_against_inputs(output, inputs);
}

bool summary_is_an_input(const TarvikParameters& params) {
  const std::vector<InputFileFlag> inputs = params.input_files();
  return std::any_of(inputs.begin(), inputs.end(),
                     [&](const InputFileFlag& input) { return same_file(params.summary_file, input.name); });
}

void check_tag_file_readable(const TarvikParameters& params) {
  if (!params.tag_snps) return;
  // Only looked at, not opened: opening a pipe (-t <(...)) would spend it.
  const std::string name = params.tag_snps_file.string();
  struct stat info;
  if (::stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || ::access(name.c_str(), R_OK) != 0)
    throw FileError::reading(name, "can't open file.");
}

void commit_run_outputs(const TarvikParameters& params, std::ostream& log) {
  const std::vector<fs::path> written = commit_output_set();
  std::vector<fs::path> stale;
  for (const fs::path& name : possible_output_names(params, params.summary_file)) {
    if (name == params.summary_file || std::find(written.begin(), written.end(), name) != written.end())
      continue;
    boost::system::error_code ec;
    if (fs::symlink_status(name, ec).type() != fs::file_not_found && !ec) stale.push_back(name);
  }
  if (stale.empty()) return;
  log << "WARNING!! These files of the same output stem were not written by this run and are left as they "
         "were:\n";
  for (const fs::path& name : stale) log << "    " << name.string() << "\n";
  log << "\n";
}
