#include "data/vcf_genotypes.hpp"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/errors.hpp"

namespace {

// GT bytes for a in {0, 1}: a first allele is (a + 1) << 1, maybe with the
// phase bit; a second one (a + 1) << 1 | 1. So the first is in 2..5, the
// second 3 or 5, and the allele is bit 2 of either. Each packer below takes
// the samples it can from `s` on, sets their haplotypes' bits (zeroed
// beforehand; haplotype h at bit h % 64 of word h / 64), adds the 1s to
// `ones` and returns false when a byte is not such a value.
#if defined(__SSE2__)
// Eight samples (sixteen bytes) at a time: every byte's bit 2 shifted up to
// its top bit, where one movemask gathers the sixteen alleles. (SSE2 means
// x86, little-endian: the sixteen bits are two bytes of the row as stored.)
bool pack_by_eight(const std::uint8_t* gt, int samples, int& s, std::uint64_t* bits, long long& ones) {
  const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi8(2), above_3 = _mm_set1_epi8(~3),
                seconds = _mm_set1_epi16(0x0100);
  __m128i bad = zero;
  char* const row = reinterpret_cast<char*>(bits);
  while (s + 8 <= samples) {
    // Each byte lane counts up to 255 alleles before the lanes are summed.
    __m128i lanes = zero;
    for (int steps = std::min(255, (samples - s) / 8); steps > 0; --steps, s += 8) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gt + 2 * static_cast<std::size_t>(s)));
      // Every byte in 2..5, and bit 0 set in a second allele.
      bad = _mm_or_si128(bad, _mm_and_si128(_mm_sub_epi8(x, two), above_3));
      bad = _mm_or_si128(bad, _mm_andnot_si128(x, seconds));
      const __m128i alleles = _mm_slli_epi16(x, 5);
      const std::uint16_t packed = static_cast<std::uint16_t>(_mm_movemask_epi8(alleles));
      std::memcpy(row + static_cast<std::size_t>(s) / 4, &packed, 2);
      lanes = _mm_sub_epi8(lanes, _mm_cmplt_epi8(alleles, zero));
    }
    std::uint64_t sums[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), _mm_sad_epu8(lanes, zero));
    ones += static_cast<long long>(sums[0] + sums[1]);
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi8(bad, zero)) == 0xffff;
}
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Four samples (eight bytes) at a time, the same checks within one word; the
// alleles are folded into the word's low byte, counted by one multiply.
bool pack_by_four(const std::uint8_t* gt, int samples, int& s, std::uint64_t* bits, long long& ones) {
  constexpr std::uint64_t ones_of_bytes = 0x0101010101010101ull, seconds = 0x0100010001000100ull;
  std::uint64_t bad = 0;
  for (; s + 4 <= samples; s += 4) {
    std::uint64_t x;
    std::memcpy(&x, gt + 2 * static_cast<std::size_t>(s), 8);
    const std::uint64_t b1 = x >> 1 & ones_of_bytes, b2 = x >> 2 & ones_of_bytes;
    bad |= (x & ~(ones_of_bytes * 7)) | ((b1 ^ b2) ^ ones_of_bytes) | ((x & seconds) ^ seconds);
    std::uint64_t v = b2 | b2 >> 7;
    v |= v >> 14;
    v |= v >> 28;
    const std::size_t h = 2 * static_cast<std::size_t>(s);
    bits[h >> 6] |= (v & 0xff) << (h & 63);
    ones += static_cast<long long>((b2 * ones_of_bytes) >> 56);
  }
  return bad == 0;
}
#endif

bool pack_one_by_one(const std::uint8_t* gt, int samples, int& s, std::uint64_t* bits, long long& ones) {
  unsigned odd = 0;
  for (; s < samples; ++s) {
    const unsigned first = gt[2 * s], second = gt[2 * s + 1];
    odd |= (first - 2u > 3u) | (second != 3u && second != 5u);
    const std::uint64_t a = first >> 2 & 1u, b = second >> 2 & 1u;
    const std::size_t h = 2 * static_cast<std::size_t>(s);
    bits[h >> 6] |= (a | b << 1) << (h & 63);
    ones += static_cast<long long>(a + b);
  }
  return odd == 0;
}

}  // namespace

GenotypeRows::GenotypeRows(std::string file_name, const bcf_hdr_t* header)
    : name(std::move(file_name)), hdr(header), samples(bcf_hdr_nsamples(header)),
      codes(2 * static_cast<std::size_t>(samples)), gt_id(bcf_hdr_id2int(header, BCF_DT_ID, "GT")) {}

long long GenotypeRows::pack(bcf1_t* record, std::uint64_t* bits) {
  long long ones = 0;
  if (pack_common(record, bits, ones)) return ones;
  // Any other layout or value, read one by one: the first sample at fault is named.
  const int* row = read(record);
  std::memset(bits, 0, (2 * static_cast<std::size_t>(samples) + 63) / 64 * sizeof(std::uint64_t));
  ones = 0;
  for (int h = 0; h < 2 * samples; ++h) {
    ones += row[h];
    bits[h >> 6] |= static_cast<std::uint64_t>(row[h] & 1) << (h & 63);
  }
  return ones;
}

// The common case straight into the row: GT stored as one byte per allele,
// two per sample, every one a phased pair of 0 and 1. False, with the row
// to be zeroed again, for any other layout or value.
bool GenotypeRows::pack_common(bcf1_t* record, std::uint64_t* bits, long long& ones) {
  if (gt_id < 0 || bcf_unpack(record, BCF_UN_FMT) != 0) return false;
  const bcf_fmt_t* gt = bcf_get_fmt_id(record, gt_id);
  if (gt == nullptr || gt->type != BCF_BT_INT8 || gt->n != 2 || record->n_sample != static_cast<std::uint32_t>(samples))
    return false;
  int s = 0;
  bool valid = true;
  ones = 0;
#if defined(__SSE2__)
  valid &= pack_by_eight(gt->p, samples, s, bits, ones);
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  valid &= pack_by_four(gt->p, samples, s, bits, ones);
#endif
  valid &= pack_one_by_one(gt->p, samples, s, bits, ones);
  return valid;
}

void GenotypeRows::refuse(const bcf1_t* record, int sample, const std::string& what) const {
  throw FileError::reading(name, what + " genotype at " + bcf_seqname_safe(hdr, record) + ":" +
                std::to_string(record->pos + 1) + " for sample " +
                bcf_hdr_int2id(hdr, BCF_DT_SAMPLE, sample) +
                "; the panel needs a phased pair of alleles (such as 0|1) for every sample.");
}

const int* GenotypeRows::read(bcf1_t* record) {
  const int n = bcf_get_genotypes(hdr, record, &values, &capacity);
  if (n <= 0) refuse(record, 0, "missing (no GT field)");
  if (n != 2 * samples) {
    // htslib pads every sample to the record's largest ploidy: the first
    // sample with more than two alleles is the one to name.
    const int ploidy = n / samples;
    int s = 0;
    while (ploidy > 2 && s + 1 < samples && values[ploidy * s + 2] == bcf_int32_vector_end) ++s;
    refuse(record, s, ploidy > 2 ? "more than two alleles in the" : "haploid");
  }
  for (int s = 0; s < samples; ++s) {
    const std::int32_t first = values[2 * s], second = values[2 * s + 1];
    if (bcf_gt_is_missing(first)) refuse(record, s, "missing");
    if (second == bcf_int32_vector_end) refuse(record, s, "haploid");
    if (bcf_gt_is_missing(second)) refuse(record, s, "missing");
    if (!bcf_gt_is_phased(second)) refuse(record, s, "unphased");
    codes[2 * s] = bcf_gt_allele(first);
    codes[2 * s + 1] = bcf_gt_allele(second);
    if (codes[2 * s] > 1 || codes[2 * s + 1] > 1) refuse(record, s, "out-of-range allele in the");
  }
  return codes.data();
}

