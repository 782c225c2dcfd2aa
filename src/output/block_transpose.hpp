#pragma once
// Simulated rows are haplotype-major while every output line is SNP-major.
// Copying a block of SNPs of all rows of a group into one SNP-major tile
// reads each row once, contiguously, instead of striding through every row
// once per SNP.
#include <vector>

// Copies entry snps[j] of rows [first, end) into `tile`, SNP-major:
// tile[j * (end - first) + (h - first)] = rows[h][snps[j]] for j < width.
// `tile` must hold width * (end - first) values. Returns true when every
// value copied is an allele code 0 or 1, which lets the writers use their
// table-driven formatting.
bool transpose_block(const std::vector<std::vector<short>>& rows, int first, int end,
                     const int* snps, int width, short* tile);
