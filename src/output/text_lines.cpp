#include "output/text_lines.hpp"

#include <charconv>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t genotype_text_size = 6;
// Padded to eight bytes, so that one 8-byte copy writes a genotype.
const char genotype_text[3][8] = {" 1 0 0", " 0 1 0", " 0 0 1"};

// The texts of two neighbouring genotypes with sums s and t at index
// 3 * s + t, padded to sixteen bytes so that one 16-byte copy writes both;
// the padding falls where the next genotypes are written afterwards.
struct GenotypePairs {
  char text[9][16] = {};
  GenotypePairs() {
    for (int s = 0; s < 3; ++s)
      for (int t = 0; t < 3; ++t) {
        std::memcpy(text[3 * s + t], genotype_text[s], genotype_text_size);
        std::memcpy(text[3 * s + t] + genotype_text_size, genotype_text[t], genotype_text_size);
      }
  }
};
const GenotypePairs genotype_pairs;

// The text of eight haplotypes (bit h of a byte: "a " at 2h) and of four
// individuals (bits 2i and 2i + 1: their genotype text at 6i).
struct ByteTexts {
  char haplotypes[256][16];
  char genotypes[256][24];
  ByteTexts() {
    for (int v = 0; v < 256; ++v) {
      for (int h = 0; h < 8; ++h) {
        haplotypes[v][2 * h] = static_cast<char>('0' + (v >> h & 1));
        haplotypes[v][2 * h + 1] = ' ';
      }
      for (int i = 0; i < 4; ++i)
        std::memcpy(genotypes[v] + 6 * i, genotype_text[(v >> 2 * i & 1) + (v >> (2 * i + 1) & 1)], 6);
    }
  }
};
const ByteTexts byte_texts;

// Eight bits of a row from bit `at` on (zeros past its last word).
inline unsigned bits_at(const std::uint64_t* row, std::size_t words, std::size_t at) {
  const std::size_t w = at >> 6, shift = at & 63;
  std::uint64_t v = row[w] >> shift;
  if (shift > 56 && w + 1 < words) v |= row[w + 1] << (64 - shift);
  return static_cast<unsigned>(v & 0xff);
}

// Bytes a formatter may write past its text before shrinking back.
constexpr std::size_t slack = 32;

}  // namespace

void append_int(TextBuffer& out, long value) {
  char digits[24];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

// "rsid position allele0 allele1", as the legend and the genotype lines name a SNP.
static void append_snp_label(const SnpIterator& snp_it, TextBuffer& out) {
  out.append(snp_it->second.rsid);
  out.append(' ');
  append_int(out, snp_it->first);
  out.append(' ');
  out.append(snp_it->second.allele0);
  out.append(' ');
  out.append(snp_it->second.allele1);
}

void append_haplotype_line(const Tile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                           TextBuffer& out) {
  const std::size_t n = hap1 - hap0;
  const std::uint8_t* allele = tile.snp(row) + (hap0 - tile.hap0);
  char* const text = out.extend(2 * n + 1 + slack);
  std::size_t h = 0;
#if defined(__SSE2__)
  // Sixteen alleles become sixteen "a " cells: the digit, interleaved with blanks.
  const __m128i zero = _mm_set1_epi8('0'), blank = _mm_set1_epi8(' ');
  for (; h + 16 <= n; h += 16) {
    const __m128i digits =
        _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(allele + h)), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(text + 2 * h), _mm_unpacklo_epi8(digits, blank));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(text + 2 * h + 16), _mm_unpackhi_epi8(digits, blank));
  }
#endif
  for (; h < n; ++h) {
    text[2 * h] = static_cast<char>('0' + allele[h]);
    text[2 * h + 1] = ' ';
  }
  text[2 * n] = '\n';
  out.shrink(slack);
}

// "snp_<index> " and the SNP's label: how every genotype line starts.
static void append_genotype_line_start(int index, const SnpIterator& snp_it, TextBuffer& out) {
  out.append("snp_", 4);
  append_int(out, index);
  out.append(' ');
  append_snp_label(snp_it, out);
}

void append_genotype_line(const Tile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                          int index, const SnpIterator& snp_it, TextBuffer& out) {
  append_genotype_line_start(index, snp_it, out);
  const std::size_t individuals = (hap1 - hap0) / 2;
  const std::uint8_t* allele = tile.snp(row) + (hap0 - tile.hap0);
  char* const text = out.extend(genotype_text_size * individuals + 1 + slack);
  std::size_t i = 0;
  for (; i + 2 <= individuals; i += 2, allele += 4) {
    const int pair = 3 * (allele[0] + allele[1]) + (allele[2] + allele[3]);
    std::memcpy(text + genotype_text_size * i, genotype_pairs.text[pair], 16);
  }
  if (i < individuals)
    std::memcpy(text + genotype_text_size * i, genotype_text[allele[0] + allele[1]], 8);
  text[genotype_text_size * individuals] = '\n';
  out.shrink(slack);
}

void append_haplotype_line(const BitTile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                           TextBuffer& out) {
  const std::size_t n = hap1 - hap0;
  const std::uint64_t* bits = tile.snp(row);
  char* const text = out.extend(2 * n + 16 + slack);
  for (std::size_t h = 0; h < n; h += 8)
    std::memcpy(text + 2 * h, byte_texts.haplotypes[bits_at(bits, tile.words, hap0 + h)], 16);
  text[2 * n] = '\n';
  out.shrink(16 + slack - 1);
}

void append_genotype_line(const BitTile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                          int index, const SnpIterator& snp_it, TextBuffer& out) {
  append_genotype_line_start(index, snp_it, out);
  const std::size_t individuals = (hap1 - hap0) / 2;
  const std::uint64_t* bits = tile.snp(row);
  char* const text = out.extend(genotype_text_size * individuals + 24 + slack);
  for (std::size_t i = 0; i < individuals; i += 4)
    std::memcpy(text + genotype_text_size * i, byte_texts.genotypes[bits_at(bits, tile.words, hap0 + 2 * i)], 24);
  text[genotype_text_size * individuals] = '\n';
  out.shrink(24 + slack - 1);
}

void append_legend_line(const SnpIterator& snp_it, TextBuffer& out) {
  append_snp_label(snp_it, out);
  out.append('\n');
}
