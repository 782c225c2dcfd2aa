#include "store/dense_rows.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

DenseRows::DenseRows(const std::vector<std::vector<short>>& haplotype_rows, std::size_t snp_count)
    : rows(haplotype_rows), nsnps(snp_count) {}

void DenseRows::decode(std::size_t snp0, std::size_t count, Tile& out) const {
  const std::size_t T = rows.size();
  out.snp0 = snp0;
  out.nsnps = count;
  out.hap0 = 0;
  out.nhaps = T;
  out.allele.resize(count * T);
  std::uint8_t* const tile = out.allele.data();
  // Any bit above the lowest marks a code other than 0 or 1 (negative ones
  // through their sign bits).
  unsigned bits_above_one = 0;
  std::size_t h = 0;
#if defined(__SSE2__)
  // Eight rows by eight SNPs at a time, transposed in registers: each row is
  // read in runs of eight codes and each SNP's eight alleles are stored at once.
  __m128i all_codes = _mm_setzero_si128();
  for (; h + 8 <= T; h += 8) {
    const short* r[8];
    for (int i = 0; i < 8; ++i) r[i] = rows[h + i].data() + snp0;
    std::size_t j = 0;
    for (; j + 8 <= count; j += 8) {
      __m128i c[8], t[8], u[8];
      for (int i = 0; i < 8; ++i) {
        c[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[i] + j));
        all_codes = _mm_or_si128(all_codes, c[i]);
      }
      for (int i = 0; i < 4; ++i) {
        t[i] = _mm_unpacklo_epi16(c[2 * i], c[2 * i + 1]);
        t[i + 4] = _mm_unpackhi_epi16(c[2 * i], c[2 * i + 1]);
      }
      for (int half = 0; half < 8; half += 4) {
        u[half + 0] = _mm_unpacklo_epi32(t[half + 0], t[half + 1]);
        u[half + 1] = _mm_unpackhi_epi32(t[half + 0], t[half + 1]);
        u[half + 2] = _mm_unpacklo_epi32(t[half + 2], t[half + 3]);
        u[half + 3] = _mm_unpackhi_epi32(t[half + 2], t[half + 3]);
      }
      for (int q = 0; q < 8; q += 2) {
        const int a = (q / 4) * 4 + (q % 4) / 2;
        const __m128i lo = _mm_unpacklo_epi64(u[a], u[a + 2]);  // SNP j + q, rows h .. h + 7
        const __m128i hi = _mm_unpackhi_epi64(u[a], u[a + 2]);  // SNP j + q + 1
        const __m128i bytes = _mm_packs_epi16(lo, hi);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(tile + (j + q) * T + h), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(tile + (j + q + 1) * T + h),
                         _mm_unpackhi_epi64(bytes, bytes));
      }
    }
    for (; j < count; ++j)
      for (int i = 0; i < 8; ++i) {
        const short value = r[i][j];
        bits_above_one |= static_cast<unsigned short>(value) >> 1;
        tile[j * T + h + i] = static_cast<std::uint8_t>(value);
      }
  }
  const __m128i above_one = _mm_and_si128(all_codes, _mm_set1_epi16(static_cast<short>(0xFFFE)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(above_one, _mm_setzero_si128())) != 0xFFFF) bits_above_one = 1;
#endif
  for (; h < T; ++h) {
    const short* row = rows[h].data() + snp0;
    for (std::size_t j = 0; j < count; ++j) {
      bits_above_one |= static_cast<unsigned short>(row[j]) >> 1;
      tile[j * T + h] = static_cast<std::uint8_t>(row[j]);
    }
  }
  if (bits_above_one != 0)
    throw std::logic_error("a simulated haplotype holds an allele code other than 0 or 1");
}
