#pragma once
// The standard streams of a run. A console that cannot be written costs the
// console only: the files and the summary file are written as usual, and one
// line on standard error says what was lost.
#include <string>

struct StandardStreams {
  bool output_was_closed = false;  // descriptor 1 was closed when the run began
};

// The first step of a run. Reopens descriptors 0 to 2 on /dev/null where
// they are closed, so that no file the run opens becomes its standard
// output, and ignores SIGPIPE and SIGXFSZ, so that a closed pipe or a file
// size limit shows as a failed write that names its file instead of ending
// the process.
StandardStreams prepare_standard_streams();

// Flushes standard output; when it was closed or a write to it failed,
// writes one line on standard error naming `report_file` (where the whole
// report is; "" when there is none) and returns true.
bool report_console_failure(const StandardStreams& streams, const std::string& report_file);
