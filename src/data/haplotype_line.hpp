#pragma once
// A haplotype-file line in its usual layout, one code 0 or 1 per haplotype
// between single blanks, packed straight into a panel row.
#include <cstdint>
#include <string>
#include <vector>

// Packs `line` into `row` (resized and zeroed to hold its codes; code h at
// bit h % 64 of word h / 64) and returns the number of codes, with the 1s
// in `ones`; -1, with `row` to be ignored, when the line is in any other
// layout (other blanks or spellings, or an error), which the general parser
// then reads.
int pack_haplotype_line(const std::string& line, std::vector<std::uint64_t>& row, long long& ones);
