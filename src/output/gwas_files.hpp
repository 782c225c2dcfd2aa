#pragma once
// What the writers share: the size of the SNP blocks they decode, and the
// loop over them.
#include <algorithm>
#include <map>
#include <cstddef>

#include "core/progress.hpp"
#include "data/data.hpp"
#include "store/haplotype_source.hpp"

// SNPs per decoded tile: about a megabyte of alleles, so that the tile and
// the text made of it stay in cache while each file's lines are formatted.
// A fixed function of the run's size, never of how the work is scheduled.
inline std::size_t block_snps(std::size_t haplotypes) {
  const std::size_t width = (std::size_t(1) << 20) / std::max<std::size_t>(haplotypes, 1);
  return std::min<std::size_t>(std::max<std::size_t>(width, 8), 1024);
}

// Decodes the source block by block and calls snp_row(tile, row, snp) for
// every SNP in order, then block_done() after each block; the progress line
// names the files being written.
template <class SnpRow, class BlockDone>
void for_each_snp(const HaplotypeSource& source, const std::map<int, snp>& snps, const char* what,
                  SnpRow snp_row, BlockDone block_done) {
  const std::size_t nsnps = snps.size(), block = block_snps(source.haplotypes());
  Progress progress(what, "SNPs");
  Tile tile;
  auto snp = snps.begin();
  for (std::size_t b = 0; b < nsnps; b += block) {
    progress.update(static_cast<long>(b), static_cast<long>(nsnps));
    const std::size_t width = std::min(block, nsnps - b);
    source.decode(b, width, tile);
    for (std::size_t r = 0; r < width; ++r, ++snp) snp_row(tile, r, snp);
    block_done();
  }
}
