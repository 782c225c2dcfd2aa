#include "sim/generator.hpp"

#include <cstdlib>
#include <ctime>
#include <ios>
#include <sstream>
#include <string>

#include "data/vcf_reader.hpp"
#include "output/output_files.hpp"
#include "params/errors.hpp"
#include "params/summary.hpp"
#include "sim/random.hpp"
#include "store/memory.hpp"

TarvikGenerator::TarvikGenerator(const TarvikParameters& parameters)
    : num_simulated_haps(0) {
  // The panel reader places every SNP on the map by interpolation: the map
  // is read first, or alongside with the SNPs placed afterwards.
  static_cast<TarvikParameters&>(panel_data) = parameters;
  panel_data.read_map_and_panel([this, &parameters] {
    if (parameters.flag_given("-vcf"))
      read_vcf_panel(panel_data);
    else
      panel_data.read_haplotype_data();
  });
  params = parameters;
}

TarvikGenerator::TarvikGenerator(const TarvikParameters& parameters, const Data& data)
    : panel_data(data), num_simulated_haps(0) {
  params = parameters;
}

std::vector<std::vector<short>> TarvikGenerator::return_simulated_haplotypes() const {
  const std::size_t nsnps = simulated.snps(), T = simulated.haplotypes();
  std::vector<std::uint8_t> alleles;
  source().decode_rows(0, nsnps, alleles);
  std::vector<std::vector<short>> rows(T);
  for (std::size_t h = 0; h < T; ++h)
    rows[h].assign(alleles.begin() + h * nsnps, alleles.begin() + (h + 1) * nsnps);
  return rows;
}

void TarvikGenerator::simulate_haplotypes() {
  std::ostringstream log;
  num_simulated_haps = 0;
  check_run_size(panel_data, params.ncontrols, params.ncases, params.theta, params.dl.size());

  // Every seed reduces to the generator's 32-bit seed word; a run seeded
  // from the clock names its word, which -seed takes to repeat it exactly.
  double seed = 0.12345;
  const bool word_given = params.flag_given("-seed");
  if (!params.flag_given("-nrs") && !word_given) {
    srand(static_cast<unsigned int>(time(0)));
    seed = rand() / 2147483647.0;
  }

  // The generator lives only for this run; its destructor puts the
  // placeholder back, so no draw can happen after the run.
  MT generator(seed);
  Random::Set(generator);
  if (word_given) {
    MT::seed_word(params.seed_word);
    log << "\nRandom seed word set to " << params.seed_word << "\n";
  } else {
    log << "\nRandom seed set to " << seed << "\n";
    if (!params.flag_given("-nrs"))
      log << "Random seed word " << MT::seed_word_of(seed) << " (-seed " << MT::seed_word_of(seed)
          << " repeats this run)\n";
  }
  update_summary_file(params, log, std::ios_base::app);

  if (params.theta < 0) set_theta();
  process_dl();
  simulate_all_alleles();
  output_haplotypes();
}

void TarvikGenerator::output_haplotypes() const {
  write_output_files(source(), panel_data.snps_data, params);
}
