#pragma once
// The output file set of a run, written as a whole or not at all. While the
// set is open, every file that open_output_file opens is written under a
// temporary name in its own directory (".<name>.tmp.<pid>"). Once the whole
// set is written and closed, commit_output_set renames the files into place;
// a failure, the end of the run or SIGINT, SIGTERM or SIGHUP removes them
// instead. So the files of an earlier run stay exactly as they were until a
// complete new set replaces them, and no partly written file ever carries a
// final name. Renaming replaces whatever the final name was, a symbolic link
// included: nothing is written through a link.
//
// Outside an open set (the writers' own tests) files are written under their
// final names directly. The summary file, the log of the run, never belongs
// to the set. The functions may be called from any thread; a thread that
// writes files should block SIGINT, SIGTERM and SIGHUP, so that the signals
// reach the thread that commits, which holds them off while it renames.
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

// Opens the set and installs the signal clean-up (not for a signal that is
// ignored, as under nohup). A signal removes the temporary files, appends one
// line to `log_file` and to standard error, and ends the process through the
// signal's default action, so that a shell sees status 128 + signal.
void open_output_set(const std::string& log_file);
bool output_set_open();

// The temporary name that `final_name` is written under, registered before
// the file exists so that a signal cannot miss it. Throws FileError
// ("can't open file.") when the final name is a directory, as opening it
// would.
boost::filesystem::path pending_output_name(const boost::filesystem::path& final_name);
// Records that the file of `final_name` was written and closed without error
// (nothing happens for a name outside the set).
void pending_output_closed(const boost::filesystem::path& final_name);

// Renames every file of the set into place, in the order they were opened,
// and returns their final names; signals wait until it is done. Throws
// FileError naming a file that was not closed without error or cannot be
// renamed; the files after it are not renamed and stay pending.
std::vector<boost::filesystem::path> commit_output_set();

// The wall time of the last commit in seconds: the cost of the renaming, for
// benchmarks (one rename per file, no copy, no fsync).
double output_set_commit_seconds();

// Removes the temporary files that were not committed; returns their number.
int discard_output_set();

// Discards what is pending, puts the previous signal handlers back and closes
// the set.
void close_output_set();
