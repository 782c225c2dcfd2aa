// Times the simulation of -copy_panel_only runs alone, without reading a panel
// file or writing output: a chromosome-scale panel is built in memory from
// the bundled example exactly as make_scale_panel builds its files (600 x
// copies haplotypes, the SNPs tiled `tiles` times 3 Mb apart along the map),
// then the per-SNP engine simulates `per_snp` individuals and the population
// engine `individuals`, once per thread count given. Half of each sample are
// cases of one disease locus (1945626, rr 1.5 and 2.25), as in the bench runs.
//
//   population_bench <hap> <legend> <map> <copies> <tiles> <per_snp> <individuals> <threads>...
//
// Prints the seconds of each phase, a checksum of the population engine's
// haplotypes (equal for every thread count) and the peak RSS.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_panel.hpp"
#include "core/thread_budget.hpp"
#include "sim/generator.hpp"
#include "sim/population.hpp"
#include "sim/random.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The example's panel widened and tiled; positions beyond the map's last row take its end value.
Data scale_panel(const Data& example, int copies, int tiles) {
  Data big;
  big.map = example.map;
  const int n = example.nhaplotypes;
  const std::size_t S = example.snps_data.size();
  std::vector<int> positions;
  for (const auto& entry : example.snps_data) positions.push_back(entry.first);
  big.start_panel(n * copies);
  std::vector<int> codes(static_cast<std::size_t>(n) * copies);
  for (int t = 0; t < tiles; ++t)
    for (std::size_t j = 0; j < S; ++j) {
      for (int r = 0; r < copies; ++r) {
        const std::size_t source = (j + 31 * r + 7 * t) % S;
        for (int c = 0; c < n; ++c)
          codes[r * n + c] = static_cast<int>(example.panel.get(source, static_cast<std::size_t>((c + 75 * r + 13 * t) % n)));
      }
      const int position = positions[j] + 3000000 * t;
      big.add_panel_snp(position, "rs", "A", "C", big.map_position(position), codes.data());
    }
  big.finish_panel();
  return big;
}

std::uint64_t checksum(const MosaicStore& store) {
  std::uint64_t h = 1469598103934665603ull;
  const auto mix = [&h](std::uint64_t v) { h = (h ^ v) * 1099511628211ull; };
  for (std::size_t k = 0; k < store.haplotypes(); ++k) {
    std::size_t count, mutations;
    const Segment* s = store.segments_of(k, count);
    for (std::size_t i = 0; i < count; ++i) mix(static_cast<std::uint64_t>(s[i].first_snp) << 32 | static_cast<std::uint32_t>(s[i].source));
    const std::int32_t* m = store.mutations_of(k, mutations);
    for (std::size_t i = 0; i < mutations; ++i) mix(static_cast<std::uint64_t>(m[i]));
  }
  return h;
}

RunConfig sample(int individuals) {
  RunConfig params;
  params.ncontrols = individuals - individuals / 2;
  params.ncases = individuals / 2;
  params.copy_panel_only = true;
  params.dl[1945626] = DiseaseLocus(1, 1.5, 2.25);
  return params;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 9) {
    std::fprintf(stderr, "usage: population_bench hap legend map copies tiles per_snp individuals threads...\n");
    return 2;
  }
  RunLog log = RunLog::silent();
  auto start = std::chrono::steady_clock::now();
  const Data big = scale_panel(read_bench_panel(argv), std::atoi(argv[4]), std::atoi(argv[5]));
  std::printf("panel %d haplotypes x %zu SNPs built in %.1f s\n", big.nhaplotypes, big.snps_data.size(),
              seconds_since(start));

  const int per_snp = std::atoi(argv[6]), individuals = std::atoi(argv[7]);
  if (per_snp > 0) {
    TarvikGenerator g(sample(per_snp), big, log);
    MT generator(0.12345);
    Random::Set(generator);
    g.set_theta();
    g.process_dl();
    g.simulated = MosaicStore(static_cast<std::size_t>(big.nhaplotypes), big.snps_data.size(), g.dl_indices);
    start = std::chrono::steady_clock::now();
    g.simulate_per_snp();
    const double t = seconds_since(start);
    std::printf("per-SNP engine: %d individuals in %.2f s (%.2f ms each)\n", per_snp, t, 1e3 * t / per_snp);
  }
  {
    // The draws alone, as the threads make them, without storing: what is left of one thread's time is the
    // calling thread's share (storing in order), which no thread count shortens.
    TarvikGenerator g(sample(individuals), big, log);
    g.set_theta();
    g.process_dl();
    g.seed_word = 12345;
    const PopulationModel model = g.population_model();
    DrawnIndividual drawn;
    const std::vector<int> none;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < individuals; ++i) draw_individual(model, i, i < g.params.ncontrols ? none : g.dl_indices, drawn);
    std::printf("draws alone: %d individuals in %.2f s\n", individuals, seconds_since(start));
  }
  for (int a = 8; a < argc; ++a) {
    const int threads = std::atoi(argv[a]);
    ThreadBudget budget(threads);
    TarvikGenerator g(sample(individuals), big, log, &budget);
    g.seed_word = 12345;
    g.set_theta();
    g.process_dl();
    start = std::chrono::steady_clock::now();
    g.simulate_all_alleles();
    const double t = seconds_since(start);
    std::printf("population engine, %d threads: %d individuals in %.2f s (%.4f ms each), checksum %016llx\n",
                threads, individuals, t, 1e3 * t / individuals, static_cast<unsigned long long>(checksum(g.simulated)));
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak RSS %.0f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
