// The libFuzzer target for the readers of input files. The input is the map file, then optionally the line
// "@@HAPS@@", the haplotype file, the line "@@LEGEND@@" and the legend file, and optionally the line
// "@@TAGS@@" and the tag file; the last byte of the map part picks the interval. Every rejection must come as
// the readers' own error; an accepted map must give every 32-bit position a finite map position; an accepted
// panel must keep only SNPs of the interval, one bit per panel haplotype, with a frequency in [0, 1], a finite
// map position, an rsid and two alleles. The scratch directory is removed at exit (a crash leaves it for
// inspection); the readers report to a silent log.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "core/log.hpp"
#include "data/data.hpp"
#include "data/tag_positions.hpp"
#include "core/errors.hpp"

namespace {

const std::string& scratch_dir() {
  static std::string dir;
  if (dir.empty()) {
    std::string templ = "/tmp/tarvik_fuzz_XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr) std::abort();
    dir = templ;
    std::atexit([] { std::system(("rm -rf '" + dir + "'").c_str()); });
  }
  return dir;
}

void write_file(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!(out << bytes)) std::abort();
}

// The text after the line `marker`, with `input` cut before it; "" (and `input` whole) without it.
std::string split_at(std::string& input, const std::string& marker) {
  const std::size_t at = input.find(marker);
  if (at == std::string::npos) return "";
  std::string rest = input.substr(at + marker.size());
  input.resize(at);
  return rest;
}

bool map_is_sound(const GeneticMap& map) {
  bool sound = !map.position.empty() && map.position.size() == map.rho.size() && map.rho.size() == map.cm.size();
  for (double x : {-2147483648.0, -1.0, 0.0, 1.0, 1e6, 2147483647.0})
    sound = sound && std::isfinite(map.rho_at(x)) && std::isfinite(map.cm_at(x));
  for (double x : map.position)
    sound = sound && (std::abs(x) > 2147483647.0 || std::isfinite(map.rho_at(std::floor(x))));
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

int fuzz_one(std::string map) {
  const std::string dir = scratch_dir();
  const std::string tags = split_at(map, "@@TAGS@@\n");
  const bool with_panel = map.find("@@HAPS@@\n") != std::string::npos;
  const unsigned char last = map.empty() ? 0 : static_cast<unsigned char>(map.back());
  std::string haps = split_at(map, "@@HAPS@@\n");
  const std::string legend = split_at(haps, "@@LEGEND@@\n");
  write_file(dir + "/panel.tags", tags);
  try {
    read_tag_positions(dir + "/panel.tags");
  } catch (const FileError&) {
  }
  Data data;
  RunLog log = RunLog::silent();
  write_file(dir + "/panel.map", map);
  write_file(dir + "/panel.hap", haps);
  write_file(dir + "/panel.legend", legend);
  const std::int32_t lowers[] = {0, 2000, -5, 0}, uppers[] = {500000000, 3000, 10, 2147483647};
  data.lower = lowers[last % 4];
  data.upper = uppers[last % 4];
  try {
    data.map = read_genetic_map(dir + "/panel.map", 11418, log);
    if (!map_is_sound(data.map)) std::abort();
    if (!with_panel) return 0;
    read_haplotype_data(data, dir + "/panel.hap", dir + "/panel.legend", log);
  } catch (const FileError&) {
    return 0;
  }
  if (!panel_is_sound(data)) std::abort();
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  return fuzz_one(std::string(reinterpret_cast<const char*>(bytes), size));
}
