#pragma once
// A HaplotypeSource over haplotypes held as rows of allele codes, one per
// SNP: hand-made haplotypes in checks, and the reference the mosaic decoder
// is checked against.
#include <vector>

#include "store/haplotype_source.hpp"

class DenseRows : public HaplotypeSource {
 public:
  // The rows are read in place and must outlive the source.
  explicit DenseRows(const std::vector<std::vector<short>>& rows, std::size_t nsnps);
  std::size_t snps() const override { return nsnps; }
  std::size_t haplotypes() const override { return rows.size(); }
  void decode(std::size_t snp0, std::size_t count, Tile& out) const override;

 private:
  const std::vector<std::vector<short>>& rows;
  std::size_t nsnps;
};
