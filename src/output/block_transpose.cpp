#include "output/block_transpose.hpp"

bool transpose_block(const std::vector<std::vector<short>>& rows, int first, int end,
                     const int* snps, int width, short* tile) {
  const int n = end - first;
  // Any bit above the lowest one marks a value other than 0 or 1 (negative
  // values included, through their sign bits).
  unsigned bits_above_one = 0;
  for (int h = first; h < end; ++h) {
    const short* row = rows[h].data();
    short* column = tile + (h - first);
    // The writes of one row go to `width` different tile lines, and the next
    // row writes next to them, so the working set stays at `width` cache lines.
    for (int j = 0; j < width; ++j) {
      const short value = row[snps[j]];
      column[static_cast<long>(j) * n] = value;
      bits_above_one |= static_cast<unsigned short>(value) >> 1;
    }
  }
  return bits_above_one == 0;
}
