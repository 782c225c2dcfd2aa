#include "store/memory.hpp"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "core/errors.hpp"

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

std::string gigabytes(double bytes) {
  std::ostringstream out;
  out << std::fixed;
  out.precision(1);
  out << bytes / 1e9 << " GB (";
  out.precision(0);
  out << bytes << " bytes)";
  return out.str();
}

}  // namespace

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

double run_memory_bytes(const Data& panel, std::int64_t haplotypes, double theta, std::size_t loci) {
  const double nsnps = static_cast<double>(panel.snps_data.size());
  const double n = std::max(panel.nhaplotypes, 1);
  double length = 0.0;  // the map length of the interval, in population-scaled units
  if (!panel.snps_data.empty())
    length = panel.snps_data.rbegin()->second.cumulative_rho - panel.snps_data.begin()->second.cumulative_rho;
  const double t = theta > 0 ? theta : 1.0;  // the default theta is at most 1
  const double mutation = (t * 0.5) / (n + t);
  const double per_haplotype = 8.0 * (length / n + 2.0) + 4.0 * (mutation * nsnps + 1.0) +
                               2.0 * sizeof(std::size_t) + 1.0 + static_cast<double>(loci);
  // Writers: a tile of about a megabyte of alleles per haplotype block, the
  // same again haplotype-major, and the text buffers of the open files.
  const double writers = 3.0 * std::max(static_cast<double>(haplotypes), n) * 1024.0 + 16e6;
  // The individuals drawn ahead: 16 MiB of mutation draws, or two
  // individuals' on the longest intervals.
  const double drawn_ahead = std::max(16.0 * 1048576.0, 2.0 * 8.0 * nsnps);
  return static_cast<double>(haplotypes) * per_haplotype + 8.0 * nsnps + writers + drawn_ahead;
}

void check_run_size(const Data& panel, std::int32_t ncontrols, std::int32_t ncases, double theta,
                    std::size_t loci) {
  const std::int64_t rows = 2 * (static_cast<std::int64_t>(ncontrols) + ncases);
  const std::int64_t n = panel.nhaplotypes > 0 ? panel.nhaplotypes : 0;
  const std::string request = "-n " + std::to_string(ncontrols) + " " + std::to_string(ncases) +
                              " asks for " + std::to_string(rows) + " haplotypes of " +
                              std::to_string(panel.snps_data.size()) + " SNPs";
  const double needed = run_memory_bytes(panel, rows, theta, loci);
  const double available = available_memory_bytes();
  if (available > 0.0 && needed > available)
    throw RunError(request + ", which need about " + gigabytes(needed) +
                                " of memory, but only " + gigabytes(available) +
                                " are available. Simulate fewer individuals or a shorter "
                                "interval.\n");
  // Every candidate source (panel and simulated haplotypes) is numbered by
  // an int.
  if (rows + n > INT_MAX)
    throw RunError(request + ", but at most " + std::to_string(INT_MAX) +
                                " panel and simulated haplotypes together can be handled.\n");
}
