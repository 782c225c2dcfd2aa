#include "dense_rows.hpp"

DenseRows::DenseRows(const std::vector<std::vector<short>>& haplotype_rows, std::size_t snp_count)
    : rows(haplotype_rows), nsnps(snp_count) {}

void DenseRows::decode(std::size_t snp0, std::size_t count, Tile& out) const {
  const std::size_t T = rows.size();
  out.reset(snp0, count, T);
  for (std::size_t h = 0; h < T; ++h)
    for (std::size_t j = 0; j < count; ++j) out.snp(j)[h] = static_cast<std::uint8_t>(rows[h][snp0 + j]);
}
