// The mosaic store and its decoder against a direct reconstruction of every haplotype. The bit-packed panel
// is read through by the golden run of the driver tests and, reordered, by the panel reader's tests.

#include <algorithm>
#include <random>

#include "store/bit_transpose.hpp"
#include "store/mosaic.hpp"
#include "test_support.hpp"

namespace {

using Rows = std::vector<std::vector<short>>;

struct RandomMosaics {
  BitMatrix panel;
  MosaicStore store;
  Rows rows;  // what each haplotype is, worked out directly, in order

  RandomMosaics(std::mt19937& random, int n, int nsnps, int T, std::vector<int> disease, bool cases) {
    panel = BitMatrix(n);
    for (int j = 0; j < nsnps; ++j) {
      std::uint64_t* bits = panel.add_row();
      for (int c = 0; c < n; ++c) bits[c / 64] |= std::uint64_t(random() & 1) << (c % 64);
    }
    store = MosaicStore(n, nsnps, disease);
    for (int h = 0; h < T; ++h) {
      std::vector<Segment> segments{{0, 0}};
      for (int j = 1; j < nsnps; ++j)
        if (random() % 7 == 0) segments.push_back({j, 0});
      // Late haplotypes copy mostly from earlier simulated ones: chains many levels deep.
      for (Segment& s : segments)
        s.source = h > 0 && random() % 4 != 0 ? n + static_cast<int>(random() % h) : static_cast<int>(random() % n);
      std::vector<int> mutations;
      for (int j = 0; j < nsnps; ++j)
        if (random() % 5 == 0) mutations.push_back(j);
      const bool fixed = cases && h >= T / 2;
      std::vector<std::uint8_t> alleles;
      for (std::size_t d = 0; d < disease.size(); ++d) alleles.push_back(random() & 1);
      std::vector<short> row(nsnps);
      for (std::size_t i = 0; i < segments.size(); ++i) {
        const int end = i + 1 < segments.size() ? segments[i + 1].first_snp : nsnps;
        const int c = segments[i].source;
        for (int j = segments[i].first_snp; j < end; ++j)
          row[j] = static_cast<short>(c < n ? panel.get(j, c) : rows[c - n][j]);
      }
      for (int j : mutations) row[j] ^= 1;
      if (fixed)
        for (std::size_t d = 0; d < disease.size(); ++d) row[disease[d]] = alleles[d];
      store.add(segments, mutations, fixed, alleles.data(), panel);
      rows.push_back(row);
    }
  }
};

}  // namespace

TEST(BitTranspose, EveryBitGoesToItsMirrorPlace) {
  std::mt19937_64 random(3);
  std::uint64_t a[64], b[64], c[64];
  for (int round = 0; round < 20; ++round) {
    for (auto& word : a) word = random() & random();  // sparse rows too, as most alleles are 0
    std::copy(a, a + 64, b);
    std::copy(a, a + 64, c);
    transpose64(b);
    transpose64_portable(c);
    for (int i = 0; i < 64; ++i)
      for (int j = 0; j < 64; ++j) {
        ASSERT_EQ(b[j] >> i & 1, a[i] >> j & 1) << i << " " << j;
        ASSERT_EQ(c[j] >> i & 1, a[i] >> j & 1) << i << " " << j;
      }
  }
}

TEST(MosaicDecoder, EveryBlockAndSnpListEqualsTheDirectReconstruction) {
  std::mt19937 random(7);
  const struct { int n, nsnps, T; std::vector<int> disease; bool cases; } shapes[] = {
      {5, 200, 60, {3, 77, 150}, true},  // cases' own alleles at the loci, copied on by later ones
      {70, 150, 33, {0, 149}, false},    // a panel row of two words; controls only
      {3, 1, 9, {0}, true},              // a single SNP
      {4, 40, 0, {}, false},             // no haplotypes at all
      {130, 300, 150, {64, 128, 299}, true},  // rows and panel of several words
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.nsnps);
    RandomMosaics m(random, shape.n, shape.nsnps, shape.T, shape.disease, shape.cases);
    const MosaicSource source(m.store, m.panel);
    // The alleles of the listed SNPs, SNP-major, straight from the rows.
    const auto direct = [&m](const std::vector<int>& snps) {
      std::vector<std::uint8_t> alleles;
      for (int j : snps)
        for (const std::vector<short>& row : m.rows) alleles.push_back(static_cast<std::uint8_t>(row[j]));
      return alleles;
    };
    ASSERT_EQ(source.haplotypes(), static_cast<std::size_t>(shape.T));
    Tile got;
    for (int width : {1, 16, 17, 64, shape.nsnps}) {
      for (int b = 0; b < shape.nsnps; b += width) {
        const int w = std::min(width, shape.nsnps - b);
        source.decode(b, w, got);
        std::vector<int> block(w);
        for (int k = 0; k < w; ++k) block[k] = b + k;
        ASSERT_EQ(got.allele, direct(block)) << "block " << b << " width " << w;
        ASSERT_EQ(got.snp0 + got.nsnps + got.nhaps, static_cast<std::size_t>(b + w + shape.T));
      }
    }
    // Bits: blocks ascending (cursors carried on), then one reaching back (cursors placed again).
    const std::unique_ptr<BitDecoder> decoder = source.bit_decoder();
    BitTile bits;
    for (int width : {1, 63, 64, 130, shape.nsnps}) {
      std::vector<int> starts;
      for (int b = 0; b < shape.nsnps; b += width) starts.push_back(b);
      starts.push_back(0);
      for (int b : starts) {
        const int w = std::min(width, shape.nsnps - b);
        decoder->decode(b, w, bits);
        source.decode(b, w, got);
        BitTile packed;
        pack_tile(got, packed);
        ASSERT_EQ(bits.bits, packed.bits) << "bits of block " << b << " width " << w;
        ASSERT_EQ(bits.words * 64 >= static_cast<std::size_t>(shape.T) && bits.nsnps == static_cast<std::size_t>(w),
                  true);
      }
    }
    std::vector<int> some;
    for (int j = 0; j < shape.nsnps; ++j)
      if (j % 3 == 0 || std::count(shape.disease.begin(), shape.disease.end(), j)) some.push_back(j);
    source.decode_snps(some, got);  // ascending: each haplotype's place carried from SNP to SNP
    EXPECT_EQ(got.allele, direct(some));
    const std::vector<int> back(some.rbegin(), some.rend());  // any other order: each place searched for
    source.decode_snps(back, got);
    EXPECT_EQ(got.allele, direct(back));
    for (std::size_t d = 0; d < shape.disease.size(); ++d)
      for (int h = 0; h < shape.T; ++h)
        ASSERT_EQ(m.store.disease_allele(d, h), m.rows[h][shape.disease[d]]) << d << " " << h;
  }
}
