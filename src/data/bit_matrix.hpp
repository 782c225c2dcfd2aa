#pragma once
// Alleles packed one bit each: rows of `cols` bits in 64-bit words, bit c of
// a row in word c / 64 at bit c % 64. A panel of thousands of haplotypes and
// a million SNPs then takes a few hundred megabytes instead of gigabytes.
// Rows live in chunks of a fixed number of rows, so that a reader adding rows
// one by one never holds more than one chunk beyond what it filled, and
// never copies what it has.
#include <cstddef>
#include <cstdint>
#include <vector>

class BitMatrix {
 public:
  BitMatrix() = default;
  explicit BitMatrix(std::size_t columns) : cols(columns), words((columns + 63) / 64) {}

  std::size_t rows() const { return nrows; }
  std::size_t columns() const { return cols; }
  std::size_t words_per_row() const { return words; }
  std::size_t bytes() const { return chunks.size() * chunk_rows * words * sizeof(std::uint64_t); }

  const std::uint64_t* row(std::size_t r) const {
    return chunks[r / chunk_rows].data() + (r % chunk_rows) * words;
  }
  std::uint64_t* row(std::size_t r) { return chunks[r / chunk_rows].data() + (r % chunk_rows) * words; }
  int get(std::size_t r, std::size_t c) const { return static_cast<int>(row(r)[c >> 6] >> (c & 63) & 1u); }

  // Appends a row of zeros and returns it for filling.
  std::uint64_t* add_row() {
    if (nrows % chunk_rows == 0) chunks.emplace_back(chunk_rows * words, 0);
    return row(nrows++);
  }
  // Puts the rows in the order rows[order[0]], rows[order[1]], ... (each
  // row at most once); rows not listed are dropped.
  void reorder(const std::vector<std::size_t>& order) {
    BitMatrix sorted(cols);
    for (std::size_t i : order) {
      std::uint64_t* to = sorted.add_row();
      const std::uint64_t* from = row(i);
      for (std::size_t w = 0; w < words; ++w) to[w] = from[w];
    }
    *this = std::move(sorted);
  }

  bool operator==(const BitMatrix& other) const {
    if (cols != other.cols || nrows != other.nrows) return false;
    for (std::size_t r = 0; r < nrows; ++r)
      for (std::size_t w = 0; w < words; ++w)
        if (row(r)[w] != other.row(r)[w]) return false;
    return true;
  }

 private:
  static constexpr std::size_t chunk_rows = 1024;
  std::size_t cols = 0, words = 0, nrows = 0;
  std::vector<std::vector<std::uint64_t>> chunks;
};
