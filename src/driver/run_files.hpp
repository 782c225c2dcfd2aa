#pragma once
// The driver's checks on the files of a run: no output name may be an input,
// and the finished set is renamed into place with a word about files of the
// same stem that an earlier run left.
#include <ostream>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "params/tarvik_parameters.hpp"

// Throws OutputNameError naming both files when any possible output name
// is one of the input files (-h, -l, -m, -t): the same file by device and
// inode (links followed), or the same path once links and dots are resolved.
void check_inputs_are_not_outputs(const TarvikParameters& params);

// True when the summary file is one of the inputs given so far; for a run
// that stopped before check_inputs_are_not_outputs.
bool summary_is_an_input(const TarvikParameters& params);

// Throws FileError when -t names a file that cannot be opened, so that the
// run stops before it simulates rather than when it writes the tag files.
void check_tag_file_readable(const TarvikParameters& params);

// Renames the finished output set into place (commit_output_set), then names
// in `log` the existing files of either naming that this run did not write;
// those are left as they are.
void commit_run_outputs(const TarvikParameters& params, std::ostream& log);
