#pragma once
// 64 x 64 bit blocks turned over: the step between haplotype-major rows (one
// haplotype's run of SNPs in a word) and SNP-major rows (one SNP's run of
// haplotypes in a word).
#include <cstdint>

// In place: bit j of a[i] becomes bit i of a[j]. Six rounds, each swapping
// the off-diagonal halves of every 2k x 2k block at once.
inline void transpose64(std::uint64_t a[64]) {
  std::uint64_t m = 0x00000000FFFFFFFFull;
  for (unsigned j = 32; j != 0; j >>= 1, m ^= m << j)
    for (unsigned k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & m;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
}
