#include "driver/run_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <boost/filesystem/operations.hpp>

#include "output/gwas_files.hpp"
#include "output/output_files.hpp"
#include "params/errors.hpp"
#include "params/output_set.hpp"

namespace fs = boost::filesystem;

namespace {

struct Input {
  const char* flag;
  std::string name;
};

std::vector<Input> given_inputs(const TarvikParameters& params) {
  std::vector<Input> inputs;
  if (params.flag_given("-h")) inputs.push_back({"-h", params.haplotype_file.string()});
  if (params.flag_given("-l")) inputs.push_back({"-l", params.legend_file});
  if (params.flag_given("-m")) inputs.push_back({"-m", params.genetic_map_file});
  if (params.flag_given("-t")) inputs.push_back({"-t", params.tag_snps_file.string()});
  if (params.flag_given("-vcf")) inputs.push_back({"-vcf", params.vcf_file.string()});
  return inputs;
}

void append_names(const TarvikParameters& params, std::vector<fs::path>& names) {
  const OutputFileNames set = output_file_names(params);
  for (const fs::path* group : {set.haps, set.gen, set.tags, set.sample})
    names.insert(names.end(), group, group + 2);
  names.push_back(set.legend);
  for (const char* suffix : {".bed", ".bim", ".fam", ".pheno", ".vcf.gz", ".vcf.gz.tbi", ".bcf", ".bcf.csi"})
    names.push_back(gwas_file_name(params, suffix));
}

// Links and "." or ".." resolved as far as the path exists, the rest taken
// as written.
fs::path resolved(const fs::path& name) {
  boost::system::error_code ec;
  fs::path full = fs::weakly_canonical(fs::absolute(name), ec);
  return ec ? fs::absolute(name).lexically_normal() : full;
}

bool same_file(const fs::path& a, const fs::path& b) {
  struct stat sa, sb;
  if (::stat(a.string().c_str(), &sa) == 0 && ::stat(b.string().c_str(), &sb) == 0 &&
      sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
    return true;
  return resolved(a) == resolved(b);
}

void check_against_inputs(const fs::path& output, const std::vector<Input>& inputs) {
  for (const Input& input : inputs)
    if (same_file(output, input.name))
      throw OutputNameException("the output file " + output.string() + " is the input file " + input.name +
                                " (" + input.flag + "); choose another output stem with -o.\n");
}

}  // namespace

std::vector<fs::path> possible_output_names(const TarvikParameters& params) {
  const std::string stem = params.output_file.string();
  const bool gzip_mode = params.output_file.extension() == ".gz";
  TarvikParameters plain = params, gzip = params;
  plain.output_file = gzip_mode ? stem.substr(0, stem.size() - 3) : stem;
  gzip.output_file = plain.output_file.string() + ".gz";
  std::vector<fs::path> names;
  append_names(plain, names);
  append_names(gzip, names);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  names.push_back(params.summary_file);
  return names;
}

void check_inputs_are_not_outputs(const TarvikParameters& params) {
  const std::vector<Input> inputs = given_inputs(params);
  for (const fs::path& output : possible_output_names(params)) check_against_inputs(output, inputs);
}

bool summary_is_an_input(const TarvikParameters& params) {
  const std::vector<Input> inputs = given_inputs(params);
  return std::any_of(inputs.begin(), inputs.end(),
                     [&](const Input& input) { return same_file(params.summary_file, input.name); });
}

void check_tag_file_readable(const TarvikParameters& params) {
  if (!params.flag_given("-t")) return;
  // Only looked at, not opened: opening a pipe (-t <(...)) would spend it.
  const std::string name = params.tag_snps_file.string();
  struct stat info;
  if (::stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || ::access(name.c_str(), R_OK) != 0)
    throw badfilename::reading(name, "can't open file.");
}

void commit_run_outputs(const TarvikParameters& params, std::ostream& log) {
  const std::vector<fs::path> written = commit_output_set();
  std::vector<fs::path> stale;
  for (const fs::path& name : possible_output_names(params)) {
    if (name == params.summary_file || std::find(written.begin(), written.end(), name) != written.end())
      continue;
    boost::system::error_code ec;
    if (fs::symlink_status(name, ec).type() != fs::file_not_found && !ec) stale.push_back(name);
  }
  if (stale.empty()) return;
  log << "WARNING!! These files of the same output stem were not written by this run and are left as they "
         "were:\n";
  for (const fs::path& name : stale) log << "    " << name.string() << "\n";
  log << "\n";
}
