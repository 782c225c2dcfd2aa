#include "sim/generator.hpp"

#include <cstdlib>
#include <ctime>
#include <ios>
#include <sstream>
#include <string>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "sim/random.hpp"
#include "store/memory.hpp"

TarvikGenerator::TarvikGenerator(const RunConfig& config, Data data, RunLog run_log, ThreadBudget* threads)
    : panel_data(std::move(data)), params(config), log(std::move(run_log)), budget(threads),
      num_simulated_haps(0) {}

void TarvikGenerator::simulate_haplotypes(const Chooser& choose) { seeded(true, choose); }

void TarvikGenerator::settle() { seeded(false, nullptr); }

void TarvikGenerator::seeded(bool simulate, const Chooser& choose) {
  std::ostringstream text;
  num_simulated_haps = 0;
  // A pedigree gives the individuals: its founders are simulated as
  // controls, its children inherit from them.
  const Pedigree& pedigree = panel_data.pedigree;
  if (!pedigree.members.empty()) {
    params.ncontrols = static_cast<std::int32_t>(pedigree.members.size());
    params.ncases = 0;
  }
  if (simulate) check_run_size(panel_data, params.ncontrols, params.ncases, params.theta, params.dl.size());

  // Every seed reduces to the generator's 32-bit seed word; a run seeded
  // from the clock names its word, which -seed takes to repeat it exactly.
  double seed = 0.12345;
  const bool word_given = params.seed == SeedSource::word;
  if (params.seed == SeedSource::clock) {
    srand(static_cast<unsigned int>(time(0)));
    seed = rand() / 2147483647.0;
  }

  // The generator lives only for this run; its destructor puts the
  // placeholder back, so no draw can happen after the run.
  MT generator(seed);
  Random::Set(generator);
  seed_word = word_given ? params.seed_word : MT::seed_word_of(seed);
  if (word_given) {
    MT::seed_word(params.seed_word);
    text << "\nRandom seed word set to " << params.seed_word << "\n";
  } else {
    text << "\nRandom seed set to " << seed << "\n";
    if (params.seed == SeedSource::clock)
      text << "Random seed word " << MT::seed_word_of(seed) << " (-seed " << MT::seed_word_of(seed)
           << " repeats this run)\n";
  }
  log.report(text);

  if (params.theta < 0) set_theta();
  // Controls alone need no disease loci.
  if (!params.dl.empty() || params.ncases > 0) process_dl();
  if (!simulate) return;
  if (choose) choose(*this);
  simulate_all_alleles();
}
