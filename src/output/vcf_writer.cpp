#include "output/vcf_writer.hpp"


#include <cerrno>
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
#include "core/system_errors.hpp"
#include "core/log.hpp"
#include "core/ordered.hpp"
#include "core/progress.hpp"
#include "core/thread_budget.hpp"
#include "io/block_writer.hpp"
#include "io/hts.hpp"
#include "output/bcf_blocks.hpp"
#include "output/gwas_files.hpp"
#include "output/hts_output.hpp"
#include "output/names.hpp"
#include "output/text_lines.hpp"

namespace {

Hts<bcf_hdr_t> make_header(const std::string& chromosome, std::size_t individuals, const Samples& samples) {
  Hts<bcf_hdr_t> header(bcf_hdr_init("w"));
  bool ok = header != nullptr && bcf_hdr_append(header.get(), "##source=tarvik") == 0 &&
            bcf_hdr_append(header.get(), ("##contig=<ID=" + chromosome + ">").c_str()) == 0 &&
            bcf_hdr_append(header.get(),
                           "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Phased genotype\">") == 0;
  for (std::size_t i = 0; ok && i < individuals; ++i)
    ok = bcf_hdr_add_sample(header.get(), samples.vcf_name(i).c_str()) == 0;
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

// The individual part of a record: per individual the phased genotype
// "a|b" of its haplotypes 2i and 2i + 1, stored as BCF keeps them, one byte
// per allele after the GT key and the vector's type (what
// bcf_update_genotypes makes of the same codes).
void append_genotypes(int gt_key, const std::uint64_t* bits, std::size_t haplotypes, TextBuffer& records) {
  if (haplotypes == 0) return;
  auto* out = reinterpret_cast<std::uint8_t*>(records.extend(bcf_indiv_bytes(haplotypes) + 8));
  out[0] = 1 << 4 | BCF_BT_INT8;  // the key: one 8-bit integer
  out[1] = static_cast<std::uint8_t>(gt_key);
  out[2] = 2 << 4 | BCF_BT_INT8;  // two 8-bit integers per sample
  for (std::size_t h = 0; h < haplotypes; h += 8) {
    const std::uint64_t codes = genotype_codes.bytes[bits[h >> 6] >> (h & 63) & 0xff];
    for (int k = 0; k < 8; ++k) out[3 + h + k] = static_cast<std::uint8_t>(codes >> (8 * k));
  }
  records.shrink(8);
}

// One block of SNPs in both forms: VCF lines (line k ends at line_end[k])
// and BCF records with the BGZF blocks inside them compressed.
struct VcfBlock {
  std::size_t first = 0, count = 0;
  std::string text;
  std::vector<std::size_t> line_end;
  BcfBytes bcf;
};

// What each thread keeps from block to block.
struct VcfMaker {
  std::unique_ptr<BitDecoder> decoder;
  BitTile tile;
  BcfRecordHead record;
  std::string head;
};

// "FID IID PHENO", then "0 id1_<i> <1 or 2>": plink2 reads a VCF sample name
// as the IID, with no family ID (FID 0), so that --pheno finds every sample.
void write_pheno_file(std::size_t individuals, const RunConfig& params, RunLog& log) {
  std::ostringstream announced;
  BlockWriter out(gwas_file_name(params, ".pheno"), announced, params.gz_level);
  log.report(announced);
  out.append("FID IID PHENO\n", 14);
  for (std::size_t i = 0; i < individuals; ++i) {
    append_family_ids(out, individual_id(params, i));
    out.append(i < static_cast<std::size_t>(params.ncontrols) ? " 1\n" : " 2\n", 3);
    out.line_done();
  }
  out.close();
}

// SNPs per block: whole 64-SNP words of the bit decoder, and about 8 MB of
// records (two bytes per haplotype and SNP as VCF text, one as BCF), so that
// each haplotype's segments are visited once per few hundred SNPs rather
// than once per few dozen. The blocks only share out the work: where the
// files' BGZF blocks are cut does not depend on them.
std::size_t vcf_block_snps(std::size_t haplotypes) {
  const std::size_t width = ((std::size_t(1) << 23) / std::max<std::size_t>(haplotypes, 1)) & ~std::size_t(63);
  return std::min<std::size_t>(std::max<std::size_t>(width, 64), 1024);
}

std::vector<SnpIterator> snp_rows(const std::map<int, snp>& snps) {
  std::vector<SnpIterator> rows;
  rows.reserve(snps.size());
  for (SnpIterator it = snps.begin(); it != snps.end(); ++it) rows.push_back(it);
  return rows;
}

// The run's VCF and BCF files, open, and what writing them takes.
struct VcfOutputs {
  Hts<bcf_hdr_t> header;
  int gt_key = 0;
  std::unique_ptr<HtsOutput> vcf, bcf;
  std::unique_ptr<BcfBlockWriter> bcf_blocks;
  std::vector<std::uint64_t> bcf_ends;  // where each record ends after the header
  int bcf_level = 0;                    // read once: the makers compress while the file is written
};

// Compression level 1: on genotype lines it takes a seventh of the time of
// the default level 6 (0.7 s against 5.0 s of CPU for the 400 MB of text of
// 4000 individuals at 24978 SNPs), for a third more bytes. htslib
// compresses the VCF text on its threads, from `pool`; the BCF blocks are
// compressed by whoever formats them.
void open_outputs(const RunConfig& params, const Samples& samples, std::size_t individuals,
                  const std::vector<SnpIterator>& rows, htsThreadPool* pool, RunLog& log, VcfOutputs& out) {
  out.header = make_header(params.chromosome, individuals, samples);
  out.gt_key = bcf_hdr_id2int(out.header.get(), BCF_DT_ID, "GT");
  if (out.gt_key < 0 || out.gt_key > 127)
    throw RunError("the VCF header could not be built (GT key " + std::to_string(out.gt_key) + ").\n");
  std::ostringstream announced;
  if (params.output_vcf) {
    out.vcf = std::make_unique<HtsOutput>(gwas_file_name(params, ".vcf.gz"), ".tbi");
    out.vcf->open("wz1", 0, out.header.get(), announced, pool);
    log.report(announced);
  }
  if (params.output_bcf) {
    out.bcf = std::make_unique<HtsOutput>(gwas_file_name(params, ".bcf"), ".csi");
    out.bcf->open_for_blocks("wb1", 14, out.header.get(), announced);
    log.report(announced);
    out.bcf_ends = bcf_record_ends(out.header.get(), rows, 2 * individuals);
    out.bcf_level = out.bcf->level();
    out.bcf_blocks = std::make_unique<BcfBlockWriter>(*out.bcf);
  }
}

// Decodes SNPs first .. first + count - 1 and formats them as VCF lines and
// BCF records, compressing the BGZF blocks that lie inside the records.
void make_block(const VcfOutputs& files, const RunConfig& params, const std::vector<SnpIterator>& rows,
                std::size_t individuals, VcfMaker& m, VcfBlock& out) {
  m.decoder->decode(out.first, out.count, m.tile);
  out.text.clear();
  out.line_end.clear();
  out.bcf.records.clear();
  for (std::size_t r = 0; r < out.count; ++r) {
    const SnpIterator snp = rows[out.first + r];
    if (files.vcf) {
      append_vcf_line(params.chromosome, snp, m.tile.snp(r), individuals, out.text);
      out.line_end.push_back(out.text.size());
    }
    if (files.bcf) {
      m.record.make(files.header.get(), snp, individuals, bcf_indiv_bytes(2 * individuals), m.head);
      out.bcf.records.append(m.head);
      append_genotypes(files.gt_key, m.tile.snp(r), 2 * individuals, out.bcf.records);
    }
  }
  if (!files.bcf) return;
  const std::uint64_t begin = out.first == 0 ? 0 : files.bcf_ends[out.first - 1];
  if (out.bcf.records.size() != files.bcf_ends[out.first + out.count - 1] - begin)
    throw RunError("the BCF records of SNPs " + std::to_string(out.first) + " on are not of their expected size.\n");
  out.bcf.start = files.bcf_blocks->header_bytes() + begin;
  compress_inner_blocks(out.bcf, files.bcf_level);
}

// Writes a made block in order: VCF lines through htslib, BCF blocks as made.
void write_block(const VcfOutputs& files, const RunConfig& params, const std::vector<SnpIterator>& rows,
                 const VcfBlock& done) {
  for (std::size_t r = 0, at = 0; r < done.count; ++r) {
    const SnpIterator& snp = rows[done.first + r];
    const auto length = static_cast<hts_pos_t>(snp->second.allele0.size());
    if (files.vcf) {
      files.vcf->write_line(done.text.data() + at, done.line_end[r] - at, params.chromosome.c_str(),
                            snp->first - 1, length);
      at = done.line_end[r];
    }
  }
  if (!files.bcf) return;
  files.bcf_blocks->write(done.bcf);
  for (std::size_t r = done.first; r < done.first + done.count; ++r) {
    const std::uint64_t bytes = files.bcf_ends[r] - (r == 0 ? 0 : files.bcf_ends[r - 1]);
    const auto begin = static_cast<hts_pos_t>(rows[r]->first - 1);
    files.bcf->index_record(bytes, begin, begin + static_cast<hts_pos_t>(rows[r]->second.allele0.size()));
  }
}

}  // namespace

void write_vcf_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                     const Samples& samples, RunLog& log, ThreadBudget* budget) {
  if (!snps.empty() && snps.begin()->first < 1)
    throw RunError("the SNP at position " + std::to_string(snps.begin()->first) +
                                " cannot be written to a VCF file, whose positions start at 1.\n");
  const std::size_t individuals = source.haplotypes() / 2;
  QuietHtslib quiet;
  const std::vector<SnpIterator> rows = snp_rows(snps);
  // htslib's threads compress the VCF text: half of the run's threads beyond
  // the calling one, at least one.
  ThreadBudget::Lease compressing = budget != nullptr && params.output_vcf
                                        ? budget->take(std::max(1, (params.threads - 1) / 2))
                                        : ThreadBudget::Lease();
  Compressors pool(compressing.count());
  VcfOutputs files;
  open_outputs(params, samples, individuals, rows, pool.get(), log, files);

  const std::size_t nsnps = rows.size(), block = vcf_block_snps(source.haplotypes());
  const std::size_t blocks = (nsnps + block - 1) / block;
  // The calling thread writes; the threads of the lease decode, format and
  // compress the blocks after the one being written.
  ThreadBudget::Lease lease = budget != nullptr && blocks > 1
                                  ? budget->take(static_cast<int>(std::min<std::size_t>(blocks - 1, 1 << 10)))
                                  : ThreadBudget::Lease();
  std::vector<VcfMaker> makers(static_cast<std::size_t>(lease.count()) + 1);
  // Two blocks more than the makers, and two more again: the calling thread
  // makes blocks too, and while it makes one the others' finished blocks
  // wait for it to write them.
  const std::size_t ring = lease.count() == 0 ? 1 : static_cast<std::size_t>(lease.count()) + 4;
  Ordered<VcfBlock> made(
      std::move(lease), ring,
      [&](std::size_t b, VcfBlock& out, int maker) {
        VcfMaker& m = makers[static_cast<std::size_t>(maker)];
        if (!m.decoder) m.decoder = source.bit_decoder();
        out.first = b * block;
        out.count = std::min(block, nsnps - out.first);
        make_block(files, params, rows, individuals, m, out);
        return true;
      },
      Ordered<VcfBlock>::Order::any, blocks);
  Progress progress("Writing VCF files", "SNPs");
  for (std::size_t b = 0; b < blocks; ++b) {
    write_block(files, params, rows, *made.take(b));
    made.release(b);
    progress.update(static_cast<long>(std::min((b + 1) * block, nsnps)), static_cast<long>(nsnps));
  }
  if (files.bcf_blocks) files.bcf_blocks->finish();
  for (HtsOutput* out : {files.vcf.get(), files.bcf.get()})
    if (out) out->finish();
  // A trait run's .pheno holds the trait (output/trait_files.hpp); a
  // pedigree run without one has no phenotype.
  if (!params.trait.simulated() && !samples.from_pedigree()) write_pheno_file(individuals, params, log);
}
