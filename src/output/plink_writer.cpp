#include "output/plink_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "data/input_file.hpp"
#include "output/block_writer.hpp"
#include "output/gwas_files.hpp"
#include "output/text_lines.hpp"
#include "params/errors.hpp"
#include "params/progress.hpp"
#include "params/summary.hpp"

namespace {

// The rows of the genetic map in centimorgans, as the map file gives them.
// The run keeps only the population-scaled map, 4 Ne cM / 100; dividing
// that back by 4 Ne would round twice, and is impossible for Ne 0, so the
// centimorgans are read again from the file.
struct CentimorganMap {
  std::vector<double> position, cm;
};

CentimorganMap read_centimorgans(const std::string& file) {
  InputFile in(file);
  if (!in.is_open()) throw badfilename::reading(file, "can't open file.");
  CentimorganMap map;
  std::string line;
  in.getline(line);  // header
  // The rows were checked when the map was read for the simulation, so
  // strtod reads each of them exactly as the map reader did.
  while (in.getline(line)) {
    const char* p = line.c_str();
    char* after = nullptr;
    double value[3];
    for (double& v : value) {
      v = std::strtod(p, &after);
      p = after;
    }
    map.position.push_back(value[0]);
    map.cm.push_back(value[2]);
  }
  if (map.position.empty()) throw badfilename::reading(file, "no map rows found.");
  return map;
}

// The map position of base pair x, interpolated between the rows exactly as
// the simulation places its SNPs (Data::interpolate_map), in centimorgans.
double centimorgans_at(const CentimorganMap& map, double x) {
  const std::vector<double>& P = map.position;
  const std::vector<double>& C = map.cm;
  if (x < P[0]) return C[0];
  auto above = std::upper_bound(P.begin() + 1, P.end(), x);
  if (above == P.end()) return C.back();
  const std::size_t i = static_cast<std::size_t>(above - P.begin());
  const std::size_t j = i - 1;
  return ((x - P[j]) / (P[i] - P[j])) * (C[i] - C[j]) + C[j];
}

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

// "id1_<i> id2_<i> 0 0 0 <pheno>": the identifiers of the .sample files, no
// parents, no sex, PLINK's phenotype codes 1 control and 2 case.
void write_fam(std::size_t individuals, std::size_t controls, BlockWriter& out) {
  for (std::size_t i = 0; i < individuals; ++i) {
    out.append("id1_", 4);
    append_int(out, static_cast<long>(i));
    out.append(" id2_", 5);
    append_int(out, static_cast<long>(i));
    out.append(i < controls ? " 0 0 0 1\n" : " 0 0 0 2\n", 9);
    out.line_done();
  }
}

std::unique_ptr<BlockWriter> open_plink_file(const TarvikParameters& params, const char* suffix,
                                             std::ostringstream& log) {
  auto writer = std::make_unique<BlockWriter>(gwas_file_name(params, suffix), log, params.gz_level);
  update_summary_file(params, log, std::ios::app);
  return writer;
}

}  // namespace

void write_plink_files(const HaplotypeSource& source, const std::map<int, snp>& snps,
                       const TarvikParameters& params, std::ostringstream& log) {
  const CentimorganMap map = read_centimorgans(params.genetic_map_file);
  std::unique_ptr<BlockWriter> bed = open_plink_file(params, ".bed", log);
  std::unique_ptr<BlockWriter> bim = open_plink_file(params, ".bim", log);
  std::unique_ptr<BlockWriter> fam = open_plink_file(params, ".fam", log);
  bed->append("\x6c\x1b\x01", 3);  // the magic number, and SNP-major order

  const std::size_t individuals = source.haplotypes() / 2;
  for_each_snp(
      source, snps, "Writing PLINK files",
      [&](const Tile& tile, std::size_t r, std::map<int, snp>::const_iterator snp) {
        append_bed_row(tile.snp(r), individuals, *bed);
        append_bim_line(params.chromosome, snp, centimorgans_at(map, snp->first), *bim);
      },
      [&] {
        bed->line_done();
        bim->line_done();
      });
  write_fam(individuals, static_cast<std::size_t>(params.ncontrols), *fam);
  for (BlockWriter* out : {bed.get(), bim.get(), fam.get()}) out->close();
}
