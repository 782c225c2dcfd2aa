#include "output/output_files.hpp"

#include <cassert>
#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "core/progress.hpp"
#include "io/block_writer.hpp"
#include "output/gwas_files.hpp"
#include "output/names.hpp"
#include "output/pipeline.hpp"
#include "output/plink_writer.hpp"
#include "output/text_lines.hpp"
#include "output/vcf_writer.hpp"

namespace {

struct Groups {
  std::size_t bound[3];  // haplotypes [bound[g], bound[g + 1]) belong to group g
};

void check_haplotype_count(const HaplotypeSource& source, const RunConfig& params, RunLog& log) {
  const long long expected =
      2LL * (static_cast<long long>(params.ncontrols) + static_cast<long long>(params.ncases));
  const long long found = static_cast<long long>(source.haplotypes());
  if (found == expected) return;
  log.report("something has gone wrong in output_haplotypes: simulated_haplotypes.size()/2 != "
             "(params.ncontrols+params.ncases)\n");
  throw RunError("output_haplotypes found " + std::to_string(found) +
                              " simulated haplotypes, but " + std::to_string(params.ncontrols) +
                              " controls and " + std::to_string(params.ncases) + " cases need " +
                              std::to_string(expected) + "; no output file was written.\n");
}

// The files of one pipeline run, in the order they are opened and announced.
class FileSet {
 public:
  FileSet(const RunConfig& run_params, RunLog& run_log) : params(run_params), log(run_log) {}
  // Opens a file; the announcement reaches the console and the summary file
  // at once, as each file is started. Returns the file's index in the set.
  int open(const boost::filesystem::path& name) {
    owned.push_back(std::make_unique<PipelineFile>(name, announced, params.gz_level));
    log.report(announced);
    return static_cast<int>(owned.size()) - 1;
  }
  bool empty() const { return owned.empty(); }
  std::vector<PipelineFile*> files() const {
    std::vector<PipelineFile*> all;
    for (const auto& f : owned) all.push_back(f.get());
    return all;
  }
  void close() {
    for (const auto& f : owned) f->close();
  }

 private:
  const RunConfig& params;
  RunLog& log;
  std::ostringstream announced;
  std::vector<std::unique_ptr<PipelineFile>> owned;
};

// Runs the pipeline over `count` units (SNPs) in blocks of `block`, showing
// the progress of the writing.
void write_blocks(FileSet& set, std::size_t count, std::size_t block, std::size_t blocks,
                  const char* what, ThreadBudget* budget, std::function<BlockFormatter()> make_formatter) {
  Progress progress(what, "SNPs");
  PipelineRun run;
  run.blocks = blocks;
  run.files = set.files();
  run.budget = budget;
  run.make_formatter = std::move(make_formatter);
  run.written = [&](std::size_t done) {
    progress.update(static_cast<long>(std::min(done * block, count)), static_cast<long>(count));
  };
  run_pipeline(run);
  set.close();
}

// The files with one line per SNP of the interval, written side by side from
// one decode of each block: haplotypes and legend, then genotypes.
void write_snp_files(const HaplotypeSource& source, const std::vector<SnpIterator>& snps,
                     const OutputFileNames& names, const Groups& groups,
                     const RunConfig& params, RunLog& log, ThreadBudget* budget) {
  FileSet set(params, log);
  int haps = -1, legend = -1, gens = -1;  // indices in the set; -1 when not written
  if (params.haps_output) {
    haps = set.open(names.haps[0]);
    for (int g = 1; g < names.groups; ++g) set.open(names.haps[g]);
    legend = set.open(names.legend);
  }
  if (params.gens_output) {
    gens = set.open(names.gen[0]);
    for (int g = 1; g < names.groups; ++g) set.open(names.gen[g]);
  }
  if (set.empty()) return;

  const std::size_t nsnps = snps.size(), block = block_snps(source.haplotypes());
  // At least one block, which brings the legend's header even without SNPs.
  const std::size_t blocks = std::max<std::size_t>((nsnps + block - 1) / block, 1);
  write_blocks(set, nsnps, block, blocks, "Writing", budget, [&]() -> BlockFormatter {
    auto decoder = std::shared_ptr<BitDecoder>(source.bit_decoder());
    return [&, decoder, tile = BitTile()](std::size_t b, std::vector<TextBuffer>& texts) mutable {
      const std::size_t first = b * block, width = first < nsnps ? std::min(block, nsnps - first) : 0;
      decoder->decode(first, width, tile);
      if (legend >= 0 && b == 0) texts[legend].append("rs pos X0 X1\n");
      for (std::size_t r = 0; r < width; ++r) {
        const SnpIterator& snp = snps[first + r];
        if (haps >= 0) {
          for (int g = 0; g < names.groups; ++g)
            append_haplotype_line(tile, r, groups.bound[g], groups.bound[g + 1], texts[haps + g]);
          append_legend_line(snp, texts[legend]);
        }
        if (gens >= 0)
          for (int g = 0; g < names.groups; ++g)
            append_genotype_line(tile, r, groups.bound[g], groups.bound[g + 1],
                                 static_cast<int>(first + r), snp, texts[gens + g]);
      }
    };
  });
}

// The genotype files of the tag SNPs: the interval's SNPs at the positions of
// the tag file, decoded on their own.
void write_tag_files(const HaplotypeSource& source, const std::vector<SnpIterator>& snps,
                     const std::set<int>& positions, const OutputFileNames& names, const Groups& groups,
                     const RunConfig& params, RunLog& log, ThreadBudget* budget) {
  std::vector<int> indices;
  auto tag = positions.begin();
  for (std::size_t k = 0; k < snps.size() && tag != positions.end(); ++k) {
    while (tag != positions.end() && *tag < snps[k]->first) ++tag;
    if (tag != positions.end() && *tag == snps[k]->first) {
      indices.push_back(static_cast<int>(k));
      ++tag;
    }
  }
  FileSet set(params, log);
  for (int g = 0; g < names.groups; ++g) set.open(names.tags[g]);
  const std::size_t count = indices.size(), block = block_snps(source.haplotypes());
  const std::size_t blocks = (count + block - 1) / block;
  write_blocks(set, count, block, blocks, "Writing tag SNPs", budget, [&]() -> BlockFormatter {
    return [&, tile = Tile(), chunk = std::vector<int>()](std::size_t b,
                                                           std::vector<TextBuffer>& texts) mutable {
      chunk.assign(indices.begin() + b * block, indices.begin() + std::min((b + 1) * block, count));
      source.decode_snps(chunk, tile);
      for (std::size_t r = 0; r < chunk.size(); ++r)
        for (int g = 0; g < names.groups; ++g)
          append_genotype_line(tile, r, groups.bound[g], groups.bound[g + 1], chunk[r], snps[chunk[r]],
                               texts[g]);
    };
  });
}

// A pedigree run's one sample file gives families, parents and sex, and no
// phenotype.
void write_sample_files(const OutputFileNames& names, const Groups& groups, const Samples& samples,
                        const RunConfig& params, RunLog& log) {
  std::ostringstream announced;
  for (int g = 0; g < names.groups; ++g) {
    auto out = std::make_unique<BlockWriter>(names.sample[g], announced, params.gz_level);
    log.report(announced);
    out->append(samples.from_pedigree() ? "ID_1 ID_2 missing father mother sex\n0 0 0 D D D\n"
                                        : "ID_1 ID_2 missing pheno\n0 0 0 B\n");
    for (std::size_t i = groups.bound[g] / 2; i < groups.bound[g + 1] / 2; ++i) {
      samples.append_oxford_ids(*out, i);
      out->append(" 0 ", 3);
      if (samples.from_pedigree())
        samples.append_parents_and_sex(*out, i);
      else
        append_int(*out, g);
      out->append('\n');
      out->line_done();
    }
    out->close();
  }
}

}  // namespace

bool writes_genotypes(const RunConfig& params) {
  return params.haps_output || params.gens_output || params.tag_snps || params.output_plink || params.output_vcf ||
         params.output_bcf;
}

void write_sample_only_files(std::size_t haplotypes, const RunConfig& params, RunLog& log) {
  assert(!writes_genotypes(params));
  log.report("\nWriting output to files \n");
  const std::size_t controls = 2 * static_cast<std::size_t>(params.ncontrols);
  write_sample_files(output_file_names(params), Groups{{0, controls, haplotypes}}, Samples(nullptr, params), params,
                     log);
}

void write_output_files(const HaplotypeSource& source, const std::map<int, snp>& snps, const RunConfig& params,
                        const GeneticMap& map, const std::set<int>& tags, const Pedigree* pedigree, RunLog& log,
                        ThreadBudget* budget) {
  const Samples samples(pedigree, params);
  log.report("\nWriting output to files \n");
  check_haplotype_count(source, params, log);

  const std::size_t controls = 2 * static_cast<std::size_t>(params.ncontrols);
  const Groups groups{{0, controls, source.haplotypes()}};
  std::vector<SnpIterator> snp_its;
  snp_its.reserve(snps.size());
  for (SnpIterator it = snps.begin(); it != snps.end(); ++it) snp_its.push_back(it);

  const OutputFileNames names = output_file_names(params);
  write_snp_files(source, snp_its, names, groups, params, log, budget);
  if (params.tag_snps) write_tag_files(source, snp_its, tags, names, groups, params, log, budget);
  write_sample_files(names, groups, samples, params, log);

  // The formats for association software, after the files above.
  if (params.output_plink)
    write_plink_files(source, snps, params, map, samples, log, budget);
  else if ((params.output_vcf || params.output_bcf) && samples.from_pedigree())
    write_fam_file(source.haplotypes() / 2, params, samples, log);
  if (params.output_vcf || params.output_bcf) write_vcf_files(source, snps, params, samples, log, budget);
}
