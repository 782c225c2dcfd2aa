// Fuzzes the reference panel reader: the input holds the haplotype file, the
// separator line "@@LEGEND@@", then the legend file (without a separator the
// legend is empty). A panel that is accepted must satisfy the reader's
// invariants: every kept SNP in the interval, with one code 0 or 1 per panel
// haplotype, a frequency in [0, 1] and a finite map position. Then a small
// case/control simulation runs on it, which must give complete rows of
// allele codes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <boost/filesystem.hpp>

#include "data/data.hpp"
#include "fuzz_support.hpp"
#include "sim/generator.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silence_console();
  const std::string map = fuzz_support::scratch_dir("panel") + "/panel.map";
  const std::string rows = "pos rate cM\n1000 1.0 0.0\n5000 2.5 0.5\n100000 0.1 2.0\n";
  fuzz_support::write_bytes(map, reinterpret_cast<const std::uint8_t*>(rows.data()), rows.size());
  boost::filesystem::create_directories(fuzz_support::scratch_dir("panel") + "/out");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string dir = fuzz_support::scratch_dir("panel");
  const std::string input(reinterpret_cast<const char*>(bytes), size);
  const std::string separator = "@@LEGEND@@\n";
  const std::size_t cut = input.find(separator);
  const std::string haps = input.substr(0, cut);
  const std::string legend = cut == std::string::npos ? "" : input.substr(cut + separator.size());
  fuzz_support::write_bytes(dir + "/panel.hap", reinterpret_cast<const std::uint8_t*>(haps.data()),
                            haps.size());
  fuzz_support::write_bytes(dir + "/panel.legend",
                            reinterpret_cast<const std::uint8_t*>(legend.data()), legend.size());

  Data data;
  data.summary_file = "/dev/null";
  data.genetic_map_file = dir + "/panel.map";
  data.haplotype_file = dir + "/panel.hap";
  data.legend_file = dir + "/panel.legend";
  // The last byte picks the interval, so that bounds are fuzzed too.
  const std::uint8_t choice = size > 0 ? bytes[size - 1] % 4 : 0;
  const std::int32_t lowers[] = {0, 2000, -5, 0};
  const std::int32_t uppers[] = {500000000, 3000, 10, 2147483647};
  data.lower = lowers[choice];
  data.upper = uppers[choice];
  try {
    data.read_genetic_map();
    data.read_haplotype_data();
  } catch (const badfilename&) {
    return 0;
  }
  if (data.snps_data.empty() || data.nhaplotypes < 1) std::abort();
  if (data.panel.rows() != data.snps_data.size() ||
      data.panel.columns() != static_cast<std::size_t>(data.nhaplotypes))
    std::abort();
  for (const auto& entry : data.snps_data) {
    const snp& s = entry.second;
    if (entry.first < data.lower || entry.first > data.upper) std::abort();
    if (!(s.frequency >= 0.0 && s.frequency <= 1.0)) std::abort();
    if (!std::isfinite(s.cumulative_rho)) std::abort();
    if (s.rsid.empty() || s.allele0.empty() || s.allele1.empty()) std::abort();
  }

  // Two controls and two cases, the disease locus at the first polymorphic
  // SNP; only the sample files are written.
  TarvikParameters params = data;
  params.output_file = dir + "/out/run";
  params.output_directory = dir + "/out";
  params.specified_flags = {"-nrs", "-no_haps_output", "-no_gens_output"};
  params.ncontrols = 2;
  params.ncases = 2;
  for (const auto& entry : data.snps_data) {
    if (entry.second.frequency > 0.0 && entry.second.frequency < 1.0) {
      params.dl.emplace(entry.first, DiseaseLocus(1, 2.0, 4.0));
      break;
    }
  }
  if (params.dl.empty()) return 0;  // no usable locus: the run would exit
  TarvikGenerator engine(params, data);
  try {
    engine.simulate_haplotypes();
  } catch (const GenericErrorException&) {
    return 0;
  } catch (const badfilename&) {
    return 0;
  }
  const std::vector<std::vector<short>> rows = engine.return_simulated_haplotypes();
  if (rows.size() != 8) std::abort();
  for (const std::vector<short>& row : rows) {
    if (row.size() != data.snps_data.size()) std::abort();
    for (short code : row)
      if (code != 0 && code != 1) std::abort();
  }
  return 0;
}
