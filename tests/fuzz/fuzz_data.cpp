// Fuzzes the readers of the genetic map and the reference panel. The input is the map file, then
// optionally the line "@@HAPS@@", the haplotype file, the line "@@LEGEND@@" and the legend file.
// An accepted map must give every 32-bit position a finite map position. An accepted panel must
// keep only SNPs of the interval, each with one code 0 or 1 per panel haplotype, a frequency in
// [0, 1] and a finite map position; then a small case/control run on it must give complete rows
// of allele codes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <boost/filesystem.hpp>

#include "data/data.hpp"
#include "fuzz_support.hpp"
#include "sim/generator.hpp"

namespace {

// The text after the line `marker`, with `input` cut before it; "" (and `input` whole) without it.
std::string split_at(std::string& input, const std::string& marker) {
  const std::size_t at = input.find(marker);
  if (at == std::string::npos) return "";
  std::string rest = input.substr(at + marker.size());
  input.resize(at);
  return rest;
}

bool map_is_sound(const Data& data) {
  if (data.map_positions.empty() || data.map_positions.size() != data.map_cumulative_rho.size()) return false;
  for (double x : {-2147483648.0, -1.0, 0.0, 1.0, 1e6, 2147483647.0})
    if (!std::isfinite(data.interpolate_map(x))) return false;
  for (double x : data.map_positions)
    if (std::abs(x) <= 2147483647.0 && !std::isfinite(data.interpolate_map(std::floor(x)))) return false;
  return true;
}

bool panel_is_sound(const Data& data) {
  if (data.snps_data.empty() || data.nhaplotypes < 1) return false;
  if (data.panel.rows() != data.snps_data.size() ||
      data.panel.columns() != static_cast<std::size_t>(data.nhaplotypes))
    return false;
  for (const auto& entry : data.snps_data) {
    const snp& s = entry.second;
    if (entry.first < data.lower || entry.first > data.upper) return false;
    if (!(s.frequency >= 0.0 && s.frequency <= 1.0) || !std::isfinite(s.cumulative_rho) || s.rsid.empty() ||
        s.allele0.empty() || s.allele1.empty())
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silence_console();
  boost::filesystem::create_directories(fuzz_support::scratch_dir("data") + "/out");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string dir = fuzz_support::scratch_dir("data");
  std::string map(reinterpret_cast<const char*>(bytes), size);
  const bool with_panel = map.find("@@HAPS@@\n") != std::string::npos;
  std::string haps = split_at(map, "@@HAPS@@\n");
  const std::string legend = split_at(haps, "@@LEGEND@@\n");
  fuzz_support::write_file(dir + "/panel.map", map);
  fuzz_support::write_file(dir + "/panel.hap", haps);
  fuzz_support::write_file(dir + "/panel.legend", legend);

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
    if (!map_is_sound(data)) std::abort();
    if (!with_panel) return 0;
    data.read_haplotype_data();
  } catch (const badfilename&) {
    return 0;
  }
  if (!panel_is_sound(data)) std::abort();

  // Two controls and two cases, the disease locus at the first polymorphic SNP; only the sample
  // files are written.
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
  if (params.dl.empty()) return 0;  // no usable locus: the run would stop
  TarvikGenerator engine(params, data);
  try {
    engine.simulate_haplotypes();
  } catch (const GenericErrorException&) {
    return 0;  // a disease model without a usable case distribution
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
