#include "sim/generator.hpp"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <ios>
#include <sstream>
#include <string>

#include "data/vcf_reader.hpp"
#include "output/output_files.hpp"
#include "params/errors.hpp"
#include "params/summary.hpp"
#include "sim/random.hpp"
#include "store/dense_rows.hpp"

namespace {

// The number that follows the word `key` in a file, or the file's first word
// as a number when `key` is null (the kernel's one-value files); false when
// there is none (a cgroup without limit says "max").
bool read_number(const char* file, const char* key, double& value) {
  std::ifstream in(file);
  std::string word;
  if (key == nullptr) return static_cast<bool>(in >> value);
  while (in >> word)
    if (word == key) return static_cast<bool>(in >> value);
  return false;
}

// Bytes of memory a new allocation can still get: MemAvailable (free memory
// plus caches the kernel can drop), else the free physical pages, lowered to
// the room left under the memory limit of the control group mounted at
// /sys/fs/cgroup (a container's own).
// 0 when nothing is known.
double available_memory_bytes() {
  double available = 0.0, kib = 0.0;
  if (read_number("/proc/meminfo", "MemAvailable:", kib)) {
    available = kib * 1024.0;
  } else {
    const long pages = sysconf(_SC_AVPHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) available = static_cast<double>(pages) * page_size;
  }
  double limit = 0.0, used = 0.0;
  if ((read_number("/sys/fs/cgroup/memory.max", nullptr, limit) &&
       read_number("/sys/fs/cgroup/memory.current", nullptr, used)) ||
      (read_number("/sys/fs/cgroup/memory/memory.limit_in_bytes", nullptr, limit) &&
       read_number("/sys/fs/cgroup/memory/memory.usage_in_bytes", nullptr, used))) {
    const double room = limit > used ? limit - used : 0.0;
    if (available == 0.0 || room < available) available = room;
  }
  return available;
}

std::string gigabytes(double bytes) {
  std::ostringstream out;
  out << std::fixed;
  out.precision(1);
  out << bytes / 1e9 << " GB (";
  out.precision(0);
  out << bytes << " bytes)";
  return out.str();
}

// Refuses a run that cannot be held in memory or counted in an int, before
// anything is simulated: otherwise the machine swaps for hours or the run
// dies of an allocation failure halfway. The simulation holds every
// simulated haplotype and a copy of the panel at 2 bytes per allele, and one
// weight (8 bytes) per candidate source; the writers hold one output line of
// up to 8 bytes per haplotype.
void check_run_size(const TarvikParameters& params, const Data& panel) {
  const std::int64_t rows = 2 * (static_cast<std::int64_t>(params.ncontrols) + params.ncases);
  const std::int64_t nsnps = static_cast<std::int64_t>(panel.snps_data.size());
  const std::int64_t n = panel.nhaplotypes > 0 ? panel.nhaplotypes : 0;
  const std::string request = "-n " + std::to_string(params.ncontrols) + " " +
                              std::to_string(params.ncases) + " asks for " +
                              std::to_string(rows) + " haplotypes of " + std::to_string(nsnps) +
                              " SNPs";
  const double needed = static_cast<double>(rows + n) * (2.0 * nsnps + 8.0) +
                        static_cast<double>(rows) * (sizeof(std::vector<short>) + 8.0);
  const double available = available_memory_bytes();
  if (available > 0.0 && needed > available)
    throw GenericErrorException(request + ", which need about " + gigabytes(needed) +
                                " of memory, but only " + gigabytes(available) +
                                " are available. Simulate fewer individuals or a shorter "
                                "interval.\n");
  // Every candidate source (panel and simulated haplotypes) is numbered by
  // an int.
  if (rows + n > INT_MAX)
    throw GenericErrorException(request + ", but at most " + std::to_string(INT_MAX) +
                                " panel and simulated haplotypes together can be handled.\n");
}

}  // namespace

TarvikGenerator::TarvikGenerator(const TarvikParameters& parameters)
    : num_simulated_haps(0) {
  // The map must be read before the panel: the panel reader places every SNP
  // on the map by interpolation.
  static_cast<TarvikParameters&>(panel_data) = parameters;
  panel_data.read_genetic_map();
  if (parameters.flag_given("-vcf"))
    read_vcf_panel(panel_data);
  else
    panel_data.read_haplotype_data();
  params = parameters;
}

TarvikGenerator::TarvikGenerator(const TarvikParameters& parameters, const Data& data)
    : panel_data(data), num_simulated_haps(0) {
  params = parameters;
}

std::vector<std::vector<short>> TarvikGenerator::return_simulated_haplotypes() const {
  return simulated_haplotypes;
}

void TarvikGenerator::simulate_haplotypes() {
  std::ostringstream log;
  num_simulated_haps = 0;
  check_run_size(params, panel_data);

  double seed = 0.12345;
  if (!params.flag_given("-nrs")) {
    srand(static_cast<unsigned int>(time(0)));
    seed = rand() / 2147483647.0;
  }

  // The generator lives only for this run; its destructor puts the
  // placeholder back, so no draw can happen after the run.
  MT generator(seed);
  Random::Set(generator);

  log << "\nRandom seed set to " << seed << "\n";
  update_summary_file(params, log, std::ios_base::app);

  if (params.theta < 0) set_theta();
  process_dl();
  simulate_all_alleles();
  output_haplotypes();
}

void TarvikGenerator::output_haplotypes() const {
  write_output_files(DenseRows(simulated_haplotypes, panel_data.snps_data.size()),
                     panel_data.snps_data, params);
}
