#include "store/haplotype_source.hpp"

#include <cstring>

void HaplotypeSource::decode_snps(const std::vector<int>& indices, Tile& out) const {
  // One single-SNP decode per index: the listed SNPs are few (tags, disease
  // loci) and usually far apart, so a source has nothing to share between them.
  const std::size_t T = haplotypes();
  Tile one;
  out.reset(indices.empty() ? 0 : static_cast<std::size_t>(indices.front()), indices.size(), T);
  for (std::size_t i = 0; i < indices.size(); ++i) {
    decode(static_cast<std::size_t>(indices[i]), 1, one);
    if (T > 0) std::memcpy(out.snp(i), one.allele.data(), T);
  }
}

void pack_tile(const Tile& tile, BitTile& out) {
  out.reset(tile.snp0, tile.nsnps, tile.nhaps);
  for (std::size_t s = 0; s < tile.nsnps; ++s) {
    const std::uint8_t* allele = tile.snp(s);
    std::uint64_t* bits = out.snp(s);
    for (std::size_t w = 0; w < out.words; ++w) bits[w] = 0;
    for (std::size_t h = 0; h < tile.nhaps; ++h) bits[h >> 6] |= std::uint64_t(allele[h] & 1u) << (h & 63);
  }
}

namespace {

class TileBitDecoder : public BitDecoder {
 public:
  explicit TileBitDecoder(const HaplotypeSource& source) : source(source) {}
  void decode(std::size_t snp0, std::size_t nsnps, BitTile& out) override {
    source.decode(snp0, nsnps, tile);
    pack_tile(tile, out);
  }

 private:
  const HaplotypeSource& source;
  Tile tile;
};

}  // namespace

std::unique_ptr<BitDecoder> HaplotypeSource::bit_decoder() const { return std::make_unique<TileBitDecoder>(*this); }

namespace {
// The inner source's tile of one thread, reused from call to call.
thread_local Tile stored_tile;
}  // namespace

void ReorderedSource::reorder(const Tile& stored, Tile& out) const {
  out.reset(stored.snp0, stored.nsnps, order.size());
  const std::size_t T = order.size();
  for (std::size_t s = 0; s < stored.nsnps; ++s) {
    const std::uint8_t* from = stored.snp(s);
    std::uint8_t* to = out.snp(s);
    for (std::size_t i = 0; i < T; ++i) to[i] = from[order[i]];
  }
}

std::unique_ptr<BitDecoder> HaplotypeSource::bit_decoder(const std::vector<std::uint32_t>&) const {
  return nullptr;
}

std::unique_ptr<BitDecoder> ReorderedSource::bit_decoder() const {
  std::unique_ptr<BitDecoder> ordered = inner.bit_decoder(order);
  return ordered ? std::move(ordered) : HaplotypeSource::bit_decoder();
}

void ReorderedSource::decode(std::size_t snp0, std::size_t nsnps, Tile& out) const {
  inner.decode(snp0, nsnps, stored_tile);
  reorder(stored_tile, out);
}

void ReorderedSource::decode_snps(const std::vector<int>& indices, Tile& out) const {
  inner.decode_snps(indices, stored_tile);
  reorder(stored_tile, out);
}
