#pragma once
// The run's log: everything a run reports reaches standard output and is
// appended to the summary file, report by report, so that the file holds all
// that happened up to a failure. Whoever reports is handed the log; readers,
// bench tools and fuzz targets can be handed a silent one, and work done on
// another thread a kept one, whose reports are replayed later in order.
#include <sstream>
#include <string>
#include <vector>

class RunLog {
 public:
  // Reports go to standard output and are appended to `summary_file`.
  explicit RunLog(std::string summary_file);
  // A log that reports nowhere.
  static RunLog silent();
  // A log that keeps its reports, in order, for replay.
  static RunLog kept();

  // Writes the text of `text` and empties it (its format state is kept).
  // Throws FileError when the summary file cannot be opened or written.
  void report(std::ostringstream& text);
  void report(const std::string& text);
  // Text for standard output alone (warnings that the summary file does not
  // keep).
  void note(const std::string& text);

  // Reports what a kept log kept to `log`, in order, as if it had been
  // reported there.
  void replay(RunLog& log) const;

  const std::string& summary_file() const { return file; }

 private:
  enum class Mode { report, silent, keep };
  struct Kept {
    std::string text;
    bool console_only;
  };
  RunLog() = default;
  std::string file;
  Mode mode = Mode::report;
  std::vector<Kept> kept_reports;
};
