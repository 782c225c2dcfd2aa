#include "core/log.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "core/errors.hpp"
#include "core/progress.hpp"
#include "core/system_errors.hpp"

RunLog::RunLog(std::string summary_file) : file(std::move(summary_file)) {}

RunLog RunLog::silent() {
  RunLog log;
  log.mode = Mode::silent;
  return log;
}

RunLog RunLog::kept() {
  RunLog log;
  log.mode = Mode::keep;
  return log;
}

void RunLog::replay(RunLog& log) const {
  for (const Kept& report : kept_reports) {
    if (report.console_only)
      log.note(report.text);
    else
      log.report(report.text);
  }
}

void RunLog::report(std::ostringstream& text) {
  report(text.str());
  text.str("");
}

void RunLog::report(const std::string& text) {
  if (mode == Mode::keep) kept_reports.push_back({text, false});
  if (mode != Mode::report) return;
  // Opened for each report: the file is the record of the run even when it
  // is removed, replaced or filled up while the run goes on.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError::reading(file, with_system_cause("can't open file", errno));
  Progress::hide_active();  // the console text goes where the progress line would be
  std::cout << text << std::flush;
  int error = 0;
  bool written = write_fully(fd, text.data(), text.size(), error);
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) throw FileError::writing(file, incomplete_write_detail(error));
}

void RunLog::note(const std::string& text) {
  if (mode == Mode::keep) kept_reports.push_back({text, true});
  if (mode != Mode::report) return;
  Progress::hide_active();
  std::cout << text << std::flush;
}
