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
    append_family_ids(out, individual_id(params, i));
    out.append(i < static_cast<std::size_t>(params.ncontrols) ? " 1\n" : " 2\n", 3);
    out.line_done();
  }
  out.close();
}

}  // namespace

void write_vcf_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                     const Samples& samples, RunLog& log, ThreadBudget* budget) {
  if (!snps.empty() && snps.begin()->first < 1)
    throw RunError("the SNP at position " + std::to_string(snps.begin()->first) +
                                " cannot be written to a VCF file, whose positions start at 1.\n");
  const std::size_t individuals = source.haplotypes() / 2;
  QuietHtslib quiet;
  auto header = make_header(params.chromosome, individuals, samples);
  const int gt_key = bcf_hdr_id2int(header.get(), BCF_DT_ID, "GT");
  if (gt_key < 0 || gt_key > 127) throw RunError("the VCF header could not be built (GT key " + std::to_string(gt_key) + ").\n");
  // Compression level 1: on genotype lines it takes a seventh of the time of
  // the default level 6 (0.7 s against 5.0 s of CPU for the 400 MB of
  // text of 4000 individuals at 24978 SNPs), for a third more bytes.
  // The BGZF blocks are compressed on htslib's threads, leased from the
  // budget: half of the run's threads beyond the calling one, at least one.
  ThreadBudget::Lease compressing =
      budget != nullptr ? budget->take(std::max(1, (params.threads - 1) / 2)) : ThreadBudget::Lease();
  Compressors pool(compressing.count());
  std::unique_ptr<HtsOutput> vcf, bcf;
  std::ostringstream announced;
  if (params.output_vcf) {
    vcf = std::make_unique<HtsOutput>(gwas_file_name(params, ".vcf.gz"), ".tbi");
    vcf->open("wz1", 0, header.get(), announced, pool.get());
    log.report(announced);
  }
  if (params.output_bcf) {
    bcf = std::make_unique<HtsOutput>(gwas_file_name(params, ".bcf"), ".csi");
    bcf->open("wb1", 14, header.get(), announced, pool.get());
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
  // A trait run's .pheno holds the trait (output/trait_files.hpp); a
  // pedigree run without one has no phenotype.
  if (!params.trait.simulated() && !samples.from_pedigree()) write_pheno_file(individuals, params, log);
}
