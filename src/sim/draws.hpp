#pragma once
// The draws of the copying model, taken in bulk: the generator's raw words
// when it is the plain Mersenne Twister, its own doubles otherwise.
#include <climits>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sim/random.hpp"

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
  // Whether some draw of v[0 .. count) is below the probability of `bound`.
  static bool any_below(const Value* v, int count, Bound bound) {
    if (bound == 0 || count == 0) return false;
    if (bound > 0xFFFFFFFFu) return true;
    return !above<true>(v, count, static_cast<std::uint32_t>(bound - 1));
  }
  // Whether every draw of v[0 .. count) is at most the probability of `bound`.
  static bool all_at_most(const Value* v, int count, Bound bound) {
    if (bound > 0xFFFFFFFFu) return true;
    if (bound == 0) return count == 0;
    return !above<false>(v, count, static_cast<std::uint32_t>(bound - 1));
  }
  // Whether every word (All) or some word (!All) of v[0 .. count) is above
  // `highest`; blocks of draws are checked together, four words at a time.
  template <bool All>
  static bool above(const Value* v, int count, std::uint32_t highest) {
    int i = 0;
    bool result = All;
#if defined(__SSE2__)
    // Unsigned comparison through signed: both sides shifted by 2^31.
    const __m128i sign = _mm_set1_epi32(INT_MIN);
    const __m128i limit = _mm_set1_epi32(static_cast<int>(highest ^ 0x80000000u));
    __m128i seen = _mm_set1_epi32(All ? -1 : 0);
    for (; i + 4 <= count; i += 4) {
      const __m128i words = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), sign);
      const __m128i greater = _mm_cmpgt_epi32(words, limit);
      seen = All ? _mm_and_si128(seen, greater) : _mm_or_si128(seen, greater);
    }
    result = All ? _mm_movemask_epi8(seen) == 0xFFFF : _mm_movemask_epi8(seen) != 0;
#endif
    for (; i < count; ++i) result = All ? result & (v[i] > highest) : result | (v[i] > highest);
    return result;
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
  static bool any_below(const Value* v, int count, Bound bound) {
    bool any = false;
    for (int i = 0; i < count; ++i) any |= v[i] < bound;
    return any;
  }
  static bool all_at_most(const Value* v, int count, Bound bound) {
    bool all = true;
    for (int i = 0; i < count; ++i) all &= v[i] <= bound;
    return all;
  }
};

// Calls f with the draws of the current generator: the plain Mersenne
// Twister is read as raw words, any other generator through its own Next().
template <class F>
inline void with_draws(F f) {
  if (current_generator_is_mt())
    f(WordDraws());
  else
    f(DoubleDraws{Random::RNG});
}

