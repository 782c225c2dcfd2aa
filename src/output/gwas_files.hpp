#pragma once
// What the writers share: the size of the SNP blocks they decode.
#include <algorithm>
#include <map>
#include <cstddef>

#include "data/data.hpp"
#include "store/haplotype_source.hpp"

// SNPs per decoded tile: about a megabyte of alleles, so that the tile and
// the text made of it stay in cache while each file's lines are formatted.
// A fixed function of the run's size, never of how the work is scheduled.
inline std::size_t block_snps(std::size_t haplotypes) {
  const std::size_t width = (std::size_t(1) << 20) / std::max<std::size_t>(haplotypes, 1);
  return std::min<std::size_t>(std::max<std::size_t>(width, 8), 1024);
}
