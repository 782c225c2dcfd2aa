#include "output/output_files.hpp"

#include <algorithm>
#include <ios>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "output/block_writer.hpp"
#include "output/text_lines.hpp"
#include "params/errors.hpp"
#include "params/progress.hpp"
#include "params/summary.hpp"

namespace {

// SNPs per decoded tile: about a megabyte of alleles, so that the tile and
// the text made of it stay in cache while each file's lines are formatted.
// A fixed function of the run's size, never of how the work is scheduled.
std::size_t block_snps(std::size_t haplotypes) {
  const std::size_t width = (std::size_t(1) << 20) / std::max<std::size_t>(haplotypes, 1);
  return std::min<std::size_t>(std::max<std::size_t>(width / 8 * 8, 8), 1024);
}

struct Groups {
  std::size_t bound[3];  // haplotypes [bound[g], bound[g + 1]) belong to group g
};

void check_haplotype_count(const HaplotypeSource& source, const TarvikParameters& params,
                           std::ostringstream& log) {
  const long long expected =
      2LL * (static_cast<long long>(params.ncontrols) + static_cast<long long>(params.ncases));
  const long long found = static_cast<long long>(source.haplotypes());
  if (found == expected) return;
  log << "something has gone wrong in output_haplotypes: simulated_haplotypes.size()/2 != "
         "(params.ncontrols+params.ncases)"
      << "\n";
  update_summary_file(params, log, std::ios::app);
  throw GenericErrorException("output_haplotypes found " + std::to_string(found) +
                              " simulated haplotypes, but " + std::to_string(params.ncontrols) +
                              " controls and " + std::to_string(params.ncases) + " cases need " +
                              std::to_string(expected) + "; no output file was written.\n");
}

// Opens a file of the set; the announcement reaches the console and the
// summary file at once, as each file is started.
std::unique_ptr<BlockWriter> open_writer(const boost::filesystem::path& name,
                                         const TarvikParameters& params, std::ostringstream& log) {
  auto writer = std::make_unique<BlockWriter>(name, log, params.gz_level);
  update_summary_file(params, log, std::ios::app);
  return writer;
}

// The files with one line per SNP of the interval, written side by side from
// one decode of each block: haplotypes and legend, then genotypes.
void write_snp_files(const HaplotypeSource& source, const std::vector<SnpIterator>& snps,
                     const OutputFileNames& names, const Groups& groups,
                     const TarvikParameters& params, std::ostringstream& log) {
  const bool haps = !params.flag_given("-no_haps_output");
  const bool gens = !params.flag_given("-no_gens_output");
  std::unique_ptr<BlockWriter> haps_out[2], legend_out, gen_out[2];
  if (haps) {
    for (int g = 0; g < 2; ++g) haps_out[g] = open_writer(names.haps[g], params, log);
    legend_out = open_writer(names.legend, params, log);
    legend_out->append("rs pos X0 X1\n");
  }
  if (gens)
    for (int g = 0; g < 2; ++g) gen_out[g] = open_writer(names.gen[g], params, log);
  if (!haps && !gens) return;

  const std::size_t nsnps = snps.size(), block = block_snps(source.haplotypes());
  Progress progress("Writing", "SNPs");
  Tile tile;
  for (std::size_t b = 0; b < nsnps; b += block) {
    progress.update(static_cast<long>(b), static_cast<long>(nsnps));
    const std::size_t width = std::min(block, nsnps - b);
    source.decode(b, width, tile);
    for (std::size_t r = 0; r < width; ++r) {
      if (haps) {
        for (int g = 0; g < 2; ++g)
          append_haplotype_line(tile, r, groups.bound[g], groups.bound[g + 1], *haps_out[g]);
        append_legend_line(snps[b + r], *legend_out);
      }
      if (gens)
        for (int g = 0; g < 2; ++g)
          append_genotype_line(tile, r, groups.bound[g], groups.bound[g + 1],
                               static_cast<int>(b + r), snps[b + r], *gen_out[g]);
    }
    for (auto* out : {haps_out[0].get(), haps_out[1].get(), legend_out.get(), gen_out[0].get(),
                      gen_out[1].get()})
      if (out) out->line_done();
  }
  for (auto* out : {haps_out[0].get(), haps_out[1].get(), legend_out.get(), gen_out[0].get(),
                    gen_out[1].get()})
    if (out) out->close();
}

// The genotype files of the tag SNPs: the interval's SNPs at the positions of
// the tag file, decoded on their own.
void write_tag_files(const HaplotypeSource& source, const std::vector<SnpIterator>& snps,
                     const OutputFileNames& names, const Groups& groups,
                     const TarvikParameters& params, std::ostringstream& log) {
  const std::set<int> positions = read_tag_positions(params.tag_snps_file.string());
  std::vector<int> indices;
  auto tag = positions.begin();
  for (std::size_t k = 0; k < snps.size() && tag != positions.end(); ++k) {
    while (tag != positions.end() && *tag < snps[k]->first) ++tag;
    if (tag != positions.end() && *tag == snps[k]->first) {
      indices.push_back(static_cast<int>(k));
      ++tag;
    }
  }
  std::unique_ptr<BlockWriter> out[2];
  for (int g = 0; g < 2; ++g) out[g] = open_writer(names.tags[g], params, log);
  const std::size_t block = block_snps(source.haplotypes());
  Progress progress("Writing tag SNPs", "SNPs");
  Tile tile;
  std::vector<int> chunk;
  for (std::size_t b = 0; b < indices.size(); b += block) {
    progress.update(static_cast<long>(b), static_cast<long>(indices.size()));
    chunk.assign(indices.begin() + b, indices.begin() + std::min(b + block, indices.size()));
    source.decode_snps(chunk, tile);
    for (std::size_t r = 0; r < chunk.size(); ++r)
      for (int g = 0; g < 2; ++g)
        append_genotype_line(tile, r, groups.bound[g], groups.bound[g + 1], chunk[r],
                             snps[chunk[r]], *out[g]);
    for (int g = 0; g < 2; ++g) out[g]->line_done();
  }
  for (int g = 0; g < 2; ++g) out[g]->close();
}

void write_sample_files(const OutputFileNames& names, const Groups& groups,
                        const TarvikParameters& params, std::ostringstream& log) {
  for (int g = 0; g < 2; ++g) {
    std::unique_ptr<BlockWriter> out = open_writer(names.sample[g], params, log);
    out->append("ID_1 ID_2 missing pheno\n0 0 0 B\n");
    for (std::size_t i = groups.bound[g] / 2; i < groups.bound[g + 1] / 2; ++i) {
      out->append("id1_", 4);
      append_int(*out, static_cast<long>(i));
      out->append(" id2_", 5);
      append_int(*out, static_cast<long>(i));
      out->append(" 0 ", 3);
      append_int(*out, g);
      out->append('\n');
      out->line_done();
    }
    out->close();
  }
}

}  // namespace

void write_output_files(const HaplotypeSource& source, const std::map<int, snp>& snps,
                        const TarvikParameters& params) {
  std::ostringstream log;
  log << "\n"
      << "Writing output to files "
      << "\n";
  update_summary_file(params, log, std::ios::app);
  check_haplotype_count(source, params, log);

  const std::size_t controls = 2 * static_cast<std::size_t>(params.ncontrols);
  const Groups groups{{0, controls, source.haplotypes()}};
  std::vector<SnpIterator> snp_its;
  snp_its.reserve(snps.size());
  for (SnpIterator it = snps.begin(); it != snps.end(); ++it) snp_its.push_back(it);

  const OutputFileNames names = output_file_names(params);
  write_snp_files(source, snp_its, names, groups, params, log);
  if (params.flag_given("-t")) write_tag_files(source, snp_its, names, groups, params, log);
  write_sample_files(names, groups, params, log);
}
