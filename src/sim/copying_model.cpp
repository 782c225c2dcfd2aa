#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <ios>
#include <typeinfo>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "params/progress.hpp"
#include "params/summary.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"

namespace {

// The draws of a run, taken in bulk: a whole haplotype's worth at once, so
// that the loops over SNPs neither call the generator nor convert words.
//
// With the Mersenne Twister the draws stay raw 32-bit words: the draw of word
// w is (w + 0.5) * 2^-32, so comparing it with a probability is comparing w
// with a word count (see words_below and words_at_most).
struct WordDraws {
  using Value = std::uint32_t;
  using Bound = std::uint64_t;
  void fill(Value* out, std::size_t count) { MT::fill_words(out, count); }
  static double uniform(Value v) { return MT::uniform_of(v); }
  static Bound at_most(double p) { return words_at_most(p); }
  static Bound below(double p) { return words_below(p); }
  static bool is_below(Value v, Bound bound) { return v < bound; }
  // Whether every draw of v[0 .. count) is at most the probability of `bound`.
  static bool all_at_most(const Value* v, int count, Bound bound) {
    if (bound > 0xFFFFFFFFu) return true;
    if (bound == 0) return count == 0;
    const std::uint32_t highest = static_cast<std::uint32_t>(bound - 1);
    int i = 0;
    bool above = false;
#if defined(__SSE2__)
    // Unsigned comparison through signed: both sides shifted by 2^31.
    const __m128i sign = _mm_set1_epi32(INT_MIN);
    const __m128i limit = _mm_set1_epi32(static_cast<int>(highest ^ 0x80000000u));
    __m128i any = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
      const __m128i words = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), sign);
      any = _mm_or_si128(any, _mm_cmpgt_epi32(words, limit));
    }
    above = _mm_movemask_epi8(any) != 0;
#endif
    for (; i < count; ++i) above |= v[i] > highest;
    return !above;
  }
};

// Any other generator: one call per draw, compared as doubles.
struct DoubleDraws {
  using Value = double;
  using Bound = double;
  Random* rng;
  void fill(Value* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = rng->Next();
  }
  static double uniform(Value v) { return v; }
  static Bound at_most(double p) { return p; }
  static Bound below(double p) { return p; }
  static bool is_below(Value v, Bound bound) { return v < bound; }
  static bool all_at_most(const Value* v, int count, Bound bound) {
    bool all = true;
    for (int i = 0; i < count; ++i) all &= v[i] <= bound;
    return all;
  }
};

// SNPs whose cut draws are first checked together (see cut_segments).
constexpr int kCutBlock = 64;

// The map distances between neighbouring SNPs, and the largest of every
// block of kCutBlock of them: step[j] = rho[j] - rho[j - 1] for j >= 1, and
// block b covers j = 1 + b * kCutBlock onwards.
struct MapSteps {
  std::vector<double> step;
  std::vector<double> block_max;

  explicit MapSteps(const std::map<int, snp>& snps) {
    step.reserve(snps.size());
    double rho_prev = snps.empty() ? 0.0 : snps.begin()->second.cumulative_rho;
    for (const auto& entry : snps) {
      step.push_back(entry.second.cumulative_rho - rho_prev);
      rho_prev = entry.second.cumulative_rho;
    }
    const int nsnps = static_cast<int>(step.size());
    for (int first = 1; first < nsnps; first += kCutBlock) {
      const int end = std::min(first + kCutBlock, nsnps);
      block_max.push_back(*std::max_element(step.begin() + first, step.begin() + end));
    }
  }
};

// Cuts one haplotype with N candidates into copying segments along the map:
// `starts` receives the first SNP index of every segment. Draws exactly
// nsnps - 1 uniforms, one per neighbouring pair of SNPs: SNP j switches when
// its draw u exceeds p = exp(-step[j] / N).
//
// p = exp(-x) is at least 1 - x, and the library exp is accurate to far
// better than the 1e-12 margin, so a draw at most 1 - x - 1e-12 stays without
// evaluating exp; a block's largest step gives one such bound for all its
// SNPs, so a block whose draws all pass it has no switch. Only the rare block
// with a draw near some p (a fraction of about x per SNP) is decided SNP by
// SNP. Equal map positions (x = 0, p = 1) always stay.
template <class Draws>
void cut_segments(const MapSteps& map, const int N, Draws& draws,
                  std::vector<typename Draws::Value>& buffer, std::vector<int>& starts) {
  starts.clear();
  starts.push_back(0);
  const int nsnps = static_cast<int>(map.step.size());
  if (nsnps < 2) return;
  if (buffer.size() < static_cast<std::size_t>(nsnps)) buffer.resize(nsnps);
  typename Draws::Value* const u = buffer.data();  // u[j - 1] is the draw of SNP j
  draws.fill(u, nsnps - 1);
  const double candidates = N;
  const double* step = map.step.data();
  for (int first = 1, b = 0; first < nsnps; first += kCutBlock, ++b) {
    const int end = std::min(first + kCutBlock, nsnps);
    const typename Draws::Bound sure = Draws::at_most((1.0 - map.block_max[b] / candidates) - 1e-12);
    if (Draws::all_at_most(u + first - 1, end - first, sure)) continue;
    for (int j = first; j < end; ++j) {
      const double v = Draws::uniform(u[j - 1]);
      if (!(v <= (1.0 - step[j] / candidates) - 1e-12)) {
        const double p = std::exp(-step[j] / candidates);
        if (!(v <= p)) starts.push_back(j);
      }
    }
  }
}

// The draw of a uniformly chosen candidate among N: rmultinom over N equal
// weights 1/N.
int uniform_candidate(int N) { return rmultinom_equal(N, 1.0 / N) - 1; }

// Copies the alleles of SNPs [first, end) from `source`, flipping each whose
// draw is below the mutation probability: allele a becomes 1 - a.
template <class Draws>
void copy_alleles(const short* source, short* row, int first, int end,
                  const typename Draws::Value* u, typename Draws::Bound mutation) {
  for (int j = first; j < end; ++j) {
    const short allele = source[j];
    row[j] = Draws::is_below(u[j - first], mutation) ? static_cast<short>(1 - allele) : allele;
  }
}

#if defined(__SSE2__)
// The same for raw words, eight alleles at a time: a + (flip ? 1 - 2a : 0).
template <>
void copy_alleles<WordDraws>(const short* source, short* row, int first, int end,
                             const std::uint32_t* u, std::uint64_t mutation) {
  int j = first;
  if (mutation <= 0xFFFFFFFFu) {
    // Unsigned comparison through signed: both sides shifted by 2^31.
    const __m128i sign = _mm_set1_epi32(INT_MIN);
    const __m128i bound = _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(mutation) ^ 0x80000000u));
    const __m128i one = _mm_set1_epi16(1);
    for (; j + 8 <= end; j += 8) {
      const __m128i low = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + (j - first))), sign);
      const __m128i high = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + (j - first) + 4)), sign);
      const __m128i flip = _mm_packs_epi32(_mm_cmplt_epi32(low, bound), _mm_cmplt_epi32(high, bound));
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + j));
      const __m128i change = _mm_sub_epi16(one, _mm_add_epi16(a, a));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + j), _mm_add_epi16(a, _mm_and_si128(flip, change)));
    }
  }
  for (; j < end; ++j) {
    const short allele = source[j];
    row[j] = u[j - first] < mutation ? static_cast<short>(1 - allele) : allele;
  }
}
#endif

// Asks for transparent huge pages over the whole 2 MiB pages inside
// [start, start + bytes), before anything there is touched; see RowHeap.
void advise_huge_pages(const void* start, std::size_t bytes) {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(start) + huge - 1) & ~(huge - 1);
  const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(huge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)start;
  (void)bytes;
#endif
}

// The simulated rows take hundreds of megabytes, each row a heap allocation
// of its own, and every page of them is touched first while its row is
// simulated. On glibc and Linux the heap then grows by the rows' whole size at
// once, and that new stretch is marked for transparent huge pages: one page
// fault per 2 MiB instead of one per 4 KiB, which on a virtual machine is a
// large share of a run. Elsewhere this does nothing; the rows are the same.
class RowHeap {
 public:
  explicit RowHeap(std::size_t bytes) {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    if (bytes < (std::size_t(8) << 20)) return;  // small runs gain nothing
    const std::size_t pad = std::min(bytes, static_cast<std::size_t>(INT_MAX));
    active = mallopt(M_TOP_PAD, static_cast<int>(pad)) == 1;
    heap_end = sbrk(0);
#else
    (void)bytes;
#endif
  }
  ~RowHeap() {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    if (active) mallopt(M_TOP_PAD, 128 * 1024);  // glibc's default padding
#endif
  }
  // Call after each row allocation: once the heap has grown, marks the new
  // stretch after `row_end` (the end of the newest row).
  void row_allocated(const void* row_end) {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    if (!active || advised) return;
    void* now = sbrk(0);
    if (now == heap_end) return;
    advised = true;
    const char* from = static_cast<const char*>(row_end);
    if (static_cast<const char*>(now) > from)
      advise_huge_pages(from, static_cast<std::size_t>(static_cast<const char*>(now) - from));
#else
    (void)row_end;
#endif
  }

 private:
  bool active = false;
  bool advised = false;
  void* heap_end = nullptr;
};

template <class Draws>
void simulate_individuals(TarvikGenerator& g, Draws draws) {
  const int T = 2 * (g.params.ncontrols + g.params.ncases);
  const std::map<int, snp>& snps = g.panel_data.snps_data;
  const int nsnps = static_cast<int>(snps.size());
  const int n = g.panel_data.nhaplotypes;
  const double theta = g.params.theta;
  const int first_case_row = 2 * g.params.ncontrols;
  const std::vector<int>& dl_indices = g.dl_indices;
  const int D = static_cast<int>(dl_indices.size());

  // The panel is held per SNP; a copy per haplotype lets a segment copied
  // from the panel be read as contiguously as one copied from a simulated
  // row. Built in blocks of SNPs so that both sides stay in cache.
  std::vector<short> panel_rows;
  panel_rows.reserve(static_cast<std::size_t>(n) * nsnps);
  advise_huge_pages(panel_rows.data(), panel_rows.capacity() * sizeof(short));
  panel_rows.resize(static_cast<std::size_t>(n) * nsnps);
  {
    const BitMatrix& bits = g.panel_data.panel;
    constexpr int block = 64;
    for (int j0 = 0; j0 < nsnps; j0 += block) {
      const int j1 = std::min(j0 + block, nsnps);
      for (int c = 0; c < n; ++c) {
        short* out = panel_rows.data() + static_cast<std::size_t>(c) * nsnps;
        for (int j = j0; j < j1; ++j) out[j] = static_cast<short>(bits.get(j, c));
      }
    }
  }
  const MapSteps map(snps);

  // Every row is reserved up front so that row storage never moves while
  // later rows copy from earlier ones.
  g.simulated_haplotypes.reserve(T);
  g.simulated_phenotypes.reserve(T / 2);
  RowHeap heap(static_cast<std::size_t>(T) * (static_cast<std::size_t>(nsnps) * sizeof(short) + 32));

  std::vector<std::vector<int>> copying_states(2, std::vector<int>(nsnps, -1));
  std::vector<std::vector<int>> disease_haplotypes(2);
  std::vector<int> starts[2];
  std::vector<int> sources[2];
  std::vector<typename Draws::Value> buffer(nsnps);

  Progress progress("Simulating", "individuals");
  for (int h = 0; h < T; h += 2) {
    progress.update(h / 2, T / 2);
    const bool is_case = h >= first_case_row;
    const int N[2] = {n + h, n + h + 1};
    const double mu[2] = {(theta * 0.5) / (N[0] + theta), (theta * 0.5) / (N[1] + theta)};

    for (int k = 0; k < 2; ++k) {
      g.simulated_haplotypes.emplace_back(nsnps, static_cast<short>(-1));
      heap.row_allocated(g.simulated_haplotypes.back().data() + nsnps);
      cut_segments(map, N[k], draws, buffer, starts[k]);
    }

    // One uniformly chosen source per ordinary segment, in SNP order. A
    // case's segments that hold a disease locus get their sources from the
    // disease model instead; until then they carry the label -2 - ordinal.
    for (int k = 0; k < 2; ++k) {
      const int nsegments = static_cast<int>(starts[k].size());
      sources[k].resize(nsegments);
      for (int i = 0; i < nsegments; ++i) {
        const int first = starts[k][i];
        const int end = i + 1 < nsegments ? starts[k][i + 1] : nsnps;
        bool disease_segment = false;
        if (is_case) {
          for (const int locus : dl_indices) {
            if (locus >= first && locus < end) {
              disease_segment = true;
              break;
            }
          }
        }
        sources[k][i] = disease_segment ? -2 - i : uniform_candidate(N[k]);
      }
    }

    if (!is_case) {
      g.simulated_phenotypes.push_back(0);
    } else {
      // The disease model works on the copying states SNP by SNP.
      for (int k = 0; k < 2; ++k) {
        int* states = copying_states[k].data();
        const int nsegments = static_cast<int>(starts[k].size());
        for (int i = 0; i < nsegments; ++i) {
          const int end = i + 1 < nsegments ? starts[k][i + 1] : nsnps;
          std::fill(states + starts[k][i], states + end, sources[k][i]);
        }
      }
      g.simulate_disease_alleles(copying_states, disease_haplotypes, mu);
      for (int k = 0; k < 2; ++k) {
        for (std::size_t i = 0; i < sources[k].size(); ++i)
          sources[k][i] = copying_states[k][starts[k][i]];
        std::vector<short>& row = g.simulated_haplotypes[h + k];
        for (int d = 0; d < D; ++d) row[dl_indices[d]] = static_cast<short>(disease_haplotypes[k][d]);
      }
      g.simulated_phenotypes.push_back(1);
    }

    // Copy every allele not already fixed by the disease model from its
    // source, flipping it with the mutation probability: one draw per SNP,
    // in SNP order, none at a case's disease loci.
    for (int l = 0; l < 2; ++l) {
      short* row = g.simulated_haplotypes[h + l].data();
      const typename Draws::Bound mutation = Draws::below(mu[l]);
      const int fixed = is_case ? D : 0;
      draws.fill(buffer.data(), nsnps - fixed);
      const typename Draws::Value* u = buffer.data();
      int next_locus = 0;
      const int nsegments = static_cast<int>(starts[l].size());
      for (int i = 0; i < nsegments; ++i) {
        const int end = i + 1 < nsegments ? starts[l][i + 1] : nsnps;
        const int c = sources[l][i];
        assert(c >= 0 && "copying_states[l][j] >= 0");
        const short* source = c < n ? panel_rows.data() + static_cast<std::size_t>(c) * nsnps
                                    : g.simulated_haplotypes[c - n].data();
        for (int j = starts[l][i]; j < end;) {
          int stop = end;
          if (fixed && next_locus < D && dl_indices[next_locus] < end) stop = dl_indices[next_locus];
          copy_alleles<Draws>(source, row, j, stop, u, mutation);
          u += stop - j;
          j = stop;
          if (stop < end) {  // a disease locus keeps the allele the disease model drew
            ++j;
            ++next_locus;
          }
        }
      }
      assert(u == buffer.data() + (nsnps - fixed));
    }

    g.num_simulated_haps = h + 2;
  }
}

}  // namespace

void TarvikGenerator::set_theta() {
  std::ostringstream log;
  const int n = panel_data.nhaplotypes;
  double theta = 1.0;
  if (n != 1) {
    double harmonic = 0.0;
    for (int i = 1; i <= n; ++i) harmonic += 1.0 / i;
    theta = 1.0 / harmonic;
  }
  params.theta = theta;
  log << "theta not set, so setting to a default value of " << theta << "\n";
  update_summary_file(params, log, std::ios_base::app);
}

void TarvikGenerator::simulate_crossovers(const std::map<int, snp>& snps, const int& N,
                                          std::vector<std::vector<int>>& segments) const {
  segments.clear();
  if (snps.empty()) return;
  const MapSteps map(snps);
  std::vector<int> starts;
  if (typeid(*Random::RNG) == typeid(MT)) {
    WordDraws draws;
    std::vector<WordDraws::Value> buffer;
    cut_segments(map, N, draws, buffer, starts);
  } else {
    DoubleDraws draws{Random::RNG};
    std::vector<DoubleDraws::Value> buffer;
    cut_segments(map, N, draws, buffer, starts);
  }
  const int nsnps = static_cast<int>(snps.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const int last = i + 1 < starts.size() ? starts[i + 1] : nsnps;
    std::vector<int> segment;
    segment.reserve(last - starts[i]);
    for (int j = starts[i]; j < last; ++j) segment.push_back(j);
    segments.push_back(std::move(segment));
  }
}

void TarvikGenerator::simulate_all_alleles() {
  std::ostringstream log;
  log << "\nSimulating haplotypes ... ";
  update_summary_file(params, log, std::ios_base::app);
  simulated_haplotypes.clear();
  simulated_phenotypes.clear();

  assert(params.ncontrols >= 0 && params.ncases >= 0);
  if (params.ncontrols + params.ncases >= 1) {
    // Draws come from the current generator; the plain Mersenne Twister is
    // read as raw words, any other generator through its own Next().
    if (typeid(*Random::RNG) == typeid(MT))
      simulate_individuals(*this, WordDraws());
    else
      simulate_individuals(*this, DoubleDraws{Random::RNG});
  }

  log << "done\n";
  update_summary_file(params, log, std::ios_base::app);
}
