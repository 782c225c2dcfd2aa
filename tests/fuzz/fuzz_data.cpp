// Fuzzes the readers of the genetic map and the reference panel. The input is the map file, then optionally
// the line "@@HAPS@@", the haplotype file, the line "@@LEGEND@@" and the legend file; its last byte picks the
// interval. An accepted map must give every 32-bit position a finite map position; an accepted panel must
// keep only SNPs of the interval, one bit per panel haplotype, with a frequency in [0, 1], a finite map
// position, an rsid and two alleles.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/data.hpp"
#include "fuzz_support.hpp"

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
  bool sound = !data.map_positions.empty() && data.map_positions.size() == data.map_cumulative_rho.size();
  for (double x : {-2147483648.0, -1.0, 0.0, 1.0, 1e6, 2147483647.0})
    sound = sound && std::isfinite(data.interpolate_map(x));
  for (double x : data.map_positions)
    sound = sound && (std::abs(x) > 2147483647.0 || std::isfinite(data.interpolate_map(std::floor(x))));
  return sound;
}

bool panel_is_sound(const Data& data) {
  bool sound = !data.snps_data.empty() && data.nhaplotypes >= 1 && data.panel.rows() == data.snps_data.size() &&
               data.panel.columns() == static_cast<std::size_t>(data.nhaplotypes);
  for (const auto& [position, s] : data.snps_data)
    sound = sound && position >= data.lower && position <= data.upper && s.frequency >= 0.0 && s.frequency <= 1.0 &&
            std::isfinite(s.cumulative_rho) && !s.rsid.empty() && !s.allele0.empty() && !s.allele1.empty();
  return sound;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silence_console();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string dir = fuzz_support::scratch_dir("data");
  std::string map(reinterpret_cast<const char*>(bytes), size);
  const bool with_panel = map.find("@@HAPS@@\n") != std::string::npos;
  std::string haps = split_at(map, "@@HAPS@@\n");
  const std::string legend = split_at(haps, "@@LEGEND@@\n");
  Data data;
  data.summary_file = "/dev/null";
  data.genetic_map_file = dir + "/panel.map";
  data.haplotype_file = dir + "/panel.hap";
  data.legend_file = dir + "/panel.legend";
  fuzz_support::write_file(dir + "/panel.map", map);
  fuzz_support::write_file(dir + "/panel.hap", haps);
  fuzz_support::write_file(dir + "/panel.legend", legend);
  const std::int32_t lowers[] = {0, 2000, -5, 0}, uppers[] = {500000000, 3000, 10, 2147483647};
  data.lower = lowers[size > 0 ? bytes[size - 1] % 4 : 0];
  data.upper = uppers[size > 0 ? bytes[size - 1] % 4 : 0];
  try {
    data.read_genetic_map();
    if (!map_is_sound(data)) std::abort();
    if (!with_panel) return 0;
    data.read_haplotype_data();
  } catch (const badfilename&) {
    return 0;
  }
  if (!panel_is_sound(data)) std::abort();
  return 0;
}
