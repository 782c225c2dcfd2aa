#pragma once
// The driver's part in the files of a run: the finished set is renamed into
// place with a word about files of the same stem that an earlier run left.
#include <ostream>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "params/tarvik_parameters.hpp"

// Every name a run with this stem may write: the nine files in both plain and
// gzip naming (for "out/run" and "out/run.gz"), then the summary file.
std::vector<boost::filesystem::path> possible_output_names(const TarvikParameters& params);

// Renames the finished output set into place (commit_output_set), then names
// in `log` the existing files of either naming that this run did not write;
// those are left as they are.
void commit_run_outputs(const TarvikParameters& params, std::ostream& log);
