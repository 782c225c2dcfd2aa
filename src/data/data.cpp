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

// The closing lines of the reader: counts, warnings about unequal files, and
// the error of an empty interval. `lines` SNPs were read.
void report_panel(const Data& data, const std::string& hap_name, int lines, bool more_haplotype_lines,
                  bool more_legend_lines, RunLog& log) {
  std::ostringstream text;
  log.report("done\n");
  text << std::setw(60) << "number of haplotypes: " << data.nhaplotypes << "\n";
  text << std::setw(60) << "number of SNPs in total: " << lines << "\n";
  text << std::setw(60) << "number of SNPs in interval: " << data.snps_data.size() << "\n\n";

  if (more_haplotype_lines)
    log.note("Warning: haplotype file contained more lines than legend file, only those SNPs "
             "with a line in the legend file were read.\n");
  else if (more_legend_lines)
    log.note("Warning: legend file contained more lines than haplotype file, only those SNPs "
             "with a line in the haplotype file were read.\n");

  if (data.snps_data.empty()) throw FileError::reading(hap_name, "No SNPs in the interval in haplotype file!");
  log.report(text);
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
  std::vector<int> codes;
  legend.getline(legend_line);  // header

  int counter = 0;
  for (;;) {
    const bool got_hap = haps.getline(hap_line);
    const bool got_legend = legend.getline(legend_line);
    if (!got_hap || !got_legend) break;
    ++counter;

    LegendEntry entry;
    if (!parse_legend_line(legend_line, entry))
      throw FileError::reading(legend_name, "bad format detected in legend file on line " +
                                                std::to_string(counter + 1) + ".");
    const std::int32_t position = entry.position;

    // Every line is parsed and counted, but only the first SNP at each
    // position of the interval keeps its codes.
    const bool keep = position >= data.lower && position <= data.upper && data.snps_data.count(position) == 0;

    const int count = parse_haplotype_line(hap_line, codes);
    if (count < 0)
      throw FileError::reading(hap_name, "bad format detected in haplotype file on line " +
                                             std::to_string(counter) + ".");

    take_haplotype_count(data, hap_name, count, counter);
    if (keep)
      data.add_panel_snp(position, std::move(entry.rsid), std::move(entry.allele0), std::move(entry.allele1),
                         data.map_position(position), codes.data());
  }

  data.finish_panel();
  report_panel(data, hap_name, counter, legend.eof() && !haps.eof(), haps.eof() && !legend.eof(), log);
}

namespace {

void read_panel(Data& data, const RunConfig& config, RunLog& log, ThreadBudget& budget) {
  if (config.vcf_panel)
    read_vcf_panel(data, config, log, &budget);
  else
    read_haplotype_data(data, config.haplotype_file.string(), config.legend_file, log, &budget);
}

}  // namespace

Data read_reference(const RunConfig& config, RunLog& log, ThreadBudget& budget) {
  Data data;
  data.lower = config.lower;
  data.upper = config.upper;
  // The map is read beside the panel only with a thread to spare besides the
  // one that decompresses a gzip panel, the longer of the two reads.
  ThreadBudget::Lease beside = budget.take(1, 1);
  if (beside.count() == 0) {
    data.map = read_genetic_map(config.genetic_map_file, config.Ne, log, &budget);
    read_panel(data, config, log, budget);
    return data;
  }
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
  data.place_snps();
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
  snp record;
  record.rsid = std::move(rsid);
  record.cumulative_rho = cumulative_rho;
  record.allele0 = std::move(allele0);
  record.allele1 = std::move(allele1);
  record.frequency = static_cast<double>(sum) / nhaplotypes;
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
  snp record;
  record.rsid = std::move(rsid);
  record.cumulative_rho = cumulative_rho;
  record.allele0 = std::move(allele0);
  record.allele1 = std::move(allele1);
  record.frequency = static_cast<double>(ones) / nhaplotypes;
  snps_data.emplace_hint(slot, position, std::move(record));
  arrival.push_back(position);
}
