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
  if (config.pedigree) {
    names.groups = 1;
    names.haps[0] = name(".haps", true);
    names.gen[0] = name(".gen", true);
    names.tags[0] = name(".tags.gen", true);
    names.sample[0] = name(".sample", false);
  }
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

// Both kinds of set, with and without a pedigree: a run replaces the files
// of an earlier run of either kind.
void append_names(const RunConfig& config, std::vector<fs::path>& names) {
  for (const bool pedigree : {false, true}) {
    RunConfig kind = config;
    kind.pedigree = pedigree;
    const OutputFileNames set = output_file_names(kind);
    for (const fs::path* group : {set.haps, set.gen, set.tags, set.sample})
      names.insert(names.end(), group, group + set.groups);
    names.push_back(set.legend);
  }
  for (const char* suffix : {".bed", ".bim", ".fam", ".pheno", ".vcf.gz", ".vcf.gz.tbi", ".bcf", ".bcf.csi",
                             ".transmission.tsv"})
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

RunConfig written_individuals(const RunConfig& run) {
  RunConfig written = run;
  if (run.keep.empty()) return written;
  const auto controls = std::lower_bound(run.keep.begin(), run.keep.end(), static_cast<std::size_t>(run.ncontrols));
  written.ncontrols = static_cast<std::int32_t>(controls - run.keep.begin());
  written.ncases = static_cast<std::int32_t>(run.keep.end() - controls);
  return written;
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

std::string Samples::vcf_name(std::size_t i) const {
  if (!families) return sample_name(id(i));
  const PedigreeMember& m = families->members[i];
  return m.family + "_" + m.id;
}

void Samples::append_family_ids(TextBuffer& out, std::size_t i) const {
  if (!families) return ::append_family_ids(out, id(i));
  const PedigreeMember& m = families->members[i];
  out.append(m.family);
  out.append(' ');
  out.append(m.id);
}

void Samples::append_parents_and_sex(TextBuffer& out, std::size_t i) const {
  if (!families) return out.append("0 0 0", 5);
  const PedigreeMember& m = families->members[i];
  out.append(m.founder() ? std::string("0") : families->members[m.father].id);
  out.append(' ');
  out.append(m.founder() ? std::string("0") : families->members[m.mother].id);
  out.append(' ');
  out.append(static_cast<char>('0' + m.sex));
}

void Samples::append_oxford_ids(TextBuffer& out, std::size_t i) const {
  if (!families) return append_sample_ids(out, id(i));
  append_family_ids(out, i);
}
