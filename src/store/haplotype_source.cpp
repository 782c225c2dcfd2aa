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
