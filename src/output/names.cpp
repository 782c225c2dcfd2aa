#include "output/names.hpp"

#include <algorithm>

#include "output/text_lines.hpp"

namespace fs = boost::filesystem;

OutputFileNames output_file_names(const RunConfig& config) {
  const fs::path& output = config.output_file;
  const bool gzip_mode = output.extension() == ".gz";
  const std::string stem = output.stem().string();
  // In gzip mode only the haplotype and genotype files carry ".gz" and so are
  // compressed; the legend and sample files stay plain text.
  auto name = [&](const std::string& suffix, bool compressed) {
    if (!gzip_mode) return fs::path(output.string() + suffix);
    return config.output_directory / (stem + suffix + (compressed ? ".gz" : ""));
  };
  OutputFileNames names;
  names.haps[0] = name(".controls.haps", true);
  names.haps[1] = name(".cases.haps", true);
  names.legend = name(".legend", false);
  names.gen[0] = name(".controls.gen", true);
  names.gen[1] = name(".cases.gen", true);
  names.tags[0] = name(".controls.tags.gen", true);
  names.tags[1] = name(".cases.tags.gen", true);
  names.sample[0] = name(".controls.sample", false);
  names.sample[1] = name(".cases.sample", false);
  return names;
}

fs::path gwas_file_name(const RunConfig& config, const std::string& suffix) {
  const fs::path& output = config.output_file;
  if (output.extension() != ".gz") return output.string() + suffix;
  return config.output_directory / (output.stem().string() + suffix);
}

const char* const pheno_suffix = ".pheno";
const char* const causal_suffix = ".causal.tsv";
const char* const genetic_value_suffix = ".gv";
const char* const assoc_suffix = ".assoc.tsv";

namespace {

void append_names(const RunConfig& config, std::vector<fs::path>& names) {
  const OutputFileNames set = output_file_names(config);
  for (const fs::path* group : {set.haps, set.gen, set.tags, set.sample})
    names.insert(names.end(), group, group + 2);
  names.push_back(set.legend);
  for (const char* suffix : {".bed", ".bim", ".fam", ".pheno", ".vcf.gz", ".vcf.gz.tbi", ".bcf", ".bcf.csi"})
    names.push_back(gwas_file_name(config, suffix));
  for (const char* suffix : {causal_suffix, genetic_value_suffix, assoc_suffix})
    names.push_back(gwas_file_name(config, suffix));
}

}  // namespace

std::vector<fs::path> possible_output_names(const RunConfig& config, const std::string& summary_file) {
  const std::string stem = config.output_file.string();
  const bool gzip_mode = config.output_file.extension() == ".gz";
  RunConfig plain = config, gzip = config;
  plain.output_file = gzip_mode ? stem.substr(0, stem.size() - 3) : stem;
  gzip.output_file = plain.output_file.string() + ".gz";
  std::vector<fs::path> names;
  append_names(plain, names);
  append_names(gzip, names);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  names.push_back(summary_file);
  return names;
}

std::string sample_name(std::size_t individual) { return "id1_" + std::to_string(individual); }

void append_sample_name(TextBuffer& out, std::size_t individual) {
  out.append("id1_", 4);
  append_int(out, static_cast<long>(individual));
}

void append_family_ids(TextBuffer& out, std::size_t individual) { append_family_ids(out, individual, ' '); }

void append_family_ids(TextBuffer& out, std::size_t individual, char separator) {
  out.append('0');
  out.append(separator);
  append_sample_name(out, individual);
}

void append_sample_ids(TextBuffer& out, std::size_t individual) {
  append_sample_name(out, individual);
  out.append(" id2_", 5);
  append_int(out, static_cast<long>(individual));
}
