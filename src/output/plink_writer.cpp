#include "output/plink_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/log.hpp"
#include "io/block_writer.hpp"
#include "output/gwas_files.hpp"
#include "output/names.hpp"
#include "output/text_lines.hpp"

namespace {

// The shortest text that reads back as the same double.
void append_double(BlockWriter& out, double value) {
  char digits[32];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

// "chr rsid cM bp A1 A2", A1 the legend's allele1 and A2 its allele0.
void append_bim_line(const std::string& chromosome, SnpIterator snp, double cm, BlockWriter& out) {
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

// The .bed codes by the number of allele-1 (A1) copies: 11 homozygous A2,
// 10 heterozygous, 00 homozygous A1. 01 (missing) never occurs.
constexpr unsigned bed_code[3] = {3, 2, 0};

// One SNP's row: individual i (haplotypes 2i, 2i + 1) in bits 2 (i % 4) and
// up of byte i / 4; the bits after the last individual stay 0.
void append_bed_row(const std::uint8_t* allele, std::size_t individuals, BlockWriter& out) {
  char* byte = out.extend((individuals + 3) / 4);
  std::size_t i = 0;
  for (; i + 4 <= individuals; i += 4, allele += 8)
    *byte++ = static_cast<char>(bed_code[allele[0] + allele[1]] | bed_code[allele[2] + allele[3]] << 2 |
                                bed_code[allele[4] + allele[5]] << 4 | bed_code[allele[6] + allele[7]] << 6);
  unsigned last = 0;
  for (int shift = 0; i < individuals; ++i, shift += 2, allele += 2)
    last |= bed_code[allele[0] + allele[1]] << shift;
  if (individuals % 4 != 0) *byte = static_cast<char>(last);
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

std::unique_ptr<BlockWriter> open_plink_file(const RunConfig& params, const char* suffix, RunLog& log) {
  std::ostringstream announced;
  auto writer = std::make_unique<BlockWriter>(gwas_file_name(params, suffix), announced, params.gz_level);
  log.report(announced);
  return writer;
}

}  // namespace

void write_plink_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                       const GeneticMap& map, const Samples& samples, RunLog& log) {
  std::unique_ptr<BlockWriter> bed = open_plink_file(params, ".bed", log);
  std::unique_ptr<BlockWriter> bim = open_plink_file(params, ".bim", log);
  std::unique_ptr<BlockWriter> fam = open_plink_file(params, ".fam", log);
  bed->append("\x6c\x1b\x01", 3);  // the magic number, and SNP-major order

  const std::size_t individuals = source.haplotypes() / 2;
  for_each_snp(
      source, snps, "Writing PLINK files",
      [&](const Tile& tile, std::size_t r, std::map<int, snp>::const_iterator snp) {
        append_bed_row(tile.snp(r), individuals, *bed);
        append_bim_line(params.chromosome, snp, map.cm_at(snp->first), *bim);
      },
      [&] {
        bed->line_done();
        bim->line_done();
      });
  write_fam(individuals, static_cast<std::size_t>(params.ncontrols), samples, params.trait.simulated(), *fam);
  for (BlockWriter* out : {bed.get(), bim.get(), fam.get()}) out->close();
}
