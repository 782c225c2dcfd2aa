#pragma once
// The one way simulated alleles leave the engine: SNP-major tiles. Every
// writer and the association design read tiles from a HaplotypeSource, so
// the way haplotypes are held (dense rows, mosaics of the panel) is the
// source's business alone.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Alleles of SNPs [snp0, snp0 + nsnps) for haplotypes [hap0, hap0 + nhaps),
// SNP-major: allele[s * nhaps + h] is 0 or 1.
struct Tile {
  std::size_t snp0 = 0, nsnps = 0, hap0 = 0, nhaps = 0;
  std::vector<std::uint8_t> allele;

  // Shapes the tile for SNPs [first, first + count) of all `haplotypes`; its
  // storage is reused.
  void reset(std::size_t first, std::size_t count, std::size_t haplotypes) {
    snp0 = first;
    nsnps = count;
    hap0 = 0;
    nhaps = haplotypes;
    allele.resize(count * haplotypes);
  }
  const std::uint8_t* snp(std::size_t s) const { return allele.data() + s * nhaps; }
  std::uint8_t* snp(std::size_t s) { return allele.data() + s * nhaps; }
};

// The same alleles one bit each, SNP-major: haplotype h of SNP row s is bit
// h % 64 of word h / 64 of the row; the bits past the last haplotype are 0.
// Writers format from these rows a word (64 haplotypes) at a time.
struct BitTile {
  std::size_t snp0 = 0, nsnps = 0, nhaps = 0, words = 0;  // words per SNP row
  std::vector<std::uint64_t> bits;

  void reset(std::size_t first, std::size_t count, std::size_t haplotypes) {
    snp0 = first;
    nsnps = count;
    nhaps = haplotypes;
    words = (haplotypes + 63) / 64;
    bits.resize(count * words);
  }
  const std::uint64_t* snp(std::size_t s) const { return bits.data() + s * words; }
  std::uint64_t* snp(std::size_t s) { return bits.data() + s * words; }
};

// Decodes blocks of SNPs into bit tiles for one thread. It may carry state
// from one block to the next (where each haplotype's mosaic stands), so a
// thread keeps its own decoder and is fastest when its blocks ascend; any
// order gives the same bits.
class BitDecoder {
 public:
  virtual ~BitDecoder() = default;
  virtual void decode(std::size_t snp0, std::size_t nsnps, BitTile& out) = 0;
};

class HaplotypeSource {
 public:
  virtual ~HaplotypeSource() = default;
  virtual std::size_t snps() const = 0;
  virtual std::size_t haplotypes() const = 0;
  // Fills `out` with SNPs [snp0, snp0 + nsnps) of every haplotype; the
  // tile's storage is reused from call to call.
  virtual void decode(std::size_t snp0, std::size_t nsnps, Tile& out) const = 0;
  // The same for the listed SNPs only (ascending indices), as rows
  // 0 .. indices.size() of the tile: tag SNPs and disease SNPs.
  virtual void decode_snps(const std::vector<int>& indices, Tile& out) const;
  // A decoder of this source's blocks into bits, for one thread; by default
  // it packs the tiles of decode().
  virtual std::unique_ptr<BitDecoder> bit_decoder() const;
  // A decoder whose haplotype i is this source's order[i]; null when the
  // source cannot reorder as it decodes.
  virtual std::unique_ptr<BitDecoder> bit_decoder(const std::vector<std::uint32_t>& order) const;
};

// Packs tile rows into bit rows.
void pack_tile(const Tile& tile, BitTile& out);

// Another source's haplotypes in another order: haplotype i is the inner
// source's order[i]. Pedigree runs store parents before children and write
// the pedigree's order.
class ReorderedSource : public HaplotypeSource {
 public:
  ReorderedSource(const HaplotypeSource& inner, const std::vector<std::uint32_t>& order)
      : inner(inner), order(order) {}
  std::size_t snps() const override { return inner.snps(); }
  std::size_t haplotypes() const override { return order.size(); }
  void decode(std::size_t snp0, std::size_t nsnps, Tile& out) const override;
  void decode_snps(const std::vector<int>& indices, Tile& out) const override;
  // The inner source's decoder in this order when it has one, else packed
  // reordered tiles.
  std::unique_ptr<BitDecoder> bit_decoder() const override;

 private:
  void reorder(const Tile& stored, Tile& out) const;
  const HaplotypeSource& inner;
  const std::vector<std::uint32_t>& order;
};
