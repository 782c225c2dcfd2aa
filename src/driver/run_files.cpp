#include "driver/run_files.hpp"

#include <algorithm>

#include <boost/filesystem/operations.hpp>

#include "output/output_files.hpp"
#include "params/output_set.hpp"

namespace fs = boost::filesystem;

namespace {

void append_names(const TarvikParameters& params, std::vector<fs::path>& names) {
  const OutputFileNames set = output_file_names(params);
  for (const fs::path* group : {set.haps, set.gen, set.tags, set.sample})
    names.insert(names.end(), group, group + 2);
  names.push_back(set.legend);
}

}  // namespace

std::vector<fs::path> possible_output_names(const TarvikParameters& params) {
  const std::string stem = params.output_file.string();
  const bool gzip_mode = params.output_file.extension() == ".gz";
  TarvikParameters plain = params, gzip = params;
  plain.output_file = gzip_mode ? stem.substr(0, stem.size() - 3) : stem;
  gzip.output_file = plain.output_file.string() + ".gz";
  std::vector<fs::path> names;
  append_names(plain, names);
  append_names(gzip, names);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  names.push_back(params.summary_file);
  return names;
}

void commit_run_outputs(const TarvikParameters& params, std::ostream& log) {
  const std::vector<fs::path> written = commit_output_set();
  std::vector<fs::path> stale;
  for (const fs::path& name : possible_output_names(params)) {
    if (name == params.summary_file || std::find(written.begin(), written.end(), name) != written.end()) continue;
    boost::system::error_code ec;
    if (fs::symlink_status(name, ec).type() != fs::file_not_found && !ec) stale.push_back(name);
  }
  if (stale.empty()) return;
  log << "WARNING!! These files of the same output stem were not written by this run and are left as they were:\n";
  for (const fs::path& name : stale) log << "    " << name.string() << "\n";
  log << "\n";
}
