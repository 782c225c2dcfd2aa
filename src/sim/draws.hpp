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
    const std::uint32_t highest = static_cast<std::uint32_t>(bound - 1);
    int i = 0;
    bool below = false;
#if defined(__SSE2__)
    const __m128i sign = _mm_set1_epi32(INT_MIN);
    const __m128i limit = _mm_set1_epi32(static_cast<int>(highest ^ 0x80000000u));
    __m128i all_above = _mm_set1_epi32(-1);
    for (; i + 4 <= count; i += 4) {
      const __m128i words = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)), sign);
      all_above = _mm_and_si128(all_above, _mm_cmpgt_epi32(words, limit));
    }
    below = _mm_movemask_epi8(all_above) != 0xFFFF;
#endif
    for (; i < count; ++i) below |= v[i] <= highest;
    return below;
  }
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

