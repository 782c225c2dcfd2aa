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

#include "data/input_file.hpp"
#include "output/block_transpose.hpp"
#include "output/block_writer.hpp"
#include "params/errors.hpp"
#include "params/summary.hpp"
#include "sim/generator.hpp"

namespace {

using SnpIterator = std::map<int, snp>::const_iterator;

// SNPs per transposed block: 64 rows of a tile keep the transposition's
// write set at 64 cache lines, well inside the first-level cache.
constexpr int block_snps = 64;

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

// One haplotype file: a line per SNP, the group's rows as columns, each value
// followed by a blank.
void write_haplotype_rows(const std::vector<std::vector<short>>& haplotypes, int first, int end,
                          const std::vector<int>& snp_indices, std::vector<short>& tile,
                          BlockWriter& out, std::ostringstream& log) {
  const int n = end - first;
  const int nsnps = static_cast<int>(snp_indices.size());
  std::string& text = out.text();
  for (int b = 0; b < nsnps; b += block_snps) {
    const int width = std::min(block_snps, nsnps - b);
    const bool codes_only =
        transpose_block(haplotypes, first, end, snp_indices.data() + b, width, tile.data());
    for (int j = 0; j < width; ++j) {
      const short* values = tile.data() + static_cast<long>(j) * n;
      if (codes_only) {
        const std::size_t start = text.size();
        text.append(2 * static_cast<std::size_t>(n), ' ');
        char* line = &text[start];
        for (int c = 0; c < n; ++c) line[2 * c] = static_cast<char>('0' + values[c]);
      } else {
        // Values other than 0 and 1 are written as they are; negative ones
        // are reported, and the report reaches the console when the next
        // file is opened.
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
      }
      text += '\n';
      out.line_done();
    }
  }
}

// The genotype lines of the listed SNPs for rows [first, end), in list order.
void write_genotype_lines(const TarvikGenerator& generator, const std::vector<SnpIterator>& snp_its,
                          const std::vector<int>& snp_indices, int first, int end,
                          std::vector<short>& tile, BlockWriter& out) {
  const int n = end - first;
  const int individuals = n / 2;
  const int nsnps = static_cast<int>(snp_indices.size());
  std::string& text = out.text();
  for (int b = 0; b < nsnps; b += block_snps) {
    const int width = std::min(block_snps, nsnps - b);
    const bool codes_only = transpose_block(generator.simulated_haplotypes, first, end,
                                            snp_indices.data() + b, width, tile.data());
    for (int j = 0; j < width; ++j) {
      SnpIterator snp_it = snp_its[b + j];
      const int k = snp_indices[b + j];
      if (codes_only) {
        // Both codes are 0 or 1, so every sum has its text in the table.
        const short* values = tile.data() + static_cast<long>(j) * n;
        append_gen_header(text, k, snp_it);
        const std::size_t start = text.size();
        text.resize(start + genotype_text_size * individuals);
        char* line = &text[start];
        for (int i = 0; i < individuals; ++i)
          std::memcpy(line + genotype_text_size * i, genotype_text[values[2 * i] + values[2 * i + 1]],
                      genotype_text_size);
        text += '\n';
      } else {
        generator.output_snp_data_gen_format(snp_it, k, first, end, text);
      }
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

  const int largest_group = std::max(bounds[1] - bounds[0], bounds[2] - bounds[1]);
  std::vector<short> tile(static_cast<std::size_t>(block_snps) * largest_group);
  std::string text;
  text.reserve(BlockWriter::flush_threshold);

  if (!params.flag_given("-no_haps_output")) {
    for (int j = 0; j < 2; ++j) {
      BlockWriter out(names.haps[j], log, text);
      update_summary_file(params, log, std::ios::app);
      write_haplotype_rows(simulated_haplotypes, bounds[j], bounds[j + 1], all_indices, tile, out,
                           log);
      out.close();
    }
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

  if (!params.flag_given("-no_gens_output")) {
    for (int j = 0; j < 2; ++j) {
      BlockWriter out(names.gen[j], log, text);
      update_summary_file(params, log, std::ios::app);
      write_genotype_lines(*this, all_snps, all_indices, bounds[j], bounds[j + 1], tile, out);
      out.close();
    }
  }

  if (params.flag_given("-t")) {
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
    for (int j = 0; j < 2; ++j) {
      BlockWriter out(names.tags[j], log, text);
      update_summary_file(params, log, std::ios::app);
      write_genotype_lines(*this, tag_snps, tag_indices, bounds[j], bounds[j + 1], tile, out);
      out.close();
    }
  }

  for (int j = 0; j < 2; ++j) {
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
