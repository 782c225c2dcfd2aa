#include "output/vcf_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <htslib/thread_pool.h>
#include <htslib/vcf.h>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/ordered.hpp"
#include "core/progress.hpp"
#include "core/thread_budget.hpp"
#include "io/block_writer.hpp"
#include "io/hts.hpp"
#include "io/output_set.hpp"
#include "output/gwas_files.hpp"
#include "output/names.hpp"
#include "output/text_lines.hpp"

namespace {

// One VCF or BCF file being written, opened and closed by htslib itself,
// with the index htslib builds as the records go by. Both are written under
// temporary names in the same directory: those of the run's output set,
// renamed with the rest of the set, or outside a set (the writers' own
// checks) ".part" names renamed once complete. A failed run leaves no file
// under a final name.
class HtsOutput {
 public:
  HtsOutput(const boost::filesystem::path& data_name, const std::string& index_suffix)
      : name(data_name.string()),
        index(name + index_suffix),
        part(temporary_name(name)),
        index_part(temporary_name(index)) {}
  ~HtsOutput();
  HtsOutput(const HtsOutput&) = delete;
  HtsOutput& operator=(const HtsOutput&) = delete;

  // Opens the file in htslib's `mode`, writes the header and starts the
  // index (min_shift 0: TBI, else CSI).
  // Compresses on `pool`'s threads when not null.
  void open(const char* mode, int min_shift, bcf_hdr_t* header, std::ostream& log, htsThreadPool* pool = nullptr);
  void write(bcf_hdr_t* header, bcf1_t* record) {
    if (bcf_write(file, header, record) != 0) fail();
  }
  // A VCF line made by the caller, ending in a line feed: a record of
  // `contig` at 0-based `position` whose REF has `length` bases.
  void write_line(const char* line, std::size_t size, const char* contig, hts_pos_t position, hts_pos_t length);
  // Saves the index, closes the file and gives both their final names.
  void finish();

 private:
  static std::string temporary_name(const std::string& final_name) {
    return output_set_open() ? pending_output_name(final_name).string() : final_name + ".part";
  }
  [[noreturn]] void fail() const {
    throw FileError::writing(name, "the file could not be written completely (disk full or I/O error).");
  }

  const std::string name, index, part, index_part;  // htslib keeps index_part's pointer
  htsFile* file = nullptr;
  bool finished = false;
};

void HtsOutput::open(const char* mode, int min_shift, bcf_hdr_t* header, std::ostream& log,
                     htsThreadPool* pool) {
  log << "writing output file " << name << std::endl;
  log << "writing output file " << index << std::endl;
  file = hts_open(part.c_str(), mode);
  if (file == nullptr) throw FileError::reading(name, "can't open file.");
  if (bcf_hdr_write(file, header) != 0) fail();
  if (bcf_idx_init(file, header, min_shift, index_part.c_str()) != 0) fail();
  // Only now: the index starts at the end of the header's blocks, which
  // htslib knows at once on this thread and not yet when they are queued.
  if (pool != nullptr && hts_set_thread_pool(file, pool) != 0) fail();
}

void HtsOutput::write_line(const char* line, std::size_t size, const char* contig, hts_pos_t position,
                           hts_pos_t length) {
  // What htslib's own VCF writer does with a line: start a new block rather
  // than split a record across two, and tell the index where it begins.
  BGZF* bgzf = hts_get_bgzfp(file);
  if (bgzf_flush_try(bgzf, static_cast<ssize_t>(size)) < 0 ||
      bgzf_write(bgzf, line, size) != static_cast<ssize_t>(size))
    fail();
  const int tid = hts_idx_tbi_name(file->idx, 0, contig);
  if (tid < 0 || hts_idx_push(file->idx, tid, position, position + length, bgzf_tell(bgzf), 1) < 0) fail();
}

void HtsOutput::finish() {
  if (bcf_idx_save(file) != 0) fail();
  const int closed = hts_close(file);
  file = nullptr;
  if (closed != 0) fail();
  // The index was saved before the data's last block was written; readers
  // warn about an index older than its data, so it gets the later time.
  utimensat(AT_FDCWD, index_part.c_str(), nullptr, 0);
  if (output_set_open()) {
    pending_output_closed(name);
    pending_output_closed(index);
  } else if (std::rename(index_part.c_str(), index.c_str()) != 0 ||
             std::rename(part.c_str(), name.c_str()) != 0) {
    throw FileError::writing(name, "the finished file could not be renamed from " + part + ".");
  }
  finished = true;
}

HtsOutput::~HtsOutput() {
  if (file != nullptr) {
    // An index still being built belongs to the file handle, which does not
    // free it on close.
    if (file->idx != nullptr) hts_idx_destroy(file->idx);
    file->idx = nullptr;
    hts_close(file);
  }
  if (!finished) {
    std::remove(part.c_str());
    std::remove(index_part.c_str());
  }
}

Hts<bcf_hdr_t> make_header(const std::string& chromosome,
                                                   std::size_t individuals) {
  Hts<bcf_hdr_t> header(bcf_hdr_init("w"));
  bool ok = header != nullptr && bcf_hdr_append(header.get(), "##source=tarvik") == 0 &&
            bcf_hdr_append(header.get(), ("##contig=<ID=" + chromosome + ">").c_str()) == 0 &&
            bcf_hdr_append(header.get(),
                           "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Phased genotype\">") == 0;
  for (std::size_t i = 0; ok && i < individuals; ++i)
    ok = bcf_hdr_add_sample(header.get(), sample_name(i).c_str()) == 0;
  if (!ok || bcf_hdr_sync(header.get()) != 0)
    throw RunError("the VCF header could not be built (out of memory?).\n");
  return header;
}

// "\ta|b" for the four individuals of a byte of haplotype bits (haplotype
// 2i at bit 2i, 2i + 1 at the next), so that one 16-byte copy writes them.
struct GenotypeCells {
  char text[256][16];
  GenotypeCells() {
    for (int v = 0; v < 256; ++v)
      for (int k = 0; k < 4; ++k) {
        char* cell = text[v] + 4 * k;
        cell[0] = '\t';
        cell[1] = static_cast<char>('0' + (v >> 2 * k & 1));
        cell[2] = '|';
        cell[3] = static_cast<char>('0' + (v >> (2 * k + 1) & 1));
      }
  }
};
const GenotypeCells genotype_cells;

// The text of one VCF line, made here: htslib formats each sample's genotype
// on its own, which takes longer than compressing the result.
void append_vcf_line(const std::string& contig, SnpIterator snp, const std::uint64_t* bits,
                     std::size_t individuals, std::string& text) {
  char position[16];
  const std::to_chars_result end = std::to_chars(position, position + sizeof position, snp->first);
  text.append(contig).append(1, '\t').append(position, end.ptr).append(1, '\t');
  text.append(snp->second.rsid).append(1, '\t').append(snp->second.allele0).append(1, '\t');
  text.append(snp->second.allele1).append("\t.\t.\t.");
  if (individuals > 0) {
    text.append("\tGT");
    const std::size_t at = text.size();
    text.resize(at + 4 * individuals + 16);
    char* cell = &text[at];
    for (std::size_t i = 0; i < individuals; i += 4, cell += 16)
      std::memcpy(cell, genotype_cells.text[bits[i >> 5] >> (2 * (i & 31)) & 0xff], 16);
    text.resize(at + 4 * individuals);
  }
  text.append(1, '\n');
}

// The BCF bytes of GT for the eight haplotypes of a byte of bits: htslib's
// codes (allele + 1) << 1, plus 1 for the phased second allele of a pair.
struct GenotypeCodes {
  std::uint64_t bytes[256];
  GenotypeCodes() {
    for (unsigned v = 0; v < 256; ++v) {
      bytes[v] = 0;
      for (unsigned h = 0; h < 8; ++h)
        bytes[v] |= std::uint64_t(((v >> h & 1u) + 1u) << 1 | (h & 1u)) << (8 * h);
    }
  }
};
const GenotypeCodes genotype_codes;

// One SNP as a record: ID the rsid, REF allele0, ALT allele1, and per
// individual the phased genotype "a|b" of its haplotypes 2i and 2i + 1. The
// genotypes are stored as BCF keeps them, one byte per allele after the GT
// key and the vector's type (what bcf_update_genotypes makes of the same
// codes, without passing each through a 32-bit array).
void fill_record(const bcf_hdr_t* header, int gt_key, SnpIterator snp, const std::uint64_t* bits,
                 std::size_t haplotypes, bcf1_t* record) {
  bcf_clear(record);
  record->rid = 0;
  record->pos = static_cast<hts_pos_t>(snp->first) - 1;
  bcf_float_set_missing(record->qual);
  const char* alleles[2] = {snp->second.allele0.c_str(), snp->second.allele1.c_str()};
  const bool ok = bcf_update_id(header, record, snp->second.rsid.c_str()) == 0 &&
                  bcf_update_alleles(header, record, alleles, 2) == 0;
  if (!ok) throw RunError("the VCF record of " + snp->second.rsid + " could not be built.\n");
  if (haplotypes == 0) return;
  kstring_t& indiv = record->indiv;
  const std::size_t size = 3 + haplotypes;
  if (ks_resize(&indiv, size + 8) != 0) throw RunError("out of memory for the VCF record of " + snp->second.rsid + ".\n");
  auto* out = reinterpret_cast<std::uint8_t*>(indiv.s);
  out[0] = 1 << 4 | BCF_BT_INT8;  // the key: one 8-bit integer
  out[1] = static_cast<std::uint8_t>(gt_key);
  out[2] = 2 << 4 | BCF_BT_INT8;  // two 8-bit integers per sample
  for (std::size_t h = 0; h < haplotypes; h += 8) {
    const std::uint64_t codes = genotype_codes.bytes[bits[h >> 6] >> (h & 63) & 0xff];
    for (int k = 0; k < 8; ++k) out[3 + h + k] = static_cast<std::uint8_t>(codes >> (8 * k));
  }
  indiv.l = size;
  record->n_fmt = 1;
  record->n_sample = static_cast<std::uint32_t>(haplotypes / 2);
}

// htslib's thread pool of `threads` threads; none when 0 or when it cannot
// be started.
class Compressors {
 public:
  explicit Compressors(int threads) {
    if (threads > 0) pool.pool = hts_tpool_init(threads);
  }
  ~Compressors() {
    if (pool.pool != nullptr) hts_tpool_destroy(pool.pool);
  }
  Compressors(const Compressors&) = delete;
  Compressors& operator=(const Compressors&) = delete;
  htsThreadPool* get() { return pool.pool != nullptr ? &pool : nullptr; }

 private:
  htsThreadPool pool{nullptr, 0};
};

// One block of SNPs in both forms: VCF lines (line k ends at line_end[k])
// and BCF records.
struct VcfBlock {
  std::size_t first = 0, count = 0;
  std::string text;
  std::vector<std::size_t> line_end;
  std::vector<Hts<bcf1_t>> records;
};

// What each thread keeps from block to block.
struct VcfMaker {
  std::unique_ptr<BitDecoder> decoder;
  BitTile tile;
};

// "FID IID PHENO", then "0 id1_<i> <1 or 2>": plink2 reads a VCF sample name
// as the IID, with no family ID (FID 0), so that --pheno finds every sample.
void write_pheno_file(std::size_t individuals, const RunConfig& params, RunLog& log) {
  std::ostringstream announced;
  BlockWriter out(gwas_file_name(params, ".pheno"), announced, params.gz_level);
  log.report(announced);
  out.append("FID IID PHENO\n", 14);
  for (std::size_t i = 0; i < individuals; ++i) {
    append_family_ids(out, i);
    out.append(i < static_cast<std::size_t>(params.ncontrols) ? " 1\n" : " 2\n", 3);
    out.line_done();
  }
  out.close();
}

}  // namespace

void write_vcf_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                     RunLog& log, ThreadBudget* budget) {
  if (!snps.empty() && snps.begin()->first < 1)
    throw RunError("the SNP at position " + std::to_string(snps.begin()->first) +
                                " cannot be written to a VCF file, whose positions start at 1.\n");
  const std::size_t individuals = source.haplotypes() / 2;
  auto header = make_header(params.chromosome, individuals);
  const int gt_key = bcf_hdr_id2int(header.get(), BCF_DT_ID, "GT");
  if (gt_key < 0 || gt_key > 127) throw RunError("the VCF header could not be built (GT key " + std::to_string(gt_key) + ").\n");
  // Compression level 1: on genotype lines it takes a seventh of the time of
  // the default level 6 (0.7 s against 5.0 s of CPU for the 400 MB of
  // text of 4000 individuals at 24978 SNPs), for a third more bytes.
  std::unique_ptr<HtsOutput> vcf, bcf;
  std::ostringstream announced;
  if (params.output_vcf) {
    vcf = std::make_unique<HtsOutput>(gwas_file_name(params, ".vcf.gz"), ".tbi");
    vcf->open("wz1", 0, header.get(), announced);
    log.report(announced);
  }
  if (params.output_bcf) {
    bcf = std::make_unique<HtsOutput>(gwas_file_name(params, ".bcf"), ".csi");
    bcf->open("wb1", 14, header.get(), announced);
    log.report(announced);
  }

  std::vector<SnpIterator> rows;
  rows.reserve(snps.size());
  for (SnpIterator it = snps.begin(); it != snps.end(); ++it) rows.push_back(it);
  const std::size_t nsnps = rows.size(), block = block_snps(source.haplotypes());
  const std::size_t blocks = (nsnps + block - 1) / block;
  // The calling thread writes and compresses; the threads of the lease decode
  // and format the blocks after the one being written.
  ThreadBudget::Lease lease = budget != nullptr && blocks > 1
                                  ? budget->take(static_cast<int>(std::min<std::size_t>(blocks - 1, 1 << 10)))
                                  : ThreadBudget::Lease();
  std::vector<VcfMaker> makers(static_cast<std::size_t>(lease.count()) + 1);
  const std::size_t ring = lease.count() == 0 ? 1 : static_cast<std::size_t>(lease.count()) + 2;
  Ordered<VcfBlock> made(
      std::move(lease), ring,
      [&](std::size_t b, VcfBlock& out, int maker) {
        VcfMaker& m = makers[static_cast<std::size_t>(maker)];
        if (!m.decoder) m.decoder = source.bit_decoder();
        out.first = b * block;
        out.count = std::min(block, nsnps - out.first);
        m.decoder->decode(out.first, out.count, m.tile);
        out.text.clear();
        out.line_end.clear();
        while (bcf && out.records.size() < out.count) out.records.emplace_back(bcf_init());
        for (std::size_t r = 0; r < out.count; ++r) {
          if (vcf) {
            append_vcf_line(params.chromosome, rows[out.first + r], m.tile.snp(r), individuals, out.text);
            out.line_end.push_back(out.text.size());
          }
          if (bcf)
            fill_record(header.get(), gt_key, rows[out.first + r], m.tile.snp(r), 2 * individuals,
                        out.records[r].get());
        }
        return true;
      },
      Ordered<VcfBlock>::Order::any, blocks);
  Progress progress("Writing VCF files", "SNPs");
  for (std::size_t b = 0; b < blocks; ++b) {
    const VcfBlock& done = *made.take(b);
    for (std::size_t r = 0, at = 0; r < done.count; ++r) {
      const SnpIterator& snp = rows[done.first + r];
      if (vcf) {
        vcf->write_line(done.text.data() + at, done.line_end[r] - at, params.chromosome.c_str(), snp->first - 1,
                        static_cast<hts_pos_t>(snp->second.allele0.size()));
        at = done.line_end[r];
      }
      if (bcf) bcf->write(header.get(), done.records[r].get());
    }
    made.release(b);
    progress.update(static_cast<long>(std::min((b + 1) * block, nsnps)), static_cast<long>(nsnps));
  }
  for (HtsOutput* out : {vcf.get(), bcf.get()})
    if (out) out->finish();
  write_pheno_file(individuals, params, log);
}
