#include "data/vcf_reader.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/thread_budget.hpp"
#include "io/hts.hpp"
#include "params/run_config.hpp"

namespace {

[[noreturn]] void bad(const std::string& file, const std::string& detail) {
  throw FileError::reading(file, detail);
}

// The records of the panel's contig in file order: the whole file, or
// through the index only those that overlap [lower, upper].
class RecordReader {
 public:
  RecordReader(const std::string& file_name, const Data& data, const RunConfig& config);
  ~RecordReader() { free(line.s); }
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  const bcf_hdr_t* header() const { return hdr.get(); }
  // What the run should be told about the index; empty when nothing.
  const std::string& index_note() const { return note; }
  // The next record of the contig, unpacked up to its alleles; false at the end.
  bool next(bcf1_t* record);

 private:
  void open_index(const Data& data);
  void choose_indexed_contig(const std::vector<std::string>& contigs);
  bool read_any(bcf1_t* record);
  int read_text(bcf1_t* record);
  [[noreturn]] void bad_record() const;
  bool of_contig(const bcf1_t* record);

 public:
  // Threads of htslib's own that decompress the file ahead of the reader;
  // none when they cannot be started.
  void decompress_on(int threads) { hts_set_threads(file.get(), threads); }

 private:
  const std::string name;
  Hts<htsFile> file;
  Hts<bcf_hdr_t> hdr;
  Hts<hts_idx_t> bcf_index;
  Hts<tbx_t> vcf_index;
  Hts<hts_itr_t> iterator;
  kstring_t line{0, 0, nullptr};
  bool is_bcf = false;
  bool nothing_to_read = false;
  std::string contig;          // the contig read; empty until known
  bool contig_chosen = false;  // named by -chr
  bool contig_seen = false;
  long records = 0;
  hts_pos_t last_position = -1;
  std::string note;
};

// The index files htslib would take for `name`, when present and older than
// it: an index built before the file last changed points at other records,
// and a search through it would read part of the panel, or garbage.
std::string stale_index(const std::string& name) {
  struct stat data, index;
  if (stat(name.c_str(), &data) != 0) return "";
  for (const char* suffix : {".tbi", ".csi"}) {
    const std::string candidate = name + suffix;
    if (stat(candidate.c_str(), &index) == 0 &&
        (index.st_mtim.tv_sec < data.st_mtim.tv_sec ||
         (index.st_mtim.tv_sec == data.st_mtim.tv_sec && index.st_mtim.tv_nsec < data.st_mtim.tv_nsec)))
      return candidate;
  }
  return "";
}

// Why a header could not be read: htslib says only that it failed. A header
// line too large for memory, and a sample named twice, are told apart here.
std::string header_failure(const std::string& name, int error) {
  if (error == ENOMEM) return "not enough memory to read its header.";
  try {
    Hts<htsFile> file(hts_open(name.c_str(), "r"));
    kstring_t line{0, 0, nullptr};
    std::string cause = "no valid VCF header found.";
    while (file && hts_getline(file.get(), KS_SEP_LINE, &line) >= 0 && line.l > 0 && line.s[0] == '#') {
      if (std::strncmp(line.s, "#CHROM", 6) != 0) continue;
      std::unordered_set<std::string> seen;
      const char* p = line.s;
      for (int column = 1; p != nullptr; ++column, p = std::strchr(p, '\t')) {
        if (column > 1) ++p;
        const char* end = std::strchr(p, '\t');
        std::string sample(p, end ? end : line.s + line.l);
        if (column > 9 && !seen.insert(sample).second) {
          cause = "sample " + sample + " is named twice in the header (the second time in column " +
                  std::to_string(column) + "); every sample needs its own name.";
          break;
        }
      }
      break;
    }
    free(line.s);
    return cause;
  } catch (const std::bad_alloc&) {
    return "not enough memory to read its header.";
  }
}

RecordReader::RecordReader(const std::string& file_name, const Data& data, const RunConfig& config)
    : name(file_name) {
  file.reset(hts_open(name.c_str(), "r"));
  if (!file) bad(name, "can't open file.");
  const htsFormat* format = hts_get_format(file.get());
  // Checked first: a BGZF file cut at a block boundary would read as
  // complete but short, and one cut in its first block shows no format.
  if (format->compression == bgzf && hts_check_EOF(file.get()) == 0)
    bad(name, "truncated BGZF data (the end-of-file block is missing).");
  if (format->category != variant_data || (format->format != vcf && format->format != bcf))
    bad(name, "not a VCF or BCF file.");
  is_bcf = format->format == bcf;
  errno = 0;
  hdr.reset(bcf_hdr_read(file.get()));
  if (!hdr) bad(name, header_failure(name, errno));
  if (config.chromosome_given) {
    contig = config.chromosome;
    contig_chosen = true;
  }
  if (config.interval_given && format->compression == bgzf) {
    const std::string stale = stale_index(name);
    if (stale.empty())
      open_index(data);
    else
      note = "Warning: the index " + stale + " is older than the file, so the whole file was read instead.\n";
  }
}

void RecordReader::open_index(const Data& data) {
  int n = 0;
  const char** names = nullptr;
  if (is_bcf) {
    bcf_index.reset(bcf_index_load3(name.c_str(), nullptr, HTS_IDX_SILENT_FAIL));
    if (bcf_index) names = bcf_index_seqnames(bcf_index.get(), hdr.get(), &n);
  } else {
    vcf_index.reset(tbx_index_load3(name.c_str(), nullptr, HTS_IDX_SILENT_FAIL));
    if (vcf_index) names = tbx_seqnames(vcf_index.get(), &n);
  }
  if (!bcf_index && !vcf_index) return;  // no index: the whole file is read
  const std::vector<std::string> contigs(names, names + n);
  free(names);
  choose_indexed_contig(contigs);
  if (nothing_to_read) return;
  // htslib's intervals are 0-based and half-open: positions lower to upper.
  const hts_pos_t begin = std::max<hts_pos_t>(data.lower, 1) - 1, end = data.upper;
  if (is_bcf)
    iterator.reset(bcf_itr_queryi(bcf_index.get(), bcf_hdr_name2id(hdr.get(), contig.c_str()), begin, end));
  else
    iterator.reset(tbx_itr_queryi(vcf_index.get(), tbx_name2id(vcf_index.get(), contig.c_str()), begin, end));
  if (!iterator) bad(name, "its index could not be searched for contig " + contig + ".");
}

std::string name_list(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  return list;
}

void RecordReader::choose_indexed_contig(const std::vector<std::string>& contigs) {
  if (contig_chosen) {
    if (std::find(contigs.begin(), contigs.end(), contig) == contigs.end())
      bad(name, "contig " + contig + " (-chr) is not in the file, which holds " +
                    (contigs.empty() ? "no records" : "contigs " + name_list(contigs)) + ".");
  } else if (contigs.size() > 1) {
    bad(name, "the file holds several contigs (" + name_list(contigs) + "); choose one with -chr.");
  } else if (contigs.empty()) {
    nothing_to_read = true;
  } else {
    contig = contigs[0];
  }
  contig_seen = true;
}

// A record that cannot be read. Through an index, the index is the likelier
// cause: one that no longer matches the file points into the middle of
// other records.
void RecordReader::bad_record() const {
  if (iterator)
    bad(name, "record " + std::to_string(records) + " read through the index of the file is not valid: the index "
                  "does not match the file. Rebuild it (bcftools index) or remove it.");
  bad(name, "bad or truncated data in record " + std::to_string(records) + ".");
}

// A text record, through the index or not. htslib takes as many columns as
// the header has samples and ignores the rest, so a stray column would shift
// every later sample: the columns are counted first.
int RecordReader::read_text(bcf1_t* record) {
  const int status = iterator ? tbx_itr_next(file.get(), vcf_index.get(), iterator.get(), &line)
                              : hts_getline(file.get(), KS_SEP_LINE, &line);
  if (status < 0) return status == -1 ? -1 : -2;
  const long columns = 1 + std::count(line.s, line.s + line.l, '\t');
  const long wanted = 9 + bcf_hdr_nsamples(hdr.get());
  if (columns != wanted && !iterator) {
    // CHROM:POS from the text, which is not parsed yet.
    std::string where(line.s, std::min<std::size_t>(line.l, 60));
    where = where.substr(0, where.find('\t', where.find('\t') + 1));
    if (where.find('\t') != std::string::npos) where[where.find('\t')] = ':';
    bad(name, "record " + std::to_string(records + 1) + " (" + where + ") has " + std::to_string(columns) +
                  " columns where the header's " + std::to_string(wanted - 9) + " samples need " +
                  std::to_string(wanted) + ".");
  }
  if (columns != wanted) return -2;
  return vcf_parse(&line, hdr.get(), record) == 0 ? 0 : -2;
}

bool RecordReader::read_any(bcf1_t* record) {
  if (nothing_to_read) return false;
  int status;
  if (!is_bcf)
    status = read_text(record);
  else if (!iterator)
    status = bcf_read(file.get(), hdr.get(), record);
  else
    status = bcf_itr_next(file.get(), iterator.get(), record);
  if (status == -1) return false;
  ++records;
  // htslib reads on past a field it cannot make sense of, marking the
  // record; only contigs and tags missing from the header are harmless.
  const int harmless = BCF_ERR_CTG_UNDEF | BCF_ERR_TAG_UNDEF;
  if (status < -1 || (record->errcode & ~harmless) != 0 || bcf_unpack(record, BCF_UN_STR) != 0) bad_record();
  // An index that matches its file gives the records in order.
  if (iterator && record->pos < last_position) bad_record();
  last_position = record->pos;
  return true;
}

bool RecordReader::of_contig(const bcf1_t* record) {
  const char* seq = bcf_seqname_safe(hdr.get(), record);
  if (contig.empty()) contig = seq;
  if (contig == seq) return contig_seen = true;
  if (contig_chosen) return false;
  bad(name, "the file holds several contigs (" + contig + ", " + seq + "); choose one with -chr.");
}

bool RecordReader::next(bcf1_t* record) {
  while (read_any(record))
    if (of_contig(record)) return true;
  if (contig_chosen && !contig_seen) bad(name, "contig " + contig + " (-chr) is not in the file.");
  return false;
}

// Two alleles of one base each: what the copying model can take as a SNP.
bool biallelic_snp(const bcf1_t* record) {
  if (record->n_allele != 2) return false;
  for (int a = 0; a < 2; ++a) {
    const char* allele = record->d.allele[a];
    if (!std::isalpha(static_cast<unsigned char>(allele[0])) || allele[1] != '\0') return false;
  }
  return true;
}

// The genotypes of one record as panel codes, two per sample.
class GenotypeCodes {
 public:
  GenotypeCodes(std::string file_name, const bcf_hdr_t* header)
      : name(std::move(file_name)), hdr(header), samples(bcf_hdr_nsamples(header)),
        codes(2 * static_cast<std::size_t>(samples)) {}
  ~GenotypeCodes() { free(values); }
  GenotypeCodes(const GenotypeCodes&) = delete;
  GenotypeCodes& operator=(const GenotypeCodes&) = delete;

  const int* read(bcf1_t* record);
  // The common case straight into a panel row: GT stored as one byte per
  // allele, two per sample, every one a phased pair of 0 and 1. Sets the
  // haplotypes' bits (zeroed beforehand) and counts the 1s; false, with
  // nothing checked, for any other layout or value, which read() handles.
  bool read_bits(bcf1_t* record, std::uint64_t* bits, long long& ones);

 private:
  [[noreturn]] void refuse(const bcf1_t* record, int sample, const std::string& what) const;

  const std::string name;
  const bcf_hdr_t* hdr;
  const int samples;
  std::vector<int> codes;
  std::int32_t* values = nullptr;  // htslib's buffer, reused for every record
  int capacity = 0;
  const int gt_id = bcf_hdr_id2int(hdr, BCF_DT_ID, "GT");
};

bool GenotypeCodes::read_bits(bcf1_t* record, std::uint64_t* bits, long long& ones) {
  if (gt_id < 0 || bcf_unpack(record, BCF_UN_FMT) != 0) return false;
  const bcf_fmt_t* gt = bcf_get_fmt_id(record, gt_id);
  if (gt == nullptr || gt->type != BCF_BT_INT8 || gt->n != 2 || record->n_sample != static_cast<std::uint32_t>(samples))
    return false;
  // A first allele is (a + 1) << 1, maybe with the phase bit; a second one
  // (a + 1) << 1 | 1. So for a in {0, 1}: the first in 2..5, the second 3
  // or 5, and the allele is bit 2 of either.
  const std::uint8_t* p = gt->p;
  unsigned odd = 0;
  long long count = 0;
  int s = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Four samples (eight bytes) at a time: every byte has nothing above bit
  // 2 and exactly one of bits 1 and 2, a second allele bit 0 too; the
  // alleles (bit 2 of each byte) are gathered into the byte's eight bits.
  constexpr std::uint64_t ones_of_bytes = 0x0101010101010101ull, seconds = 0x0100010001000100ull;
  std::uint64_t bad = 0;
  for (; s + 4 <= samples; s += 4, p += 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    const std::uint64_t b1 = x >> 1 & ones_of_bytes, b2 = x >> 2 & ones_of_bytes;
    bad |= (x & ~(ones_of_bytes * 7)) | ((b1 ^ b2) ^ ones_of_bytes) | ((x & seconds) ^ seconds);
    std::uint64_t v = b2 | b2 >> 7;
    v |= v >> 14;
    v |= v >> 28;
    const std::size_t h = 2 * static_cast<std::size_t>(s);
    bits[h >> 6] |= (v & 0xff) << (h & 63);
    count += __builtin_popcountll(v & 0xff);
  }
  odd = bad != 0;
#endif
  for (; s < samples; ++s, p += 2) {
    const unsigned first = p[0], second = p[1];
    odd |= (first - 2u > 3u) | (second != 3u && second != 5u);
    const std::uint64_t a = first >> 2 & 1u, b = second >> 2 & 1u;
    const std::size_t h = 2 * static_cast<std::size_t>(s);
    bits[h >> 6] |= (a | b << 1) << (h & 63);
    count += static_cast<long long>(a + b);
  }
  ones = count;
  return odd == 0;
}

void GenotypeCodes::refuse(const bcf1_t* record, int sample, const std::string& what) const {
  bad(name, what + " genotype at " + bcf_seqname_safe(hdr, record) + ":" +
                std::to_string(record->pos + 1) + " for sample " +
                bcf_hdr_int2id(hdr, BCF_DT_SAMPLE, sample) +
                "; the panel needs a phased pair of alleles (such as 0|1) for every sample.");
}

const int* GenotypeCodes::read(bcf1_t* record) {
  const int n = bcf_get_genotypes(hdr, record, &values, &capacity);
  if (n <= 0) refuse(record, 0, "missing (no GT field)");
  if (n != 2 * samples) {
    // htslib pads every sample to the record's largest ploidy: the first
    // sample with more than two alleles is the one to name.
    const int ploidy = n / samples;
    int s = 0;
    while (ploidy > 2 && s + 1 < samples && values[ploidy * s + 2] == bcf_int32_vector_end) ++s;
    refuse(record, s, ploidy > 2 ? "more than two alleles in the" : "haploid");
  }
  for (int s = 0; s < samples; ++s) {
    const std::int32_t first = values[2 * s], second = values[2 * s + 1];
    if (bcf_gt_is_missing(first)) refuse(record, s, "missing");
    if (second == bcf_int32_vector_end) refuse(record, s, "haploid");
    if (bcf_gt_is_missing(second)) refuse(record, s, "missing");
    if (!bcf_gt_is_phased(second)) refuse(record, s, "unphased");
    codes[2 * s] = bcf_gt_allele(first);
    codes[2 * s + 1] = bcf_gt_allele(second);
    if (codes[2 * s] > 1 || codes[2 * s + 1] > 1) refuse(record, s, "out-of-range allele in the");
  }
  return codes.data();
}

struct PanelCounts {
  long snps = 0;     // biallelic SNP records of the contig read
  long skipped = 0;  // records of the contig of other kinds
};

PanelCounts read_records(RecordReader& reader, Data& data, const std::string& name) {
  GenotypeCodes genotypes(name, reader.header());
  Hts<bcf1_t> record(bcf_init());
  std::vector<std::uint64_t> row((static_cast<std::size_t>(data.nhaplotypes) + 63) / 64);
  PanelCounts counts;
  while (reader.next(record.get())) {
    if (!biallelic_snp(record.get())) {
      ++counts.skipped;
      continue;
    }
    ++counts.snps;
    const hts_pos_t position = record->pos + 1;
    // htslib reads a POS it cannot parse as 0.
    if (position < 1)
      bad(name, "bad position " + std::to_string(position) + " of " + record->d.id + " (positions start at 1).");
    // As in the legend reader, the first SNP at a position of the interval
    // is kept; only the genotypes of kept SNPs are decoded and checked.
    if (position < data.lower || position > data.upper ||
        data.snps_data.count(static_cast<int>(position)) != 0)
      continue;
    std::fill(row.begin(), row.end(), 0);
    long long ones = 0;
    if (genotypes.read_bits(record.get(), row.data(), ones)) {
      data.add_panel_bits(static_cast<std::int32_t>(position), record->d.id, record->d.allele[0],
                          record->d.allele[1], data.map_position(static_cast<std::int32_t>(position)), row.data(),
                          ones);
      continue;
    }
    const int* codes = genotypes.read(record.get());
    data.add_panel_snp(static_cast<std::int32_t>(position), record->d.id, record->d.allele[0],
                       record->d.allele[1], data.map_position(static_cast<std::int32_t>(position)), codes);
  }
  return counts;
}

}  // namespace

void read_vcf_panel(Data& data, const RunConfig& config, RunLog& log, ThreadBudget* budget) {
  const std::string name = config.vcf_file.string();
  std::ostringstream text;
  text << "\nReading VCF file: ";
  text << "looking for SNPs in [" << data.lower << ", " << data.upper << "] ... ";
  log.report(text);

  QuietHtslib quiet;
  RecordReader reader(name, data, config);
  // BGZF blocks are decompressed on htslib's threads, leased for the read.
  ThreadBudget::Lease decompressing = budget != nullptr ? budget->take(3) : ThreadBudget::Lease();
  if (decompressing.count() > 0) reader.decompress_on(decompressing.count());
  const int samples = bcf_hdr_nsamples(reader.header());
  if (samples == 0) bad(name, "no samples: a panel needs the phased genotypes of at least one sample.");
  if (samples > INT_MAX / 2) bad(name, "too many samples (" + std::to_string(samples) + ").");
  data.start_panel(2 * samples);
  const PanelCounts counts = read_records(reader, data, name);
  data.finish_panel();
  log.report("done\n");
  if (!reader.index_note().empty()) log.report(reader.index_note());

  text << std::setw(60) << "number of haplotypes: " << data.nhaplotypes << "\n";
  text << std::setw(60) << "number of SNPs in total: " << counts.snps << "\n";
  text << std::setw(60) << "number of SNPs in interval: " << data.snps_data.size() << "\n";
  text << std::setw(60) << "records skipped (not biallelic SNPs): " << counts.skipped << "\n\n";
  if (data.snps_data.empty())
    bad(name, "No SNPs in the interval in VCF file (" + std::to_string(counts.skipped) +
                  " records that are not biallelic SNPs skipped)!");
  log.report(text);
}
