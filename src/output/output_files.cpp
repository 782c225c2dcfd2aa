// The output file set of a run: haplotype, legend, genotype, tag-SNP genotype
// and sample files for controls and cases.
#include "output/output_files.hpp"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cstring>
#include <ios>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "data/input_file.hpp"
#include "params/progress.hpp"
#include "output/block_transpose.hpp"
#include "output/block_writer.hpp"
#include "params/errors.hpp"
#include "params/summary.hpp"
#include "sim/generator.hpp"

namespace {

using SnpIterator = std::map<int, snp>::const_iterator;

// The genotype probability triple for 0, 1 and 2 copies of allele1.
const char genotype_text[3][7] = {" 1 0 0", " 0 1 0", " 0 0 1"};
constexpr std::size_t genotype_text_size = 6;

void append_int(std::string& text, long value) {
  char digits[24];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, result.ptr);
}

// The five leading fields of a genotype line: "snp_<k> rsid position a0 a1".
void append_gen_header(std::string& line, int k, const SnpIterator& snp_it) {
  line += "snp_";
  append_int(line, k);
  line += ' ';
  line += snp_it->second.rsid;
  line += ' ';
  append_int(line, snp_it->first);
  line += ' ';
  line += snp_it->second.allele0;
  line += ' ';
  line += snp_it->second.allele1;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The progress line of the writing phase: the share of the estimated bytes of
// all files written so far, and which file is being written.
class WritingProgress {
 public:
  WritingProgress(int files, double bytes) : line("Writing", ""), files(files), total(bytes) {}
  void next_file() { line.set_detail("file " + std::to_string(++file) + " of " + std::to_string(files)); }
  void add_work(double bytes) { total += bytes; }
  void advance(double bytes) {
    done += bytes;
    line.update(static_cast<long>(done / 1024), static_cast<long>(total / 1024));
  }

 private:
  Progress line;
  int files;
  int file = 0;
  double total;
  double done = 0;
};

// Estimated bytes of the lines of `nsnps` SNPs in a haplotype file, and in a
// genotype file, of a group of `rows` haplotype rows.
double haplotype_file_bytes(double nsnps, double rows) { return nsnps * (2 * rows + 1); }
double genotype_file_bytes(double nsnps, double rows) { return nsnps * (3 * rows + 40); }

// Text bytes one block of lines should take: large enough that each row is
// read in long runs (width SNPs at a time), small enough that the block's text
// is still in cache when it is written to the file. A genotype line takes
// three text bytes per row where a haplotype line takes two, and its loop
// waits on the rows rather than on the text, so its blocks are larger.
constexpr std::size_t haplotype_block_bytes = std::size_t(1) << 19;
constexpr std::size_t genotype_block_bytes = std::size_t(1) << 21;

// SNPs per block for lines of `line_bytes` bytes each.
int block_width(std::size_t block_bytes, std::size_t line_bytes, int nsnps) {
  const std::size_t width = block_bytes / std::max<std::size_t>(line_bytes, 1);
  return static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(width, 8),
                                                static_cast<std::size_t>(std::max(nsnps, 1))));
}

// Rows ahead of the one being formatted whose block is fetched into cache
// beforehand: each row is a separate allocation, so reading a short stretch
// of one row after another defeats the hardware prefetcher, and the loads
// would otherwise wait on memory one row at a time.
constexpr int prefetch_rows = 16;

// The stretch of a row that a block reads, fetched ahead: from entry
// `first` on, `lines` cache lines (none when the SNPs are far apart, as tag
// SNPs can be).
struct RowStretch {
  int first = 0;
  int lines = 0;
  RowStretch(const int* snps, int width) {
    const int lowest = snps[0], highest = snps[width - 1];
    if (highest < lowest || highest - lowest > 1024) return;
    first = lowest;
    lines = (highest - lowest) * static_cast<int>(sizeof(short)) / 64 + 2;
  }
  void fetch(const short* row) const {
    const char* p = reinterpret_cast<const char*>(row + first);
    for (int i = 0; i < lines; ++i) __builtin_prefetch(p + 64 * i);
  }
};

// Appends the haplotype-file lines of SNPs snps[0 .. width) for rows
// [first, end), formatting straight from the rows: each row is read once per
// block, contiguously, and its value goes to the same column of every line
// of the block. Returns false, with `text` as it was, when a value is not 0
// or 1; the caller then formats the block the general way.
bool append_haplotype_codes(const std::vector<std::vector<short>>& rows, int first, int end,
                            const int* snps, int width, std::string& text) {
  const std::size_t n = static_cast<std::size_t>(end - first);
  const std::size_t line = 2 * n + 1;
  const std::size_t start = text.size();
  text.resize(start + line * width);
  char* const base = &text[start];
  unsigned bits_above_one = 0;
  const RowStretch stretch(snps, width);
  // The cells of row h at SNPs snps[from .. width).
  const auto put_cells = [&](int h, int from) {
    const short* row = rows[h].data();
    char* column = base + 2 * static_cast<std::size_t>(h - first);
    for (int j = from; j < width; ++j) {
      const short value = row[snps[j]];
      bits_above_one |= static_cast<unsigned short>(value) >> 1;
      const char cell[2] = {static_cast<char>('0' + value), ' '};
      std::memcpy(column + line * j, cell, 2);
    }
  };
  int h = first;
#if defined(__SSE2__)
  // Eight rows at a time when the SNPs are consecutive (every block of the
  // haplotype files): an 8 x 8 block of codes is transposed in registers, and
  // each SNP's eight codes become eight cells at once, the 16-bit word of
  // "v " being 0x2030 + v in little-endian memory order.
  bool consecutive = true;
  for (int j = 1; j < width; ++j) consecutive &= snps[j] == snps[j - 1] + 1;
  if (consecutive) {
    const int k = snps[0];
    const __m128i text_of_zero = _mm_set1_epi16(0x2030);
    __m128i all_codes = _mm_setzero_si128();
    for (; h + 8 <= end; h += 8) {
      const short* r[8];
      for (int i = 0; i < 8; ++i) {
        r[i] = rows[h + i].data() + k;
        if (h + i + prefetch_rows < end) stretch.fetch(rows[h + i + prefetch_rows].data());
      }
      char* column = base + 2 * static_cast<std::size_t>(h - first);
      int j = 0;
      for (; j + 8 <= width; j += 8) {
        __m128i c[8];
        for (int i = 0; i < 8; ++i) {
          c[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[i] + j));
          all_codes = _mm_or_si128(all_codes, c[i]);
        }
        __m128i t[8], u[8];
        for (int i = 0; i < 4; ++i) {
          t[i] = _mm_unpacklo_epi16(c[2 * i], c[2 * i + 1]);
          t[i + 4] = _mm_unpackhi_epi16(c[2 * i], c[2 * i + 1]);
        }
        // t[0..3]: SNPs 0-3 of row pairs (0,1) .. (6,7); t[4..7]: SNPs 4-7.
        for (int half = 0; half < 8; half += 4) {
          u[half + 0] = _mm_unpacklo_epi32(t[half + 0], t[half + 1]);
          u[half + 1] = _mm_unpackhi_epi32(t[half + 0], t[half + 1]);
          u[half + 2] = _mm_unpacklo_epi32(t[half + 2], t[half + 3]);
          u[half + 3] = _mm_unpackhi_epi32(t[half + 2], t[half + 3]);
        }
        // u[half + 0]: rows 0-3 of SNPs half, half+1; u[half + 2]: rows 4-7.
        for (int q = 0; q < 8; q += 2) {
          const int a = (q / 4) * 4 + (q % 4) / 2;
          const __m128i lo = _mm_unpacklo_epi64(u[a], u[a + 2]);
          const __m128i hi = _mm_unpackhi_epi64(u[a], u[a + 2]);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(column + line * (j + q)), _mm_add_epi16(lo, text_of_zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(column + line * (j + q + 1)), _mm_add_epi16(hi, text_of_zero));
        }
      }
      if (j < width)
        for (int i = 0; i < 8; ++i) put_cells(h + i, j);
    }
    const __m128i above_one = _mm_and_si128(all_codes, _mm_set1_epi16(static_cast<short>(0xFFFE)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(above_one, _mm_setzero_si128())) != 0xFFFF) bits_above_one = 1;
  }
#endif
  for (; h < end; ++h) {
    if (h + prefetch_rows < end) stretch.fetch(rows[h + prefetch_rows].data());
    put_cells(h, 0);
  }
  for (int j = 0; j < width; ++j) base[line * j + line - 1] = '\n';
  if (bits_above_one != 0) {
    text.resize(start);
    return false;
  }
  return true;
}

// One haplotype file: a line per SNP, the group's rows as columns, each value
// followed by a blank.
void write_haplotype_rows(const std::vector<std::vector<short>>& haplotypes, int first, int end,
                          const std::vector<int>& snp_indices, std::vector<short>& tile,
                          BlockWriter& out, std::ostringstream& log, WritingProgress& progress) {
  const int n = end - first;
  const int nsnps = static_cast<int>(snp_indices.size());
  const int block = block_width(haplotype_block_bytes, 2 * static_cast<std::size_t>(n) + 1, nsnps);
  std::string& text = out.text();
  for (int b = 0; b < nsnps; b += block) {
    const int width = std::min(block, nsnps - b);
    progress.advance(haplotype_file_bytes(width, n));
    if (append_haplotype_codes(haplotypes, first, end, snp_indices.data() + b, width, text)) {
      out.line_done();
      continue;
    }
    // Values other than 0 and 1 are written as they are; negative ones are
    // reported, and the report reaches the console when the next file is
    // opened.
    tile.resize(static_cast<std::size_t>(width) * n);
    transpose_block(haplotypes, first, end, snp_indices.data() + b, width, tile.data());
    for (int j = 0; j < width; ++j) {
      const short* values = tile.data() + static_cast<long>(j) * n;
      const int k = snp_indices[b + j];
      for (int c = 0; c < n; ++c) {
        append_int(text, values[c]);
        text += ' ';
        if (values[c] < 0) {
          log << "something has gone wrong in output_haplotypes: one of the alleles is" << values[c]
              << "\n"
              << haplotypes.size() << " " << first + c << " " << haplotypes[0].size() << " " << k
              << "\n";
        }
      }
      text += '\n';
      out.line_done();
    }
  }
}

// The genotype texts of the table above, padded to eight bytes so that one
// 8-byte copy writes a genotype; the two extra bytes fall where the next
// genotype is written afterwards. The fourth entry only keeps a value other
// than 0, 1 or 2 inside the table until the block is redone.
const char genotype_cell[4][8] = {" 1 0 0", " 0 1 0", " 0 0 1", "      "};

// Writes one individual's genotype at SNPs snps[0 .. width) into the lines
// whose genotype texts start at cells + body[j], copying `bytes` bytes of each
// padded text. Returns the bits of the codes above the lowest.
template <std::size_t bytes>
unsigned put_genotypes(const short* a, const short* b, const int* snps, int width,
                       const std::size_t* body, char* cells) {
  unsigned bits_above_one = 0;
  for (int j = 0; j < width; ++j) {
    const short x = a[snps[j]];
    const short y = b[snps[j]];
    bits_above_one |= static_cast<unsigned short>(x | y) >> 1;
    std::memcpy(cells + body[j], genotype_cell[(x + y) & 3], bytes);
  }
  return bits_above_one;
}

// The texts of two neighbouring genotypes with sums s and t, at index
// 3 * s + t, padded to sixteen bytes like genotype_cell; the entries from 9
// on only keep other values inside the table until the block is redone.
struct GenotypePairs {
  char text[16][16] = {};
  GenotypePairs() {
    for (int s = 0; s < 3; ++s) {
      for (int t = 0; t < 3; ++t) {
        std::memcpy(text[3 * s + t], genotype_text[s], genotype_text_size);
        std::memcpy(text[3 * s + t] + genotype_text_size, genotype_text[t], genotype_text_size);
      }
    }
  }
};
const GenotypePairs genotype_pairs;

// Writes the genotypes of two neighbouring individuals (rows a, b and c, d)
// as put_genotypes does for one.
template <std::size_t bytes>
unsigned put_genotype_pairs(const short* a, const short* b, const short* c, const short* d,
                            const int* snps, int width, const std::size_t* body, char* cells) {
  unsigned bits_above_one = 0;
  for (int j = 0; j < width; ++j) {
    const int k = snps[j];
    const short w = a[k], x = b[k], y = c[k], z = d[k];
    bits_above_one |= static_cast<unsigned short>(w | x | y | z) >> 1;
    const unsigned pair = static_cast<unsigned>(3 * (w + x) + (y + z)) & 15;
    std::memcpy(cells + body[j], genotype_pairs.text[pair], bytes);
  }
  return bits_above_one;
}

// Appends the genotype lines of SNPs snps[0 .. width) for rows [first, end)
// (an even count), formatting straight from the rows as above. Returns false,
// with `text` as it was, when a value is not 0 or 1.
bool append_genotype_codes(const std::vector<std::vector<short>>& rows, int first, int end,
                           const std::vector<SnpIterator>& snp_its, const int* snps, int width,
                           std::string& text, std::vector<std::size_t>& body) {
  const int individuals = (end - first) / 2;
  const std::size_t body_bytes = genotype_text_size * static_cast<std::size_t>(individuals);
  const std::size_t start = text.size();
  body.resize(width);
  for (int j = 0; j < width; ++j) {
    append_gen_header(text, snps[j], snp_its[j]);
    body[j] = text.size();
    text.resize(text.size() + body_bytes);
    text += '\n';
  }
  char* const base = &text[0];
  unsigned bits_above_one = 0;
  const RowStretch stretch(snps, width);
  // Two individuals at a time; the last genotypes of a line are followed by
  // the line end, so they get exact copies instead of padded ones.
  for (int i = 0; i < individuals; i += 2) {
    for (int ahead = first + 2 * i + prefetch_rows; ahead < first + 2 * i + prefetch_rows + 4; ++ahead)
      if (ahead < end) stretch.fetch(rows[ahead].data());
    const short* a = rows[first + 2 * i].data();
    const short* b = rows[first + 2 * i + 1].data();
    char* const cells = base + genotype_text_size * static_cast<std::size_t>(i);
    if (i + 1 == individuals) {
      bits_above_one |= put_genotypes<genotype_text_size>(a, b, snps, width, body.data(), cells);
      break;
    }
    const short* c = rows[first + 2 * i + 2].data();
    const short* d = rows[first + 2 * i + 3].data();
    if (i + 2 < individuals)
      bits_above_one |= put_genotype_pairs<16>(a, b, c, d, snps, width, body.data(), cells);
    else
      bits_above_one |= put_genotype_pairs<2 * genotype_text_size>(a, b, c, d, snps, width,
                                                                   body.data(), cells);
  }
  if (bits_above_one != 0) {
    text.resize(start);
    return false;
  }
  return true;
}

// The genotype lines of the listed SNPs for rows [first, end), in list order.
void write_genotype_lines(const TarvikGenerator& generator, const std::vector<SnpIterator>& snp_its,
                          const std::vector<int>& snp_indices, int first, int end,
                          BlockWriter& out, WritingProgress& progress) {
  const int individuals = (end - first) / 2;
  const int nsnps = static_cast<int>(snp_indices.size());
  const int block = block_width(genotype_block_bytes,
                                genotype_text_size * static_cast<std::size_t>(individuals) + 40, nsnps);
  std::vector<std::size_t> body;
  std::vector<SnpIterator> block_its;
  std::string& text = out.text();
  for (int b = 0; b < nsnps; b += block) {
    const int width = std::min(block, nsnps - b);
    progress.advance(genotype_file_bytes(width, end - first));
    block_its.assign(snp_its.begin() + b, snp_its.begin() + b + width);
    if (append_genotype_codes(generator.simulated_haplotypes, first, end, block_its,
                              snp_indices.data() + b, width, text, body)) {
      out.line_done();
      continue;
    }
    // Sums other than 0, 1 and 2 are reported by the line formatter.
    for (int j = 0; j < width; ++j) {
      SnpIterator snp_it = snp_its[b + j];
      generator.output_snp_data_gen_format(snp_it, snp_indices[b + j], first, end, text);
      out.line_done();
    }
  }
}

std::string shortened(const std::string& token) {
  return token.size() <= 40 ? token : token.substr(0, 40) + "...";
}

}  // namespace

OutputFileNames output_file_names(const TarvikParameters& params) {
  namespace fs = boost::filesystem;
  const fs::path& output = params.output_file;
  const bool gzip_mode = output.extension() == ".gz";
  const std::string stem = output.stem().string();
  // In gzip mode only the haplotype and genotype files carry ".gz" and so are
  // compressed; the legend and sample files stay plain text.
  auto name = [&](const std::string& suffix, bool compressed) {
    if (!gzip_mode) return fs::path(output.string() + suffix);
    return params.output_directory / (stem + suffix + (compressed ? ".gz" : ""));
  };
  OutputFileNames names;
  names.haps[0] = name(".controls.haps", true);
  names.haps[1] = name(".cases.haps", true);
  names.legend = name(".legend", false);
  names.gen[0] = name(".controls.gen", true);
  names.gen[1] = name(".cases.gen", true);
  names.tags[0] = name(".controls.tags.gen", true);
  names.tags[1] = name(".cases.tags.gen", true);
  names.sample[0] = name(".controls.sample", false);
  names.sample[1] = name(".cases.sample", false);
  return names;
}

std::set<int> read_tag_positions(const boost::filesystem::path& file) {
  const std::string name = file.string();
  InputFile in(name);
  if (!in.is_open()) throw badfilename::reading(name, "can't open file.");
  std::set<int> positions;
  std::string line;
  long line_number = 0;
  while (in.getline(line)) {
    ++line_number;
    std::size_t pos = 0;
    while (pos < line.size()) {
      while (pos < line.size() && is_blank(line[pos])) ++pos;
      const std::size_t start = pos;
      while (pos < line.size() && !is_blank(line[pos])) ++pos;
      if (start == pos) break;
      const char* begin = line.data() + start;
      const char* end = line.data() + pos;
      // A leading plus sign is accepted, as by any stream reading an int.
      if (*begin == '+' && end - begin > 1 && begin[1] >= '0' && begin[1] <= '9') ++begin;
      int value = 0;
      const std::from_chars_result result = std::from_chars(begin, end, value);
      if (result.ec != std::errc() || result.ptr != end)
        throw badfilename::reading(
            name, "line " + std::to_string(line_number) + ": \"" +
                      shortened(line.substr(start, pos - start)) +
                      "\" is not a position (a decimal integer within the range of an int).");
      positions.insert(value);
    }
  }
  return positions;
}

void TarvikGenerator::output_snp_data_gen_format(std::map<int, snp>::const_iterator& snp_it,
                                                 const int& k, const int& first, const int& end,
                                                 std::string& line) const {
  append_gen_header(line, k, snp_it);
  for (int h = first; h < end; h += 2) {
    const int sum = simulated_haplotypes[h][k] + simulated_haplotypes[h + 1][k];
    if (sum >= 0 && sum <= 2) {
      line.append(genotype_text[sum], genotype_text_size);
    } else {
      std::ostringstream log;
      log << h << " " << k << " " << simulated_haplotypes.size() << " "
          << simulated_haplotypes[0].size() << " " << panel_data.snps_data.size() << "\n"
          << "something has gone wrong in output_haplotypes: one of the genotypes is " << sum
          << "\n";
      update_summary_file(params, log, std::ios::app);
    }
  }
  line += '\n';
}

void TarvikGenerator::output_haplotypes() const {
  std::ostringstream log;
  log << "\n"
      << "Writing output to files "
      << "\n";
  update_summary_file(params, log, std::ios::app);

  const OutputFileNames names = output_file_names(params);

  const long long expected_rows =
      2LL * (static_cast<long long>(params.ncontrols) + static_cast<long long>(params.ncases));
  if (static_cast<long long>(simulated_haplotypes.size()) != expected_rows) {
    log << "something has gone wrong in output_haplotypes: simulated_haplotypes.size()/2 != "
           "(params.ncontrols+params.ncases)"
        << "\n";
    update_summary_file(params, log, std::ios::app);
    throw GenericErrorException(
        "output_haplotypes found " + std::to_string(simulated_haplotypes.size()) +
        " simulated haplotypes, but " + std::to_string(params.ncontrols) + " controls and " +
        std::to_string(params.ncases) + " cases need " + std::to_string(expected_rows) +
        "; no output file was written.\n");
  }

  const int bounds[3] = {0, 2 * params.ncontrols, 2 * (params.ncontrols + params.ncases)};
  const std::map<int, snp>& snps = panel_data.snps_data;
  const int nsnps = static_cast<int>(snps.size());
  assert(simulated_phenotypes.size() * 2 == simulated_haplotypes.size());
  for (const std::vector<short>& row : simulated_haplotypes) {
    assert(row.size() == panel_data.snps_data.size());
    (void)row;
  }

  std::vector<int> all_indices(nsnps);
  std::iota(all_indices.begin(), all_indices.end(), 0);
  std::vector<SnpIterator> all_snps;
  all_snps.reserve(nsnps);
  for (SnpIterator it = snps.begin(); it != snps.end(); ++it) all_snps.push_back(it);

  std::vector<short> tile;  // for blocks holding values other than 0 and 1

  const bool haps = !params.flag_given("-no_haps_output");
  const bool gens = !params.flag_given("-no_gens_output");
  const bool tags = params.flag_given("-t");
  const double rows = static_cast<double>(bounds[2]);
  WritingProgress progress(2 + (haps ? 3 : 0) + (gens ? 2 : 0) + (tags ? 2 : 0),
                           (haps ? haplotype_file_bytes(nsnps, rows) + 30.0 * nsnps : 0.0) +
                               (gens ? genotype_file_bytes(nsnps, rows) : 0.0) + 10.0 * rows);
  std::string text;
  text.reserve(BlockWriter::flush_threshold);

  if (haps) {
    for (int j = 0; j < 2; ++j) {
      progress.next_file();
      BlockWriter out(names.haps[j], log, text);
      update_summary_file(params, log, std::ios::app);
      write_haplotype_rows(simulated_haplotypes, bounds[j], bounds[j + 1], all_indices, tile, out,
                           log, progress);
      out.close();
    }
    progress.next_file();
    BlockWriter out(names.legend, log, text);
    update_summary_file(params, log, std::ios::app);
    text += "rs pos X0 X1\n";
    for (const auto& entry : snps) {
      text += entry.second.rsid;
      text += ' ';
      append_int(text, entry.first);
      text += ' ';
      text += entry.second.allele0;
      text += ' ';
      text += entry.second.allele1;
      text += '\n';
      out.line_done();
    }
    out.close();
  }

  // One genotype file per group over the given SNPs (whole interval or tags).
  auto write_genotype_files = [&](const boost::filesystem::path* group_names,
                                  const std::vector<SnpIterator>& which,
                                  const std::vector<int>& indices) {
    for (int j = 0; j < 2; ++j) {
      progress.next_file();
      BlockWriter out(group_names[j], log, text);
      update_summary_file(params, log, std::ios::app);
      write_genotype_lines(*this, which, indices, bounds[j], bounds[j + 1], out, progress);
      out.close();
    }
  };

  if (gens) write_genotype_files(names.gen, all_snps, all_indices);

  if (tags) {
    const std::set<int> tag_positions = read_tag_positions(params.tag_snps_file);
    // Both lists are in ascending position order, so one merge pass finds
    // each tag's SNP and its index over the whole interval.
    std::vector<SnpIterator> tag_snps;
    std::vector<int> tag_indices;
    auto tag = tag_positions.begin();
    int k = 0;
    for (SnpIterator it = snps.begin(); it != snps.end() && tag != tag_positions.end(); ++it, ++k) {
      while (tag != tag_positions.end() && *tag < it->first) ++tag;
      if (tag != tag_positions.end() && *tag == it->first) {
        tag_snps.push_back(it);
        tag_indices.push_back(k);
        ++tag;
      }
    }
    progress.add_work(genotype_file_bytes(static_cast<double>(tag_snps.size()), rows));
    write_genotype_files(names.tags, tag_snps, tag_indices);
  }

  for (int j = 0; j < 2; ++j) {
    progress.next_file();
    BlockWriter out(names.sample[j], log, text);
    update_summary_file(params, log, std::ios::app);
    text += "ID_1 ID_2 missing pheno\n";
    text += "0 0 0 B\n";
    for (int i = bounds[j] / 2; i < bounds[j + 1] / 2; ++i) {
      text += "id1_";
      append_int(text, i);
      text += " id2_";
      append_int(text, i);
      text += " 0 ";
      append_int(text, j);
      text += '\n';
      assert(simulated_phenotypes[i] == j);
      out.line_done();
    }
    out.close();
  }
}
