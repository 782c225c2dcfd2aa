#pragma once
// Simulated haplotypes kept as what the copying model decided, not as
// alleles: for each haplotype its copied segments (first SNP, source) and
// the SNPs where the copied allele mutated, plus its alleles at the disease
// loci, which the case model and the association test read directly. A
// source below the panel size n is a panel haplotype; source n + g is
// simulated haplotype g, always one added earlier.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "data/bit_matrix.hpp"
#include "store/haplotype_source.hpp"

struct Segment {
  std::int32_t first_snp;
  std::int32_t source;
};

class MosaicStore {
 public:
  MosaicStore() = default;
  // A store for haplotypes over `nsnps` SNPs copied from a panel of
  // `panel_haplotypes`; disease_snps are the disease-locus SNP indices,
  // ascending.
  MosaicStore(std::size_t panel_haplotypes, std::size_t nsnps, std::vector<int> disease_snps);

  std::size_t haplotypes() const { return segment_begin.size() - 1; }
  std::size_t snps() const { return nsnps; }
  std::size_t panel_haplotypes() const { return n; }
  const std::vector<int>& disease_snps() const { return disease; }

  // Adds the next haplotype. Segments are sorted by first SNP, the first at
  // SNP 0; mutations are sorted SNP indices. `fixed` says whether its alleles
  // at the disease SNPs are its own (a case's disease alleles, given in
  // disease_alleles, one per disease SNP) rather than copied and mutated like
  // any other; copied ones are worked out here.
  void add(const std::vector<Segment>& segments, const std::vector<int>& mutations, bool fixed,
           const std::uint8_t* disease_alleles, const BitMatrix& panel);
  void clear();
  // Room for `haplotypes` more haplotypes with about `segments` and
  // `mutations` each, for a caller that knows its sample's size.
  void reserve(std::size_t haplotypes, std::size_t segments, std::size_t mutations);

  // Allele of simulated haplotype h at disease SNP number d.
  std::uint8_t disease_allele(std::size_t d, std::size_t h) const { return columns[d][h]; }
  // Allele of candidate source c (panel or simulated) at disease SNP number d.
  std::uint8_t source_allele(std::size_t d, std::size_t c, const BitMatrix& panel) const {
    return c < n ? static_cast<std::uint8_t>(panel.get(static_cast<std::size_t>(disease[d]), c))
                 : columns[d][c - n];
  }

  // Memory the store holds, in bytes.
  std::size_t bytes() const;

  // What decoding needs to reach.
  const Segment* segments_of(std::size_t h, std::size_t& count) const {
    count = segment_begin[h + 1] - segment_begin[h];
    return segment_list.data() + segment_begin[h];
  }
  const std::int32_t* mutations_of(std::size_t h, std::size_t& count) const {
    count = mutation_begin[h + 1] - mutation_begin[h];
    return mutation_list.data() + mutation_begin[h];
  }
  bool has_fixed_disease_alleles(std::size_t h) const { return fixed_alleles[h] != 0; }

 private:
  std::size_t n = 0, nsnps = 0;
  std::vector<int> disease;
  std::vector<Segment> segment_list;
  std::vector<std::size_t> segment_begin{0};
  std::vector<std::int32_t> mutation_list;
  std::vector<std::size_t> mutation_begin{0};
  std::vector<std::uint8_t> fixed_alleles;
  std::vector<std::vector<std::uint8_t>> columns;  // per disease SNP, per simulated haplotype
};

// The HaplotypeSource of a mosaic store and the panel it copies from. For
// SNPs [j0, j1) every haplotype is decoded in order: each finds its segment
// at j0 by binary search (so blocks decode independently, and concurrently),
// copies its sources' alleles (panel bits, or rows of earlier haplotypes
// decoded just before in the same block) and flips them at its mutations.
class MosaicSource : public HaplotypeSource {
 public:
  MosaicSource(const MosaicStore& store, const BitMatrix& panel) : store(store), panel(panel) {}
  std::size_t snps() const override { return store.snps(); }
  std::size_t haplotypes() const override { return store.haplotypes(); }
  void decode(std::size_t snp0, std::size_t nsnps, Tile& out) const override;
  void decode_snps(const std::vector<int>& indices, Tile& out) const override;
  // Decodes into bits (mosaic_bits.cpp): each haplotype's segments are word
  // copies of its sources' bit rows, and where each haplotype stands in its
  // segments and mutations is carried from one block to the next.
  std::unique_ptr<BitDecoder> bit_decoder() const override;
  std::unique_ptr<BitDecoder> bit_decoder(const std::vector<std::uint32_t>& order) const override;

  // The same alleles haplotype-major: rows[h * width + (j - snp0)].
  void decode_rows(std::size_t snp0, std::size_t width, std::vector<std::uint8_t>& rows) const;

 private:
  const MosaicStore& store;
  const BitMatrix& panel;
};
