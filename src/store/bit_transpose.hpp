#pragma once
// 64 x 64 bit blocks turned over: the step between haplotype-major rows (one
// haplotype's run of SNPs in a word) and SNP-major rows (one SNP's run of
// haplotypes in a word).
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// In place: bit j of a[i] becomes bit i of a[j]. Six rounds, each swapping
// the off-diagonal halves of every 2k x 2k block at once.
inline void transpose64_portable(std::uint64_t a[64]) {
  std::uint64_t m = 0x00000000FFFFFFFFull;
  for (unsigned j = 32; j != 0; j >>= 1, m ^= m << j)
    for (unsigned k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & m;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
}

#if defined(__SSE2__)
namespace bit_transpose_detail {

// One round with J >= 2: the words k and k + 1 pair with k + J and k + J + 1,
// so one 128-bit step swaps two pairs.
template <int J>
inline void round_of_pairs(__m128i v[32], std::uint64_t mask) {
  constexpr int apart = J / 2;  // in 128-bit steps
  const __m128i m = _mm_set1_epi64x(static_cast<long long>(mask));
  for (int k = 0; k < 32; k = ((k | apart) + 1) & ~apart) {
    const __m128i x = v[k], y = v[k | apart];
    const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srli_epi64(x, J), y), m);
    v[k] = _mm_xor_si128(x, _mm_slli_epi64(t, J));
    v[k | apart] = _mm_xor_si128(y, t);
  }
}

}  // namespace bit_transpose_detail

// The same six rounds on two words at a time (SSE2 is part of every x86-64):
// about 1.5 times as fast, bit for bit the same.
inline void transpose64(std::uint64_t a[64]) {
  using namespace bit_transpose_detail;
  __m128i v[32];
  std::memcpy(v, a, sizeof v);
  round_of_pairs<32>(v, 0x00000000FFFFFFFFull);
  round_of_pairs<16>(v, 0x0000FFFF0000FFFFull);
  round_of_pairs<8>(v, 0x00FF00FF00FF00FFull);
  round_of_pairs<4>(v, 0x0F0F0F0F0F0F0F0Full);
  round_of_pairs<2>(v, 0x3333333333333333ull);
  // The last round pairs the two words of one step: even words are gathered
  // in one register, odd ones in another, swapped, and put back.
  const __m128i m = _mm_set1_epi64x(0x5555555555555555ll);
  for (int k = 0; k < 32; k += 2) {
    const __m128i even = _mm_unpacklo_epi64(v[k], v[k + 1]), odd = _mm_unpackhi_epi64(v[k], v[k + 1]);
    const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srli_epi64(even, 1), odd), m);
    const __m128i e = _mm_xor_si128(even, _mm_slli_epi64(t, 1)), o = _mm_xor_si128(odd, t);
    v[k] = _mm_unpacklo_epi64(e, o);
    v[k + 1] = _mm_unpackhi_epi64(e, o);
  }
  std::memcpy(a, v, sizeof v);
}
#else
inline void transpose64(std::uint64_t a[64]) { transpose64_portable(a); }
#endif
