#include "driver/driver.hpp"

#include <cstdio>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <new>
#include <sstream>

#include <boost/filesystem.hpp>

#include "driver/association_report.hpp"
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

// The last flush of a run. When even that cannot reach the summary file, the
// text still reaches the console, followed by one line on standard error.
int final_flush(const TarvikParameters& params, std::ostringstream& log, int status) {
  try {
    update_summary_file(params, log, std::ios::app);
  } catch (const badfilename& e) {
    std::cout << log.str() << std::flush;
    log.str("");
    std::cerr << "tarvik: the summary file " << params.summary_file << " could not be written ("
              << e.message << ")" << std::endl;
    return 1;
  }
  return status;
}

}  // namespace

int run_tarvik(int argc, char** argv) {
  TarvikParameters params;
  std::ostringstream log;
  const std::time_t start = std::time(nullptr);
  header(log);

  int status = 0;
  // A failure that none of the program's own error classes describe: one
  // clear line on standard error, also logged for the summary file.
  auto fatal = [&](const std::string& what) {
    const std::string line = "Error encountered, program terminated: " + what;
    std::cerr << "tarvik: " << line << std::endl;
    log << line << "\n\n";
    status = 1;
  };

  try {
    params.process_parameters(argc, argv);
    std::remove(params.summary_file.c_str());
    update_summary_file(params, log, std::ios::app);
    params.parameters_summary(log);
    update_summary_file(params, log, std::ios::app);
    {
      TarvikGenerator engine(params);
      engine.simulate_haplotypes();
      if (params.ncases > 1 && params.flag_given("-output_snp_summary"))
        association_report(engine, log);
    }
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
    return 0;
  } catch (badfilename e) {
    log << e.message << "\n\n";
    status = 1;
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

  const std::time_t end = std::time(nullptr);
  log << "\nTARVIK took " << std::difftime(end, start) << " seconds to complete. Have a nice day! \n";
  return final_flush(params, log, status);
}
