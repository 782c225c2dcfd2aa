#include "data/vcf_reader.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cerrno>
#include <exception>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/ordered.hpp"
#include "core/thread_budget.hpp"
#include "data/vcf_genotypes.hpp"
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
  bool index_reaches_the_end(const std::vector<std::string>& contigs) const;
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
  if (!index_reaches_the_end(contigs)) {
    bcf_index.reset();
    vcf_index.reset();
    note = "Warning: the index of " + name + " ends before the file's last records (it was built before they "
           "were added), so the whole file was read instead.\n";
    return;
  }
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

// An index built before records were added ends where its file then ended,
// however recent its time: the file has data beyond the last record that
// any of its contigs points to.
bool RecordReader::index_reaches_the_end(const std::vector<std::string>& contigs) const {
  std::uint64_t last = 0;
  for (const std::string& c : contigs) {
    Hts<hts_itr_t> all(is_bcf ? bcf_itr_queryi(bcf_index.get(), bcf_hdr_name2id(hdr.get(), c.c_str()), 0, HTS_POS_MAX)
                              : tbx_itr_queryi(vcf_index.get(), tbx_name2id(vcf_index.get(), c.c_str()), 0,
                                               HTS_POS_MAX));
    if (!all) return false;
    for (int k = 0; k < all->n_off; ++k) last = std::max<std::uint64_t>(last, all->off[k].v);
  }
  BGZF* data = bgzf_open(name.c_str(), "r");
  if (data == nullptr) return false;
  // An offset that does not fit the file at all is an index of another
  // file, which reading through it tells.
  char byte;
  const bool more = bgzf_seek(data, static_cast<std::int64_t>(last), SEEK_SET) == 0 && bgzf_read(data, &byte, 1) > 0;
  bgzf_close(data);
  return !more;
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

struct PanelCounts {
  long snps = 0;     // biallelic SNP records of the contig read
  long skipped = 0;  // records of the contig of other kinds
};

// A SNP of the interval, its row packed, read ahead of the panel it may join.
struct ReadSnp {
  std::int32_t position = 0;
  std::string rsid, allele0, allele1;
  long long ones = 0;
  // Why its genotypes cannot be taken; thrown only if the SNP is kept, as a
  // later SNP at a position already taken is skipped unchecked.
  std::exception_ptr refusal;
};

// The records of one block, in file order.
struct RecordBlock {
  std::vector<ReadSnp> snps;
  std::vector<std::uint64_t> rows;  // row k of snps[k] at k * words
  PanelCounts counts;
  std::exception_ptr error;  // the read stopped here, after `snps`
};

// Reads the file block by block, each of as many records as 1 MiB of rows
// holds (at most 1,024): fixed by the panel's width, so that the blocks never
// depend on who reads them or when.
class BlockReader {
 public:
  BlockReader(RecordReader& records, const Data& data, const std::string& file_name)
      : reader(records), name(file_name), genotypes(file_name, records.header()), lower(data.lower),
        upper(data.upper), words((static_cast<std::size_t>(data.nhaplotypes) + 63) / 64),
        per_block(std::max<std::size_t>(1, std::min<std::size_t>(1024, (std::size_t{1} << 17) / words))) {}

  // Fills `block` with the next block; false once the records have ended.
  bool read(RecordBlock& block);
  std::size_t row_words() const { return words; }

 private:
  void take(RecordBlock& block);

  RecordReader& reader;
  const std::string name;
  GenotypeRows genotypes;
  Hts<bcf1_t> record{bcf_init()};
  const std::int32_t lower, upper;
  const std::size_t words, per_block;
  bool ended = false;
};

bool BlockReader::read(RecordBlock& block) {
  if (ended) return false;
  block.snps.clear();
  block.counts = PanelCounts();
  block.error = nullptr;
  block.rows.resize(per_block * words);
  try {
    for (std::size_t k = 0; k < per_block; ++k) {
      if (!reader.next(record.get())) {
        ended = true;
        break;
      }
      take(block);
    }
  } catch (...) {
    block.error = std::current_exception();
    ended = true;
  }
  return true;
}

// The record just read: counted, and packed when it is a SNP of the interval.
void BlockReader::take(RecordBlock& block) {
  if (!biallelic_snp(record.get())) {
    ++block.counts.skipped;
    return;
  }
  ++block.counts.snps;
  const hts_pos_t position = record->pos + 1;
  // htslib reads a POS it cannot parse as 0.
  if (position < 1)
    bad(name, "bad position " + std::to_string(position) + " of " + record->d.id + " (positions start at 1).");
  if (position < lower || position > upper) return;
  block.snps.emplace_back();
  ReadSnp& snp = block.snps.back();
  snp.position = static_cast<std::int32_t>(position);
  snp.rsid = record->d.id;
  snp.allele0 = record->d.allele[0];
  snp.allele1 = record->d.allele[1];
  std::uint64_t* row = block.rows.data() + (block.snps.size() - 1) * words;
  std::fill(row, row + words, 0);
  try {
    snp.ones = genotypes.pack(record.get(), row);
  } catch (const FileError&) {
    snp.refusal = std::current_exception();
  }
}

// As in the legend reader, the first SNP at each position of the interval is
// kept, and only a kept SNP's genotypes must be sound. The blocks are read
// on a thread of `lease` while the panel takes the ones before them (on this
// thread alone when the lease is empty).
PanelCounts read_records(RecordReader& reader, Data& data, const std::string& name, ThreadBudget::Lease lease) {
  BlockReader blocks(reader, data, name);
  Ordered<RecordBlock> ahead(
      std::move(lease), 4, [&](std::size_t, RecordBlock& block, int) { return blocks.read(block); },
      Ordered<RecordBlock>::Order::one_at_a_time);
  PanelCounts counts;
  for (std::size_t i = 0;; ++i) {
    RecordBlock* block = ahead.take(i);
    if (block == nullptr) break;
    for (std::size_t k = 0; k < block->snps.size(); ++k) {
      ReadSnp& snp = block->snps[k];
      if (snp.refusal && data.snps_data.count(snp.position) == 0) std::rethrow_exception(snp.refusal);
      if (snp.refusal) continue;
      data.add_panel_bits(snp.position, std::move(snp.rsid), std::move(snp.allele0), std::move(snp.allele1),
                          data.map_position(snp.position), block->rows.data() + k * blocks.row_words(), snp.ones);
    }
    counts.snps += block->counts.snps;
    counts.skipped += block->counts.skipped;
    if (block->error) std::rethrow_exception(block->error);
    ahead.release(i);
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
  // One thread reads and packs blocks of records ahead of this one; any
  // more decompress BGZF blocks for it on htslib's threads. (On two cores
  // the thread is best spent on whole blocks: htslib hands over every 64 KiB
  // and, with its own reader thread, outnumbers the cores.)
  ThreadBudget::Lease reading = budget != nullptr ? budget->take(1) : ThreadBudget::Lease();
  ThreadBudget::Lease decompressing = budget != nullptr ? budget->take(3) : ThreadBudget::Lease();
  if (decompressing.count() > 0) reader.decompress_on(decompressing.count());
  const int samples = bcf_hdr_nsamples(reader.header());
  if (samples == 0) bad(name, "no samples: a panel needs the phased genotypes of at least one sample.");
  if (samples > INT_MAX / 2) bad(name, "too many samples (" + std::to_string(samples) + ").");
  data.start_panel(2 * samples);
  const PanelCounts counts = read_records(reader, data, name, std::move(reading));
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
