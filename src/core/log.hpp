#pragma once
// The run's log: everything a run reports reaches standard output and is
// appended to the summary file, report by report, so that the file holds all
// that happened up to a failure. Whoever reports is handed the log; readers,
// bench tools and fuzz targets can be handed a silent one.
#include <sstream>
#include <string>

class RunLog {
 public:
  // Reports go to standard output and are appended to `summary_file`.
  explicit RunLog(std::string summary_file);
  // A log that reports nowhere.
  static RunLog silent();

  // Writes the text of `text` and empties it (its format state is kept).
  // Throws FileError when the summary file cannot be opened or written.
  void report(std::ostringstream& text);
  void report(const std::string& text);
  // Text for standard output alone (warnings that the summary file does not
  // keep).
  void note(const std::string& text);

  const std::string& summary_file() const { return file; }

 private:
  RunLog() = default;
  std::string file;
  bool quiet = false;
};
