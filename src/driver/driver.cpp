#include "driver/driver.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <sstream>

#include <boost/filesystem.hpp>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/thread_budget.hpp"
#include "data/data.hpp"
#include "data/keep_list.hpp"
#include "driver/association_report.hpp"
#include "driver/console.hpp"
#include "driver/run_files.hpp"
#include "driver/trait_phase.hpp"
#include "io/output_set.hpp"
#include "output/family_files.hpp"
#include "output/names.hpp"
#include "output/output_files.hpp"
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
      RunLog(params.summary_file).report(log);
      return true;
    } catch (const FileError& e) {
      std::cout << log.str() << std::flush;
      log.str("");
      std::cerr << "tarvik: the summary file " << params.summary_file << " could not be written ("
                << e.what() << ")" << std::endl;
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
void begin_run(const TarvikParameters& params, RunLog& log, std::ostringstream& text) {
  check_inputs_are_not_outputs(params);
  std::remove(params.summary_file.c_str());
  open_output_set(params.summary_file);
  log.report(text);
  params.parameters_summary(text);
  log.report(text);
  check_tag_file_readable(params);
}

// The individuals of -keep, read before the panel so that a bad list costs
// no time.
std::vector<std::size_t> kept_individuals(const TarvikParameters& params, RunLog& log) {
  const std::size_t all = static_cast<std::size_t>(params.ncontrols) + static_cast<std::size_t>(params.ncases);
  std::vector<std::size_t> kept = read_keep_list(params.keep_file.string(), all);
  const std::size_t controls = static_cast<std::size_t>(
      std::lower_bound(kept.begin(), kept.end(), static_cast<std::size_t>(params.ncontrols)) - kept.begin());
  std::ostringstream text;
  text << "\nKeeping " << kept.size() << " of " << all << " individuals (" << controls << " controls, "
       << kept.size() - controls << " cases), listed in " << params.keep_file.string() << "\n";
  log.report(text);
  return kept;
}

// The identities of a trait's files when they are not the run's own
// "0 id1_<i>": a pedigree's families, or the individuals of -keep.
TraitIdentities trait_identities(const Pedigree* pedigree, const RunConfig& written) {
  TraitIdentities ids;
  if (pedigree != nullptr) {
    for (const PedigreeMember& m : pedigree->members) {
      ids.family.push_back(m.family);
      ids.individual.push_back(m.id);
    }
  } else {
    for (std::size_t kept : written.keep) {
      ids.family.push_back("0");
      ids.individual.push_back(sample_name(kept));
    }
  }
  return ids;
}

// A population run with a trait that writes no genotypes (a chromosome's
// genetic values for a genome-wide trait) needs no haplotype stored: its
// individuals are scored one by one, in little memory whatever their number.
bool scores_only(const RunConfig& config) {
  return config.trait.simulated() && config.copy_panel_only && !config.pedigree && config.keep.empty() &&
         !config.trait.ascertained() && config.ncases == 0 && !writes_genotypes(config);
}

// Reads the reference, simulates and writes the output set. The set is
// complete once the writers return: it replaces the previous one before the
// association report, which writes no file.
void run_engine(const TarvikParameters& params, RunLog& log, std::ostringstream& text) {
  RunConfig config = params;
  if (config.keep_given) config.keep = kept_individuals(params, log);
  ThreadBudget budget(params.threads);
  TarvikGenerator engine(config, read_reference(params, log, budget), log, &budget);
  const TraitPlan trait = params.trait.simulated() ? plan_trait(params, engine) : TraitPlan();
  if (scores_only(config)) {
    // Scoring is this run's simulation: the summary reads as for a run that
    // stored its individuals.
    engine.settle();
    log.report("\nSimulating haplotypes ... ");
    const TraitScores scores = score_trait(trait, params, engine, nullptr);
    log.report("done\n");
    write_sample_only_files(2 * static_cast<std::size_t>(config.ncontrols), engine.params, log);
    write_trait_files(params, engine, scores, TraitIdentities(), log);
    commit_run_outputs(params, text);
    return;
  }
  AscertainedSample ascertained;
  TarvikGenerator::Chooser choose;
  if (params.trait.ascertained())
    choose = [&](TarvikGenerator& seeded) { ascertained = ascertain_sample(trait, params, seeded, log); };
  engine.simulate_haplotypes(choose);
  const Data& data = engine.panel_data;
  const MosaicSource stored = engine.source();
  const ReorderedSource reordered(stored, engine.output_order);
  const HaplotypeSource& source = engine.output_order.empty() ? static_cast<const HaplotypeSource&>(stored)
                                                              : reordered;
  const Pedigree* pedigree = params.pedigree ? &data.pedigree : nullptr;
  const RunConfig written = written_individuals(engine.params);
  write_output_files(source, data.snps_data, written, data.map, data.tag_positions, pedigree, log, &budget);
  if (pedigree) write_transmission_file(engine.simulated, *pedigree, data.snps_data, engine.params, log);
  if (params.trait.simulated())
    write_trait_files(params, engine, score_trait(trait, params, engine, &source), trait_identities(pedigree, written),
                      log, params.trait.ascertained() ? &ascertained : nullptr);
  // The tests' table joins the set; their text follows the commit, as before.
  const bool report = written.ncases > 1 && params.snp_summary;
  AssociationResults association;
  if (report) {
    association = test_disease_snps(engine);
    write_assoc_file(gwas_file_name(params, assoc_suffix), association_rows(engine, association));
  }
  commit_run_outputs(params, text);
  if (report) association_report(association, text, log);
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
  // Among forty lines, a flag that was not used is easily missed.
  log << params.unrecognised_reminder();
  const bool summary_written = final_flush(params, log, summary_allowed, status);
  // The console is a copy of the summary file: losing it leaves the run's
  // status as it was, and standard error says where the report is.
  report_console_failure(streams, summary_written ? params.summary_file : "");
}

// A run that stopped for want of disease loci has said why in the summary
// file already; a misspelled flag may be behind it, so the reminder still
// comes last.
void remind_after_termination(const TarvikParameters& params) {
  const std::string reminder = params.unrecognised_reminder();
  try {
    if (!reminder.empty()) RunLog(params.summary_file).report(reminder);
  } catch (const Error&) {
  }
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
  try {
    params.process_parameters(argc, argv);
    RunLog run_log(params.summary_file);
    begin_run(params, run_log, log);
    if (params.trait.combine()) {
      combine_genetic_values(params, run_log);
      commit_run_outputs(params, log);
    } else {
      run_engine(params, run_log, log);
    }
  } catch (const RunTerminated&) {
    remind_after_termination(params);
    return 1;
  } catch (const VersionRequested&) {
    std::cout << "tarvik " << version() << "\n" << std::flush;
    return report_console_failure(streams, "") ? 1 : 0;
  } catch (const HelpRequested&) {
    std::cout << log.str();
    std::ostringstream help;
    params.parameters_help(help);
    std::cout << help.str() << "\n" << std::flush;
    // The help screen is all a help run gives, so losing it is a failure.
    return report_console_failure(streams, "") ? 1 : 0;
  } catch (const Error& e) {
    log << e.what() << "\n\n";
    status = 1;
    // A refused output name may be the summary file's own.
    summary_allowed = dynamic_cast<const OutputNameError*>(&e) == nullptr;
  } catch (...) {
    // A failure that none of the program's own errors describe: one clear
    // line on standard error, also logged for the summary file.
    const std::string line = error_message(std::current_exception());
    std::cerr << "tarvik: " << line << std::endl;
    log << line << "\n\n";
    status = 1;
  }
  discard_unfinished_outputs(log);
  finish_run(params, log, streams, start, summary_allowed, status);
  return status;
}
