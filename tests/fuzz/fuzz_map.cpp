// Fuzzes the genetic map reader: the input is the map file. A map that is
// accepted must give every SNP position (a 32-bit integer) a finite map
// position.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data/data.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silence_console();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string dir = fuzz_support::scratch_dir("map");
  const std::string map_file = dir + "/input.map";
  fuzz_support::write_bytes(map_file, bytes, size);

  Data data;
  data.genetic_map_file = map_file;
  data.summary_file = "/dev/null";
  try {
    data.read_genetic_map();
  } catch (const badfilename&) {
    return 0;
  }
  if (data.map_positions.empty() || data.map_positions.size() != data.map_cumulative_rho.size())
    std::abort();
  const double probes[] = {-2147483648.0, -1.0, 0.0, 1.0, 1e6, 2147483647.0};
  for (double x : probes)
    if (!std::isfinite(data.interpolate_map(x))) std::abort();
  for (double x : data.map_positions)
    if (std::abs(x) <= 2147483647.0 && !std::isfinite(data.interpolate_map(std::floor(x))))
      std::abort();
  return 0;
}
