#pragma once
// The one way simulated alleles leave the engine: SNP-major tiles. Every
// writer and the association design read tiles from a HaplotypeSource, so
// the way haplotypes are held (dense rows, mosaics of the panel) is the
// source's business alone.
#include <cstddef>
#include <cstdint>
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
};

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

 private:
  void reorder(const Tile& stored, Tile& out) const;
  const HaplotypeSource& inner;
  const std::vector<std::uint32_t>& order;
};
