#include "output/plink_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/log.hpp"
#include "core/progress.hpp"
#include "io/block_writer.hpp"
#include "output/gwas_files.hpp"
#include "output/names.hpp"
#include "output/pipeline.hpp"
#include "output/text_lines.hpp"

namespace {

// The shortest text that reads back as the same double.
void append_double(TextBuffer& out, double value) {
  char digits[32];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

// "chr rsid cM bp A1 A2", A1 the legend's allele1 and A2 its allele0.
void append_bim_line(const std::string& chromosome, SnpIterator snp, double cm, TextBuffer& out) {
  out.append(chromosome);
  out.append('\t');
  out.append(snp->second.rsid);
  out.append('\t');
  append_double(out, cm);
  out.append('\t');
  append_int(out, snp->first);
  out.append('\t');
  out.append(snp->second.allele1);
  out.append('\t');
  out.append(snp->second.allele0);
  out.append('\n');
}

// The .bed codes of 32 individuals from the 64 bits of their haplotypes
// (individual i's two at bits 2i and 2i + 1): by the number of allele-1 (A1)
// copies, 11 homozygous A2, 10 heterozygous, 00 homozygous A1, each code in
// the bits of its individual. So the low bit is "neither" and the high bit
// "not both"; 01 (missing) never occurs.
inline std::uint64_t bed_codes(std::uint64_t haplotypes) {
  constexpr std::uint64_t even = 0x5555555555555555ull;
  const std::uint64_t a = haplotypes & even, b = haplotypes >> 1 & even;
  return (~(a | b) & even) | (~(a & b) & even) << 1;
}

// One SNP's row of `bytes` bytes: individual i in bits 2 (i % 4) and up of
// byte i / 4, the bits after the last individual 0.
void bed_row(const std::uint64_t* bits, std::size_t individuals, std::size_t bytes, char* out) {
  const std::size_t full = individuals / 32;
  for (std::size_t w = 0; w < full; ++w, out += 8) {
    const std::uint64_t codes = bed_codes(bits[w]);
    for (int k = 0; k < 8; ++k) out[k] = static_cast<char>(codes >> (8 * k));
  }
  const std::size_t rest = individuals % 32;
  if (rest == 0) return;
  const std::uint64_t codes = bed_codes(bits[full]) & ((std::uint64_t(1) << (2 * rest)) - 1);
  for (std::size_t k = 0; k < bytes - 8 * full; ++k) out[k] = static_cast<char>(codes >> (8 * k));
}

// SNPs per block of the .bed file: about 2^26 bits of decoded haplotypes, in
// whole words of the decoder's rows. A fixed function of the run's size.
std::size_t bed_block_snps(std::size_t haplotypes) {
  const std::size_t width = ((std::size_t(1) << 26) / std::max<std::size_t>(haplotypes, 1)) & ~std::size_t(63);
  return std::min<std::size_t>(std::max<std::size_t>(width, 64), 4096);
}

// "0 id1_<i> 0 0 0 <pheno>": the identities of the VCF and .pheno files, no
// parents, no sex, PLINK's phenotype codes 1 control and 2 case. A pedigree
// run gives families, parents and sex. A trait run's phenotypes are in its
// .pheno, and a pedigree run without a trait has none: the .fam says -9
// (missing), so that plink2 does not load a second, constant phenotype.
void write_fam(std::size_t individuals, std::size_t controls, const Samples& samples, bool trait,
               BlockWriter& out) {
  for (std::size_t i = 0; i < individuals; ++i) {
    samples.append_family_ids(out, i);
    out.append(' ');
    samples.append_parents_and_sex(out, i);
    if (trait || samples.from_pedigree())
      out.append(" -9\n", 4);
    else
      out.append(i < controls ? " 1\n" : " 2\n", 3);
    out.line_done();
  }
}

}  // namespace

void write_plink_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                       const GeneticMap& map, const Samples& samples, RunLog& log, ThreadBudget* budget) {
  std::ostringstream announced;
  const auto open = [&](const char* suffix) {
    auto file = std::make_unique<PipelineFile>(gwas_file_name(params, suffix), announced, params.gz_level);
    log.report(announced);
    return file;
  };
  std::unique_ptr<PipelineFile> bed = open(".bed"), bim = open(".bim");
  auto fam = std::make_unique<BlockWriter>(gwas_file_name(params, ".fam"), announced, params.gz_level);
  log.report(announced);

  std::vector<SnpIterator> rows;
  rows.reserve(snps.size());
  for (SnpIterator it = snps.begin(); it != snps.end(); ++it) rows.push_back(it);
  const std::size_t individuals = source.haplotypes() / 2, bytes = (individuals + 3) / 4;
  const std::size_t nsnps = rows.size(), block = bed_block_snps(source.haplotypes());
  Progress progress("Writing PLINK files", "SNPs");
  PipelineRun run;
  run.blocks = std::max<std::size_t>((nsnps + block - 1) / block, 1);  // the first brings the magic number
  run.files = {bed.get(), bim.get()};
  run.budget = budget;
  run.make_formatter = [&]() -> BlockFormatter {
    auto decoder = std::shared_ptr<BitDecoder>(source.bit_decoder());
    return [&, decoder, tile = BitTile()](std::size_t b, std::vector<TextBuffer>& texts) mutable {
      const std::size_t first = b * block, width = first < nsnps ? std::min(block, nsnps - first) : 0;
      if (b == 0) texts[0].append("\x6c\x1b\x01", 3);  // the magic number, and SNP-major order
      decoder->decode(first, width, tile);
      char* out = texts[0].extend(width * bytes);
      for (std::size_t r = 0; r < width; ++r) bed_row(tile.snp(r), individuals, bytes, out + r * bytes);
      for (std::size_t r = 0; r < width; ++r)
        append_bim_line(params.chromosome, rows[first + r], map.cm_at(rows[first + r]->first), texts[1]);
    };
  };
  run.written = [&](std::size_t done) {
    progress.update(static_cast<long>(std::min(done * block, nsnps)), static_cast<long>(nsnps));
  };
  run_pipeline(run);
  bed->close();
  bim->close();
  write_fam(individuals, static_cast<std::size_t>(params.ncontrols), samples, params.trait.simulated(), *fam);
  fam->close();
}

void write_fam_file(std::size_t individuals, const RunConfig& params, const Samples& samples, RunLog& log) {
  std::ostringstream announced;
  BlockWriter fam(gwas_file_name(params, ".fam"), announced, params.gz_level);
  log.report(announced);
  write_fam(individuals, static_cast<std::size_t>(params.ncontrols), samples, params.trait.simulated(), fam);
  fam.close();
}
