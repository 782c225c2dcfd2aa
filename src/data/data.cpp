#include "data/data.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "data/input_file.hpp"
#include "params/errors.hpp"
#include "params/summary.hpp"
#include "params/system_errors.hpp"

namespace {

// A whole token holding an optionally signed decimal integer that fits in
// 32 bits.
bool parse_int32(const char* first, const char* last, std::int32_t& value) {
  bool negative = false;
  if (first < last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
  }
  if (first == last) return false;
  std::int64_t magnitude = 0;
  for (; first < last; ++first) {
    unsigned digit = static_cast<unsigned char>(*first) - '0';
    if (digit > 9) return false;
    magnitude = magnitude * 10 + digit;
    if (magnitude > std::int64_t(1) << 31) return false;
  }
  std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT32_MAX) return false;
  value = static_cast<std::int32_t>(signed_value);
  return true;
}

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

// One number of a map row, read the way stream extraction reads a double:
// leading blanks skipped, the longest number taken, the rest left for the
// next field. Only finite decimal numbers count.
bool parse_map_number(const char*& p, double& value) {
  while (is_space(*p)) ++p;
  const char* digits = p;
  if (*digits == '+' || *digits == '-') ++digits;
  if (!((*digits >= '0' && *digits <= '9') || *digits == '.')) return false;
  char* after = nullptr;
  double v = std::strtod(p, &after);
  if (after == p) return false;
  for (const char* q = p; q < after; ++q)
    if (*q == 'x' || *q == 'X') return false;
  if (!std::isfinite(v)) return false;
  value = v;
  p = after;
  return true;
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

constexpr double max_map_value = std::numeric_limits<double>::max() / 2;

}  // namespace

void Data::read_genetic_map() {
  std::ostringstream log;
  log << "Reading genetic map file ... ";
  update_summary_file(*this, log, std::ios::app);

  InputFile map_file(genetic_map_file, threads > 1);
  if (!map_file.is_open())
    throw badfilename::reading(genetic_map_file, with_system_cause("can't open file", map_file.open_error()));

  std::string line;
  map_file.getline(line);  // header
  int rows = 0;
  double previous_cm = 0;
  while (map_file.getline(line)) {
    ++rows;
    const int line_number = rows + 1;
    const char* p = line.c_str();
    double position, rate, cm;
    if (!parse_map_number(p, position) || !parse_map_number(p, rate) || !parse_map_number(p, cm))
      throw badfilename::reading(genetic_map_file,
                                 "bad line in rates file on line " + std::to_string(line_number));
    // The panel reader interpolates by bisection, which needs ascending rows.
    if (!map_positions.empty() && position < map_positions.back())
      throw badfilename::reading(genetic_map_file,
                                 "positions decrease on line " + std::to_string(line_number) + ".");
    // A map distance that shrinks would give a negative recombination
    // probability between the SNPs around this row.
    if (!map_positions.empty() && cm < previous_cm)
      throw badfilename::reading(genetic_map_file,
                                 "cumulative cM decreases on line " + std::to_string(line_number) + ".");
    previous_cm = cm;
    // Interpolation subtracts positions and map values from each other;
    // keeping both within half the double range keeps every difference, and
    // so every SNP's map position, finite.
    const double rho = (4.0 * Ne) * cm / 100.0;
    if (!(std::abs(position) <= max_map_value) || !(std::abs(rho) <= max_map_value))
      throw badfilename::reading(genetic_map_file,
                                 "bad line in rates file on line " + std::to_string(line_number) +
                                     ": the position or the scaled map distance (4 Ne cM / 100) "
                                     "is out of range.");
    map_positions.push_back(position);
    map_cumulative_rho.push_back(rho);
  }
  if (rows == 0) throw badfilename::reading(genetic_map_file, "no map rows found.");

  log << "done\n";
  update_summary_file(*this, log, std::ios::app);
  log << std::setw(60) << "number of rates read: " << rows << "\n\n";
  update_summary_file(*this, log, std::ios::app);
}

void Data::read_map_and_panel(const std::function<void()>& read_panel) {
  if (threads <= 1) {
    read_genetic_map();
    read_panel();
    return;
  }
  HeldReport map_report(*this), panel_report(*this);
  std::exception_ptr map_error, panel_error;
  map_read_alongside = true;
  std::thread map_reader;
  try {
    map_reader = std::thread([&] {
      try {
        map_report.hold([this] { read_genetic_map(); });
      } catch (...) {
        map_error = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    map_read_alongside = false;  // no thread to spare: one after the other
    read_genetic_map();
    read_panel();
    return;
  }
  try {
    panel_report.hold(read_panel);
  } catch (...) {
    panel_error = std::current_exception();
  }
  map_reader.join();
  map_read_alongside = false;
  map_report.release();
  if (map_error) std::rethrow_exception(map_error);
  panel_report.release();
  if (panel_error) std::rethrow_exception(panel_error);
  for (auto& entry : snps_data) entry.second.cumulative_rho = interpolate_map(static_cast<double>(entry.first));
}

double Data::interpolate_map(double x) const {
  assert(!map_positions.empty() && map_positions.size() == map_cumulative_rho.size());
  const std::vector<double>& P = map_positions;
  const std::vector<double>& R = map_cumulative_rho;
  if (x < P[0]) return R[0];
  auto above = std::upper_bound(P.begin() + 1, P.end(), x);
  if (above == P.end()) return R.back();
  const std::size_t i = static_cast<std::size_t>(above - P.begin());
  const std::size_t j = i - 1;
  return ((x - P[j]) / (P[i] - P[j])) * (R[i] - R[j]) + R[j];
}

void Data::take_haplotype_count(int count, int line) {
  const std::string hap_name = haplotype_file.string();
  if (nhaplotypes == -1) {
    // A panel without haplotypes gives nothing to copy from.
    if (count == 0)
      throw badfilename::reading(hap_name, "no haplotypes found in haplotype file on line " +
                                               std::to_string(line) + ".");
    start_panel(count);
  } else if (count != nhaplotypes) {
    throw badfilename::reading(hap_name, "different number of haplotypes found in haplotype file (" +
                                             std::to_string(nhaplotypes) + " and " + std::to_string(count) +
                                             " on line " + std::to_string(line) + ".");
  }
}

void Data::read_haplotype_data() {
  const std::string hap_name = haplotype_file.string();
  std::ostringstream log;
  log << "\nReading haplotype and legend files: ";
  log << "looking for SNPs in [" << lower << ", " << upper << "] ... ";
  update_summary_file(*this, log, std::ios::app);

  nhaplotypes = -1;
  InputFile haps(hap_name, threads > 1);
  if (!haps.is_open())
    throw badfilename::reading(hap_name, with_system_cause("can't open haplotype file", haps.open_error()));
  InputFile legend(legend_file, threads > 1);
  if (!legend.is_open())
    throw badfilename::reading(legend_file, with_system_cause("can't open legend file", legend.open_error()));

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
      throw badfilename::reading(legend_file, "bad format detected in legend file on line " +
                                                  std::to_string(counter + 1) + ".");
    const std::int32_t position = entry.position;

    // Every line is parsed and counted, but only the first SNP at each
    // position of the interval keeps its codes.
    const bool keep = position >= lower && position <= upper && snps_data.count(position) == 0;

    const int count = parse_haplotype_line(hap_line, codes);
    if (count < 0)
      throw badfilename::reading(hap_name, "bad format detected in haplotype file on line " +
                                               std::to_string(counter) + ".");

    take_haplotype_count(count, counter);
    if (keep)
      add_panel_snp(position, std::move(entry.rsid), std::move(entry.allele0), std::move(entry.allele1),
                    map_position(position), codes.data());
  }

  finish_panel();
  report_panel(counter, legend.eof() && !haps.eof(), haps.eof() && !legend.eof());
}

void Data::report_panel(int lines, bool more_haplotype_lines, bool more_legend_lines) {
  const std::string hap_name = haplotype_file.string();
  std::ostringstream log;
  log << "done\n";
  update_summary_file(*this, log, std::ios::app);

  log << std::setw(60) << "number of haplotypes: " << nhaplotypes << "\n";
  log << std::setw(60) << "number of SNPs in total: " << lines << "\n";
  log << std::setw(60) << "number of SNPs in interval: " << snps_data.size() << "\n\n";

  if (more_haplotype_lines)
    console_note("Warning: haplotype file contained more lines than legend file, only those SNPs "
                 "with a line in the legend file were read.\n");
  else if (more_legend_lines)
    console_note("Warning: legend file contained more lines than haplotype file, only those SNPs "
                 "with a line in the haplotype file were read.\n");

  if (snps_data.empty())
    throw badfilename::reading(hap_name, "No SNPs in the interval in haplotype file!");
  update_summary_file(*this, log, std::ios::app);
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
