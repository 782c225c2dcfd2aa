// The bit decoder of mosaics. A block of SNPs [j0, j0 + width) is decoded
// haplotype-major: every haplotype gets a row of width bits, the panel's
// haplotypes first (transposed from the panel's SNP-major rows), then each
// simulated haplotype in order, its segments copied word by word from the
// rows of their sources (SNP j sits at the same bit of every row, so a
// segment is a masked copy, never a shift), its mutations flipped and a
// case's own disease alleles set. The rows are then transposed 64 x 64 into
// the SNP-major bit tile.
//
// Each haplotype's cursor (its segment holding the block's first SNP and its
// first mutation at or after it) moves forward from block to block, so a
// run's decoding costs the number of segments and mutations plus the words
// of the rows, whatever the block width; a block before the last one decoded
// starts the cursors over by binary search.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "store/bit_transpose.hpp"
#include "store/mosaic.hpp"

namespace {

// Bits [a, b) of `from` into the zeroed bits [a, b) of `to`.
inline void copy_bits(std::uint64_t* to, const std::uint64_t* from, std::size_t a, std::size_t b) {
  const std::size_t wa = a >> 6, wb = (b - 1) >> 6;
  const std::uint64_t first = ~std::uint64_t(0) << (a & 63), last = ~std::uint64_t(0) >> (63 - ((b - 1) & 63));
  if (wa == wb) {
    to[wa] |= from[wa] & first & last;
    return;
  }
  to[wa] |= from[wa] & first;
  for (std::size_t w = wa + 1; w < wb; ++w) to[w] = from[w];
  to[wb] |= from[wb] & last;
}

class MosaicBitDecoder : public BitDecoder {
 public:
  // Haplotype i of the tiles is stored haplotype (*order)[i], or i.
  MosaicBitDecoder(const MosaicStore& store, const BitMatrix& panel, const std::vector<std::uint32_t>* order)
      : store(store), panel(panel), order(order) {}
  void decode(std::size_t snp0, std::size_t nsnps, BitTile& out) override;

 private:
  void place_cursors(std::size_t snp0);
  void panel_rows(std::size_t snp0, std::size_t width);
  void haplotype_row(std::size_t h, std::size_t snp0, std::size_t j1, std::uint64_t* row);
  void transpose_out(std::size_t T, std::size_t width, BitTile& out) const;

  const MosaicStore& store;
  const BitMatrix& panel;
  const std::vector<std::uint32_t>* order;
  std::vector<std::size_t> segment, mutation;  // per haplotype, at `at`
  std::size_t at = 0;
  bool placed = false;
  std::size_t words = 0;            // per row of the block
  std::vector<std::uint64_t> rows;  // panel haplotypes, then simulated ones
};

void MosaicBitDecoder::place_cursors(std::size_t snp0) {
  const std::size_t T = store.haplotypes();
  if (placed && snp0 >= at) {
    for (std::size_t h = 0; h < T; ++h) {
      std::size_t count, nmutations;
      const Segment* segments = store.segments_of(h, count);
      std::size_t i = segment[h];
      while (i + 1 < count && static_cast<std::size_t>(segments[i + 1].first_snp) <= snp0) ++i;
      segment[h] = i;
      const std::int32_t* mutations = store.mutations_of(h, nmutations);
      std::size_t m = mutation[h];
      while (m < nmutations && static_cast<std::size_t>(mutations[m]) < snp0) ++m;
      mutation[h] = m;
    }
  } else {
    segment.resize(T);
    mutation.resize(T);
    for (std::size_t h = 0; h < T; ++h) {
      std::size_t count, nmutations;
      const Segment* segments = store.segments_of(h, count);
      segment[h] = static_cast<std::size_t>(
          std::upper_bound(segments, segments + count, static_cast<std::int32_t>(snp0),
                           [](std::int32_t snp, const Segment& s) { return snp < s.first_snp; }) -
          segments) - 1;
      const std::int32_t* mutations = store.mutations_of(h, nmutations);
      mutation[h] = static_cast<std::size_t>(
          std::lower_bound(mutations, mutations + nmutations, static_cast<std::int32_t>(snp0)) - mutations);
    }
  }
  at = snp0;
  placed = true;
}

// The panel's rows of the block: 64 SNPs by 64 panel haplotypes at a time.
void MosaicBitDecoder::panel_rows(std::size_t snp0, std::size_t width) {
  const std::size_t n = store.panel_haplotypes(), panel_words = panel.words_per_row();
  std::uint64_t a[64];
  for (std::size_t w = 0; w < words; ++w) {
    const std::size_t s0 = w * 64, count = std::min<std::size_t>(64, width - s0);
    for (std::size_t cw = 0; cw < panel_words; ++cw) {
      for (std::size_t i = 0; i < 64; ++i) a[i] = i < count ? panel.row(snp0 + s0 + i)[cw] : 0;
      transpose64(a);
      const std::size_t c0 = cw * 64, cn = std::min<std::size_t>(64, n - c0);
      for (std::size_t c = 0; c < cn; ++c) rows[(c0 + c) * words + w] = a[c];
    }
  }
}

void MosaicBitDecoder::haplotype_row(std::size_t h, std::size_t snp0, std::size_t j1, std::uint64_t* row) {
  const std::size_t nsnps = store.snps();
  std::size_t count, nmutations;
  const Segment* segments = store.segments_of(h, count);
  for (std::size_t i = segment[h], j = snp0; j < j1; ++i) {
    const std::size_t end =
        std::min(i + 1 < count ? static_cast<std::size_t>(segments[i + 1].first_snp) : nsnps, j1);
    const std::uint64_t* from = rows.data() + static_cast<std::size_t>(segments[i].source) * words;
    copy_bits(row, from, j - snp0, end - snp0);
    j = end;
  }
  const std::int32_t* mutations = store.mutations_of(h, nmutations);
  for (std::size_t m = mutation[h]; m < nmutations && static_cast<std::size_t>(mutations[m]) < j1; ++m) {
    const std::size_t k = static_cast<std::size_t>(mutations[m]) - snp0;
    row[k >> 6] ^= std::uint64_t(1) << (k & 63);
  }
  if (store.has_fixed_disease_alleles(h)) {
    const std::vector<int>& disease = store.disease_snps();
    for (std::size_t d = 0; d < disease.size(); ++d) {
      const std::size_t j = static_cast<std::size_t>(disease[d]);
      if (j < snp0 || j >= j1) continue;
      const std::size_t k = j - snp0;
      row[k >> 6] = (row[k >> 6] & ~(std::uint64_t(1) << (k & 63))) |
                    std::uint64_t(store.disease_allele(d, h)) << (k & 63);
    }
  }
}

// The simulated haplotypes' rows into SNP-major rows of the tile.
void MosaicBitDecoder::transpose_out(std::size_t T, std::size_t width, BitTile& out) const {
  const std::uint64_t* simulated = rows.data() + store.panel_haplotypes() * words;
  std::uint64_t a[64];
  for (std::size_t hw = 0; hw < out.words; ++hw) {
    const std::size_t h0 = hw * 64, hn = std::min<std::size_t>(64, T - h0);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::size_t i = 0; i < 64; ++i) {
        const std::size_t h = order != nullptr && i < hn ? (*order)[h0 + i] : h0 + i;
        a[i] = i < hn ? simulated[h * words + w] : 0;
      }
      transpose64(a);
      const std::size_t s0 = w * 64, sn = std::min<std::size_t>(64, width - s0);
      for (std::size_t s = 0; s < sn; ++s) out.bits[(s0 + s) * out.words + hw] = a[s];
    }
  }
}

void MosaicBitDecoder::decode(std::size_t snp0, std::size_t width, BitTile& out) {
  const std::size_t T = store.haplotypes(), n = store.panel_haplotypes(), j1 = snp0 + width;
  assert(j1 <= store.snps());
  out.reset(snp0, width, T);
  if (width == 0 || T == 0) {
    std::fill(out.bits.begin(), out.bits.end(), 0);
    return;
  }
  words = (width + 63) / 64;
  rows.assign((n + T) * words, 0);
  place_cursors(snp0);
  panel_rows(snp0, width);
  for (std::size_t h = 0; h < T; ++h) haplotype_row(h, snp0, j1, rows.data() + (n + h) * words);
  transpose_out(T, width, out);
}

}  // namespace

std::unique_ptr<BitDecoder> MosaicSource::bit_decoder() const {
  return std::make_unique<MosaicBitDecoder>(store, panel, nullptr);
}

std::unique_ptr<BitDecoder> MosaicSource::bit_decoder(const std::vector<std::uint32_t>& order) const {
  return std::make_unique<MosaicBitDecoder>(store, panel, &order);
}
