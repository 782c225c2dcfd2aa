#include "data/data.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <exception>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/numbers.hpp"
#include "core/ordered.hpp"
#include "core/system_errors.hpp"
#include "data/haplotype_line.hpp"
#include "data/tag_positions.hpp"
#include "data/vcf_reader.hpp"
#include "io/input_file.hpp"
#include "params/run_config.hpp"

namespace {

// An allele code token: an integer whose value is 0 or 1 ("0", "1", and
// spellings such as "+1" or "00" that stream extraction would read the same).
bool parse_code(const char* first, const char* last, int& code) {
  bool negative = false;
  if (first < last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
  }
  if (first == last) return false;
  for (const char* q = first; q < last; ++q)
    if (static_cast<unsigned>(static_cast<unsigned char>(*q) - '0') > 9) return false;
  while (first < last && *first == '0') ++first;
  if (first == last) {
    code = 0;
    return true;
  }
  if (last - first == 1 && *first == '1' && !negative) {
    code = 1;
    return true;
  }
  return false;
}

// Reads the allele codes of one haplotype-file line into `codes` (grown to
// hold the most codes a line of this length can have; never shrunk, so that
// one buffer serves the whole file). Returns the number of codes, or -1 when
// a token is not a valid code. This loop runs once per code of the whole
// panel, so the usual layout of single codes between single blanks takes a
// short path.
int parse_haplotype_line(const std::string& line, std::vector<int>& codes) {
  const std::size_t most = line.size() / 2 + 1;
  if (codes.size() < most) codes.resize(most);
  int* const out = codes.data();
  const char* p = line.data();
  const char* const end = p + line.size();
  int n = 0;
  for (;;) {
    while (end - p >= 2 && static_cast<unsigned>(p[0] - '0') <= 1 && p[1] == ' ') {
      const int code = p[0] - '0';
      out[n++] = code;
      p += 2;
    }
    if (p < end && is_space(*p)) {
      while (p < end && is_space(*p)) ++p;
      continue;
    }
    if (p == end) break;
    const char* first = p;
    ++p;
    while (p < end && !is_space(*p)) ++p;
    int code;
    const unsigned digit = static_cast<unsigned char>(*first) - '0';
    if (p - first == 1 && digit <= 1) {
      code = static_cast<int>(digit);
    } else if (!parse_code(first, p, code)) {
      return -1;
    }
    out[n++] = code;
  }
  return n;
}

// The fields of a legend line: "rsid position allele0 allele1".
struct LegendEntry {
  std::string rsid, allele0, allele1;
  std::int32_t position = 0;
};

bool parse_legend_line(const std::string& line, LegendEntry& entry) {
  const char* p = line.data();
  const char* const end = p + line.size();
  const char *first[4], *last[4];
  for (int k = 0; k < 4; ++k)
    if (!next_token(p, end, first[k], last[k])) return false;
  if (!parse_int32(first[1], last[1], entry.position)) return false;
  entry.rsid.assign(first[0], last[0]);
  entry.allele0.assign(first[2], last[2]);
  entry.allele1.assign(first[3], last[3]);
  return true;
}

// The haplotype count of a line of the haplotype file: the first starts the
// panel, every other must equal it.
void take_haplotype_count(Data& data, const std::string& hap_name, int count, int line) {
  if (data.nhaplotypes == -1) {
    // A panel without haplotypes gives nothing to copy from.
    if (count == 0)
      throw FileError::reading(hap_name, "no haplotypes found in haplotype file on line " +
                                              std::to_string(line) + ".");
    data.start_panel(count);
  } else if (count != data.nhaplotypes) {
    throw FileError::reading(hap_name, "different number of haplotypes found in haplotype file (" +
                                            std::to_string(data.nhaplotypes) + " and " + std::to_string(count) +
                                            " on line " + std::to_string(line) + ".");
  }
}

// The haplotype and legend files describe the same SNPs line by line: when
// one runs out first, every SNP after the gap would take its neighbour's
// alleles, so unequal lengths stop the run. The rest of the longer file is
// counted so that the message gives both lengths.
void check_equal_lengths(InputFile& haps, InputFile& legend, const std::string& hap_name,
                         const std::string& legend_name, long hap_lines, long legend_lines) {
  std::string line;
  while (haps.getline(line)) ++hap_lines;
  while (legend.getline(line)) ++legend_lines;
  if (hap_lines == legend_lines) return;
  const std::string legend_count = std::to_string(legend_lines) + " SNP lines (besides its header line)";
  const std::string hap_count = std::to_string(hap_lines) + " lines";
  const std::string needs = ": the two files need one line per SNP each, in the same order.";
  if (legend_lines < hap_lines)
    throw FileError::reading(legend_name, "the legend file has " + legend_count + " and the haplotype file " +
                                              hap_name + " has " + hap_count + needs);
  throw FileError::reading(hap_name, "the haplotype file has " + hap_count + " and the legend file " +
                                         legend_name + " has " + legend_count + needs);
}

// The closing lines of the reader: counts, and the error of an empty interval.
void report_panel(const Data& data, const std::string& hap_name, int lines, RunLog& log) {
  std::ostringstream text;
  log.report("done\n");
  text << std::setw(60) << "number of haplotypes: " << data.nhaplotypes << "\n";
  text << std::setw(60) << "number of SNPs in total: " << lines << "\n";
  text << std::setw(60) << "number of SNPs in interval: " << data.snps_data.size() << "\n\n";
  if (data.snps_data.empty()) throw FileError::reading(hap_name, "No SNPs in the interval in haplotype file!");
  log.report(text);
}

// A legend starts with a header line; a first line that reads as a SNP means
// the header is missing, and every SNP would be read one line off.
void check_legend_header(const std::string& legend_name, const std::string& header) {
  LegendEntry entry;
  if (parse_legend_line(header, entry))
    throw FileError::reading(legend_name, "line 1 reads as a SNP (" + entry.rsid + " at " +
                                              std::to_string(entry.position) +
                                              "), not as a header: a legend file starts with a header line "
                                              "such as \"rsid position a0 a1\".");
}

// A line is unpacked into `codes` only when it is not in the plain 0/1 form
// that packs straight into `row`; both are reused from line to line.
struct HaplotypeLineBuffers {
  std::vector<int> codes;
  std::vector<std::uint64_t> row;
};

// One SNP: line `counter` of the haplotype file and the legend line after
// the header that describes it.
void read_snp_lines(Data& data, const std::string& hap_name, const std::string& legend_name,
                    const std::string& hap_line, const std::string& legend_line, int counter,
                    HaplotypeLineBuffers& buffers) {
  LegendEntry entry;
  if (!parse_legend_line(legend_line, entry))
    throw FileError::reading(legend_name, "bad format detected in legend file on line " +
                                              std::to_string(counter + 1) + ".");
  const std::int32_t position = entry.position;

  // Every line is parsed and counted, but only the first SNP at each
  // position of the interval keeps its codes.
  const bool keep = position >= data.lower && position <= data.upper && data.snps_data.count(position) == 0;

  long long ones = 0;
  const int packed = pack_haplotype_line(hap_line, buffers.row, ones);
  if (packed >= 0) {
    take_haplotype_count(data, hap_name, packed, counter);
    if (keep)
      data.add_panel_bits(position, std::move(entry.rsid), std::move(entry.allele0), std::move(entry.allele1),
                          data.map_position(position), buffers.row.data(), ones);
    return;
  }
  const int count = parse_haplotype_line(hap_line, buffers.codes);
  if (count < 0)
    throw FileError::reading(hap_name, "bad format detected in haplotype file on line " +
                                           std::to_string(counter) + ".");

  take_haplotype_count(data, hap_name, count, counter);
  if (keep)
    data.add_panel_snp(position, std::move(entry.rsid), std::move(entry.allele0), std::move(entry.allele1),
                       data.map_position(position), buffers.codes.data());
}

}  // namespace

void read_haplotype_data(Data& data, const std::string& hap_name, const std::string& legend_name, RunLog& log,
                         ThreadBudget* budget) {
  std::ostringstream text;
  text << "\nReading haplotype and legend files: ";
  text << "looking for SNPs in [" << data.lower << ", " << data.upper << "] ... ";
  log.report(text);

  data.nhaplotypes = -1;
  InputFile haps(hap_name, budget);
  if (!haps.is_open())
    throw FileError::reading(hap_name, with_system_cause("can't open haplotype file", haps.open_error()));
  InputFile legend(legend_name, budget);
  if (!legend.is_open())
    throw FileError::reading(legend_name, with_system_cause("can't open legend file", legend.open_error()));

  std::string hap_line, legend_line;
  HaplotypeLineBuffers buffers;
  if (legend.getline(legend_line)) check_legend_header(legend_name, legend_line);

  int counter = 0;
  bool got_hap = true, got_legend = true;
  for (;;) {
    got_hap = haps.getline(hap_line);
    got_legend = legend.getline(legend_line);
    if (!got_hap || !got_legend) break;
    ++counter;
    read_snp_lines(data, hap_name, legend_name, hap_line, legend_line, counter, buffers);
  }

  check_equal_lengths(haps, legend, hap_name, legend_name, counter + got_hap, counter + got_legend);
  data.finish_panel();
  report_panel(data, hap_name, counter, log);
}

namespace {

void read_panel(Data& data, const RunConfig& config, RunLog& log, ThreadBudget& budget) {
  if (config.vcf_panel)
    read_vcf_panel(data, config, log, &budget);
  else
    read_haplotype_data(data, config.haplotype_file.string(), config.legend_file, log, &budget);
}

}  // namespace

namespace {

// SNPs beyond the map's rows take its end values: no recombination happens
// between them, which the user should know of.
void warn_snps_beyond_map(const Data& data, const std::string& map_name, RunLog& log) {
  const std::vector<double>& rows = data.map.position;
  std::size_t before = 0, after = 0;
  for (const auto& entry : data.snps_data) {
    before += entry.first < rows.front();
    after += entry.first > rows.back();
  }
  if (before + after == 0) return;
  std::ostringstream text;
  text << std::setprecision(15) << "Warning: " << before << " SNPs of the interval lie before the first row ("
       << rows.front() << ") and " << after << " after the last row (" << rows.back() << ") of the map "
       << map_name << "; they take the map's end values, so no recombination happens between them.\n\n";
  log.report(text);
}

// How many tag positions name SNPs of the panel in the interval: the others
// are left out of the tag files.
void report_tag_positions(const Data& data, const std::string& tag_name, RunLog& log) {
  std::size_t found = 0;
  for (int position : data.tag_positions) found += data.snps_data.count(position);
  std::ostringstream text;
  text << "Tag SNPs: " << data.tag_positions.size() << " positions read from " << tag_name << "; " << found
       << " found among the panel's SNPs in the interval, " << data.tag_positions.size() - found
       << " not found (left out of the tag files).\n\n";
  log.report(text);
}

// VCF sample names of a pedigree run are FID_IID, which PLINK splits at
// their one underscore.
void check_vcf_names(const Pedigree& pedigree, const std::string& file) {
  for (const PedigreeMember& m : pedigree.members)
    if (m.family.find('_') != std::string::npos || m.id.find('_') != std::string::npos)
      throw FileError::reading(file, "line " + std::to_string(m.line) + ": " + m.family + " " + m.id +
                                         " contains \"_\", which VCF sample names (FID_IID) keep for themselves: "
                                         "rename it, or leave out -output_vcf and -output_bcf.");
}

}  // namespace

namespace {

// Read before the panel and the map, so that a bad tag or pedigree file
// stops the run before the long work.
void read_side_files(Data& data, const RunConfig& config) {
  if (config.tag_snps) data.tag_positions = read_tag_positions(config.tag_snps_file.string());
  if (config.pedigree) {
    data.pedigree = read_pedigree(config.pedigree_file.string());
    if (config.output_vcf || config.output_bcf) check_vcf_names(data.pedigree, config.pedigree_file.string());
  }
}

// The map on a thread of its own while this one reads the panel. Each read
// reports into a log of its own, replayed map first, and the map's failure
// wins: the summary and the message are those of the map read first.
void read_map_beside_panel(Data& data, const RunConfig& config, RunLog& log, ThreadBudget& budget,
                           ThreadBudget::Lease beside) {
  RunLog map_log = RunLog::kept(), panel_log = RunLog::kept();
  Ordered<GeneticMap> map(
      std::move(beside), 1,
      [&](std::size_t, GeneticMap& slot, int) {
        slot = read_genetic_map(config.genetic_map_file, config.Ne, map_log);
        return true;
      },
      Ordered<GeneticMap>::Order::one_at_a_time, 1);
  std::exception_ptr panel_error, map_error;
  try {
    read_panel(data, config, panel_log, budget);
  } catch (...) {
    panel_error = std::current_exception();
  }
  GeneticMap* read = nullptr;
  try {
    read = map.take(0);
  } catch (...) {
    map_error = std::current_exception();
  }
  map_log.replay(log);
  if (map_error) std::rethrow_exception(map_error);
  panel_log.replay(log);
  if (panel_error) std::rethrow_exception(panel_error);
  data.map = std::move(*read);
  // The panel was read without the map: its SNPs are placed now.
  data.place_snps();
}

}  // namespace

Data read_reference(const RunConfig& config, RunLog& log, ThreadBudget& budget) {
  Data data;
  data.lower = config.lower;
  data.upper = config.upper;
  read_side_files(data, config);
  // The map is read beside the panel only with a thread to spare besides the
  // one that decompresses a gzip panel, the longer of the two reads.
  ThreadBudget::Lease beside = budget.take(1, 1);
  if (beside.count() == 0) {
    data.map = read_genetic_map(config.genetic_map_file, config.Ne, log, &budget);
    read_panel(data, config, log, budget);
  } else {
    read_map_beside_panel(data, config, log, budget, std::move(beside));
  }
  warn_snps_beyond_map(data, config.genetic_map_file, log);
  if (config.tag_snps) report_tag_positions(data, config.tag_snps_file.string(), log);
  return data;
}

void Data::place_snps() {
  for (auto& entry : snps_data) entry.second.cumulative_rho = map.rho_at(static_cast<double>(entry.first));
}

void Data::start_panel(int haplotypes) {
  nhaplotypes = haplotypes;
  panel = BitMatrix(static_cast<std::size_t>(haplotypes));
  snps_data.clear();
  arrival.clear();
}

void Data::add_panel_snp(std::int32_t position, std::string rsid, std::string allele0,
                         std::string allele1, double cumulative_rho, const int* codes) {
  if (position < lower || position > upper) return;
  auto slot = snps_data.lower_bound(position);
  if (slot != snps_data.end() && slot->first == position) return;
  std::uint64_t* bits = panel.add_row();
  long long sum = 0;
  for (int c = 0; c < nhaplotypes; ++c) {
    sum += codes[c];
    bits[c >> 6] |= static_cast<std::uint64_t>(codes[c] & 1) << (c & 63);
  }
  keep_snp(slot, position, std::move(rsid), std::move(allele0), std::move(allele1), cumulative_rho, sum);
}

void Data::keep_snp(std::map<int, snp>::iterator slot, std::int32_t position, std::string rsid,
                    std::string allele0, std::string allele1, double cumulative_rho, long long ones) {
  snp record;
  record.rsid = std::move(rsid);
  record.cumulative_rho = cumulative_rho;
  record.allele0 = std::move(allele0);
  record.allele1 = std::move(allele1);
  record.frequency = static_cast<double>(ones) / nhaplotypes;
  snps_data.emplace_hint(slot, position, std::move(record));
  arrival.push_back(position);
}

void Data::finish_panel() {
  // Rows arrive in file order; the model reads them in position order.
  if (!std::is_sorted(arrival.begin(), arrival.end())) {
    std::vector<std::size_t> order(arrival.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return arrival[a] < arrival[b]; });
    panel.reorder(order);
  }
  arrival.clear();
  arrival.shrink_to_fit();
}

void Data::add_panel_bits(std::int32_t position, std::string rsid, std::string allele0, std::string allele1,
                          double cumulative_rho, const std::uint64_t* bits, long long ones) {
  if (position < lower || position > upper) return;
  auto slot = snps_data.lower_bound(position);
  if (slot != snps_data.end() && slot->first == position) return;
  std::uint64_t* row = panel.add_row();
  for (std::size_t w = 0; w < panel.words_per_row(); ++w) row[w] = bits[w];
  keep_snp(slot, position, std::move(rsid), std::move(allele0), std::move(allele1), cumulative_rho, ones);
}
