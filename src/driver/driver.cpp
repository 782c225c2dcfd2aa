#include "driver/driver.hpp"

#include <cstdio>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <new>
#include <sstream>

#include <boost/filesystem.hpp>

#include "driver/association_report.hpp"
#include "driver/console.hpp"
#include "driver/run_files.hpp"
#include "params/output_set.hpp"
#include "params/summary.hpp"
#include "params/tarvik_parameters.hpp"
#include "sim/generator.hpp"

const char* version() { return "v2.2.0"; }

void header(std::ostream& out) {
  const std::string ruler(67, '=');
  out << "\n"
      << ruler << "\n"
      << "  Welcome to TARVIK_" << version() << " (01/04/2011)\n"
      << "  The tarvik developers: case/control simulation from a reference panel\n"
      << ruler << "\n\n";
}

namespace {

// The last flush of a run, which may change `status`; returns whether the
// summary file holds the whole report. When even that flush cannot reach the
// summary file, the text still reaches the console, followed by one line on
// standard error. A summary file that may not be written (its name is
// refused, or it is an input) is left alone: the text goes to the console.
bool final_flush(const TarvikParameters& params, std::ostringstream& log, bool summary_allowed, int& status) {
  if (summary_allowed && !summary_is_an_input(params)) {
    try {
      update_summary_file(params, log, std::ios::app);
      return true;
    } catch (const badfilename& e) {
      std::cout << log.str() << std::flush;
      log.str("");
      std::cerr << "tarvik: the summary file " << params.summary_file << " could not be written ("
                << e.message << ")" << std::endl;
      status = 1;
      return false;
    }
  }
  std::cout << log.str() << std::flush;
  log.str("");
  return false;
}

// Whatever ends the run, the files of an unfinished output set are removed
// and the signal handlers of the set are put back.
struct OutputSetGuard {
  OutputSetGuard() = default;
  OutputSetGuard(const OutputSetGuard&) = delete;
  OutputSetGuard& operator=(const OutputSetGuard&) = delete;
  ~OutputSetGuard() { close_output_set(); }
};

// Names, checks and opens everything before the engine runs: no output name
// may be an input, and nothing is written or removed before that is known.
void begin_run(TarvikParameters& params, int argc, char** argv, std::ostringstream& log) {
  params.process_parameters(argc, argv);
  check_inputs_are_not_outputs(params);
  std::remove(params.summary_file.c_str());
  open_output_set(params.summary_file);
  update_summary_file(params, log, std::ios::app);
  params.parameters_summary(log);
  update_summary_file(params, log, std::ios::app);
  check_tag_file_readable(params);
}

// The engine simulates and writes the output set. The set is complete once
// it returns: the set replaces the previous one before the association
// report, which writes no file.
void run_engine(const TarvikParameters& params, std::ostringstream& log) {
  TarvikGenerator engine(params);
  engine.simulate_haplotypes();
  commit_run_outputs(params, log);
  if (params.ncases > 1 && params.flag_given("-output_snp_summary")) association_report(engine, log);
}

// After a failure, the temporary files of the set go, and the log says so.
void discard_unfinished_outputs(std::ostringstream& log) {
  if (discard_output_set() > 0)
    log << "No output file of this run was kept; the files of earlier runs are unchanged.\n\n";
}

// The run-time line, the summary file and the console, whatever the status
// (which a summary file that cannot be written turns into 1).
void finish_run(const TarvikParameters& params, std::ostringstream& log, const StandardStreams& streams,
                std::time_t start, bool summary_allowed, int& status) {
  const std::time_t end = std::time(nullptr);
  log << "\nTARVIK took " << std::difftime(end, start) << " seconds to complete. Have a nice day! \n";
  const bool summary_written = final_flush(params, log, summary_allowed, status);
  // The console is a copy of the summary file: losing it leaves the run's
  // status as it was, and standard error says where the report is.
  report_console_failure(streams, summary_written ? params.summary_file : "");
}

}  // namespace

int run_tarvik(int argc, char** argv) {
  const StandardStreams streams = prepare_standard_streams();
  TarvikParameters params;
  std::ostringstream log;
  const std::time_t start = std::time(nullptr);
  header(log);

  int status = 0;
  bool summary_allowed = true;
  OutputSetGuard output_set;
  // A failure that none of the program's own error classes describe: one
  // clear line on standard error, also logged for the summary file.
  auto fatal = [&](const std::string& what) {
    const std::string line = "Error encountered, program terminated: " + what;
    std::cerr << "tarvik: " << line << std::endl;
    log << line << "\n\n";
    status = 1;
  };

  try {
    begin_run(params, argc, argv, log);
    run_engine(params, log);
  } catch (const RunTerminated&) {
    return 1;  // the reason is in the summary file already
  } catch (MissingFlagException e) {
    log << e.message << "\n\n";
    status = 1;
  } catch (HelpException) {
    std::cout << log.str();
    std::ostringstream help;
    params.parameters_help(help);
    std::cout << help.str() << "\n" << std::flush;
    // The help screen is all a help run gives, so losing it is a failure.
    return report_console_failure(streams, "") ? 1 : 0;
  } catch (badfilename e) {
    log << e.message << "\n\n";
    status = 1;
  } catch (const OutputNameException& e) {
    log << e.prefix << e.detail << "\n\n";
    status = 1;
    summary_allowed = false;
  } catch (GenericErrorException e) {
    log << e.prefix << e.detail << "\n\n";
    status = 1;
  } catch (const boost::filesystem::filesystem_error& e) {
    fatal(e.what());
  } catch (const std::bad_alloc&) {
    fatal("out of memory.");
  } catch (const std::exception& e) {
    fatal(e.what());
  } catch (...) {
    fatal("unexpected internal error.");
  }
  discard_unfinished_outputs(log);
  finish_run(params, log, streams, start, summary_allowed, status);
  return status;
}
