#include "data/haplotype_line.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
// Sixteen codes (32 bytes, "c c ... c ") at a time: after subtracting the
// pattern "0 0 ...", a code's byte holds 0 or 1 and a blank's byte 0. The
// codes' bytes, gathered by one pack, go to their top bit for one movemask.
// (SSE2 means x86, little-endian: the sixteen bits are two bytes of the row.)
bool pack_by_sixteen(const char* text, std::size_t n, std::size_t& h, std::uint64_t* bits, long long& ones) {
  const __m128i zero = _mm_setzero_si128(), pattern = _mm_set1_epi16(' ' << 8 | '0'),
                not_code = _mm_set1_epi16(static_cast<short>(0xfffe)), low = _mm_set1_epi16(0x00ff);
  __m128i bad = zero;
  char* const row = reinterpret_cast<char*>(bits);
  // The last code has no blank after it: the 32 bytes stay within the line.
  while (h + 16 < n) {
    __m128i lanes = zero;  // counts up to 255 codes 1 each before they are summed
    for (int steps = 0; steps < 255 && h + 16 < n; ++steps, h += 16) {
      const __m128i a = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 2 * h)), pattern);
      const __m128i b = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 2 * h + 16)), pattern);
      bad = _mm_or_si128(bad, _mm_or_si128(_mm_and_si128(a, not_code), _mm_and_si128(b, not_code)));
      const __m128i codes = _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
      const std::uint16_t packed = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_slli_epi16(codes, 7)));
      std::memcpy(row + h / 8, &packed, 2);
      lanes = _mm_add_epi8(lanes, codes);
    }
    std::uint64_t sums[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), _mm_sad_epu8(lanes, zero));
    ones += static_cast<long long>(sums[0] + sums[1]);
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi8(bad, zero)) == 0xffff;
}
#endif

}  // namespace

int pack_haplotype_line(const std::string& line, std::vector<std::uint64_t>& row, long long& ones) {
  // n codes take 2n - 1 bytes.
  if (line.size() % 2 == 0 || line.size() / 2 + 1 > static_cast<std::size_t>(INT32_MAX)) return -1;
  const std::size_t n = line.size() / 2 + 1;
  row.assign((n + 63) / 64, 0);
  const char* const text = line.data();
  std::uint64_t* const bits = row.data();
  std::size_t h = 0;
  ones = 0;
#if defined(__SSE2__)
  if (!pack_by_sixteen(text, n, h, bits, ones)) return -1;
#endif
  for (; h < n; ++h) {
    const unsigned code = static_cast<unsigned char>(text[2 * h]) - '0';
    if (code > 1 || (h + 1 < n && text[2 * h + 1] != ' ')) return -1;
    bits[h >> 6] |= static_cast<std::uint64_t>(code) << (h & 63);
    ones += code;
  }
  return static_cast<int>(n);
}
