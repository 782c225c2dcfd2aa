#include "params/tarvik_parameters.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <thread>

#include <boost/filesystem.hpp>

#include "core/errors.hpp"
#include "core/numbers.hpp"

namespace {

const std::int32_t default_upper = RunConfig().upper;
const int max_default_threads = 16;
// Each thread keeps a few blocks of output text in flight; far beyond the
// cores a machine can have, more threads only cost memory.
const int max_threads = 256;

// The cores this process may run on (its affinity mask, which containers and
// taskset narrow), else the machine's; from 1 to max_default_threads.
int default_thread_count() {
  int cores = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::min(std::max(cores, 1), max_default_threads);
}

std::int32_t integer_value(const std::string& flag, const std::string& token) {
  std::int32_t value = 0;
  if (!parse_int32(token, value))
    throw RunError("flag " + flag + " expects an integer within 32 bits but got \"" +
                                token + "\".\n");
  return value;
}

int integer_in_range(const std::string& flag, const std::string& token, int lowest, int highest) {
  std::int32_t value = 0;
  if (!parse_int32(token, value) || value < lowest || value > highest)
    throw RunError("flag " + flag + " expects an integer from " + std::to_string(lowest) +
                                " to " + std::to_string(highest) + " but got \"" + token + "\".\n");
  return value;
}

double real_value(const std::string& flag, const std::string& token) {
  const char* begin = token.c_str();
  char* end = nullptr;
  double value = std::strtod(begin, &end);
  bool whole = !token.empty() && !std::isspace(static_cast<unsigned char>(token[0])) && *end == '\0';
  if (!whole || !std::isfinite(value))
    throw RunError("flag " + flag + " expects a number but got \"" + token + "\".\n");
  return value;
}

// A seed word: a whole decimal integer from 0 to 2^32 - 1.
std::uint32_t seed_value(const std::string& flag, const std::string& token) {
  bool digits = !token.empty() && token.size() <= 10;
  for (char c : token) digits &= c >= '0' && c <= '9';
  const unsigned long long value = digits ? std::strtoull(token.c_str(), nullptr, 10) : 0;
  if (!digits || value > 4294967295ULL)
    throw RunError("flag " + flag + " expects an integer from 0 to 4294967295 but got \"" +
                                token + "\".\n");
  return static_cast<std::uint32_t>(value);
}

void require_values(const std::string& flag, int i, int count, int argc) {
  if (i + count > argc - 1) throw FlagError(flag);
}

// A name that a VCF header can carry as a contig ID and that PLINK reads as
// one field: printable, without blanks, and without the characters that
// delimit header fields.
std::string chromosome_value(const std::string& token) {
  bool usable = !token.empty() && token[0] != '*' && token[0] != '=';
  for (const unsigned char c : token)
    if (c <= ' ' || c > '~' || std::strchr("\"'(),<>[]\\`{}", c) != nullptr) usable = false;
  if (!usable)
    throw RunError("flag -chr expects a chromosome name without blanks, quotes, "
                                "commas or brackets (a VCF contig name) but got \"" + token + "\".\n");
  return token;
}

void help_line(std::ostream& out, const std::string& synopsis, const std::string& description) {
  out << std::left << std::setw(40) << synopsis << description;
}

}  // namespace

DiseaseLocus::DiseaseLocus() : disease_allele(0), rr1(1.0), rr2(1.0), rr{1.0, 1.0, 1.0} {}

DiseaseLocus::DiseaseLocus(const int& allele, const double& het_risk, const double& hom_risk)
    : disease_allele(allele), rr1(het_risk), rr2(hom_risk) {
  if (allele != 0 && allele != 1)
    throw RunError("Disease allele must be 0 or 1 but got " + std::to_string(allele) +
                                " in DiseaseLocus. \n");
  if (allele == 1)
    rr = {1.0, rr1, rr2};
  else
    rr = {rr2, rr1, 1.0};
}

TarvikParameters::TarvikParameters() {
  reset_parameters();
  specify_recognised_parameters();
}

void TarvikParameters::reset_parameters() {
  command_line.clear();
  static_cast<RunConfig&>(*this) = RunConfig();
  threads = default_thread_count();
  summary_file = "tarvik2.summary";
  essential_flags = {"-h", "-l", "-m", "-o"};
  flag_dependencies.clear();
  for (const char* format : {"-output_plink", "-output_vcf", "-output_bcf"})
    flag_dependencies[format] = {"-chr"};
}

void TarvikParameters::record_switches() {
  vcf_panel = flag_given("-vcf");
  tag_snps = flag_given("-t");
  interval_given = flag_given("-int");
  chromosome_given = flag_given("-chr");
  haps_output = !flag_given("-no_haps_output");
  gens_output = !flag_given("-no_gens_output");
  output_plink = flag_given("-output_plink");
  output_vcf = flag_given("-output_vcf");
  output_bcf = flag_given("-output_bcf");
  snp_summary = flag_given("-output_snp_summary");
  copy_panel_only = flag_given("-copy_panel_only");
  pedigree = flag_given("-pedigree");
  keep_given = flag_given("-keep");
  seed = flag_given("-seed") ? SeedSource::word : flag_given("-nrs") ? SeedSource::fixed : SeedSource::clock;
}

std::vector<InputFileFlag> TarvikParameters::input_files() const {
  std::vector<InputFileFlag> inputs;
  if (flag_given("-h")) inputs.push_back({"-h", haplotype_file.string()});
  if (flag_given("-l")) inputs.push_back({"-l", legend_file});
  if (flag_given("-m")) inputs.push_back({"-m", genetic_map_file});
  if (flag_given("-t")) inputs.push_back({"-t", tag_snps_file.string()});
  if (flag_given("-keep")) inputs.push_back({"-keep", keep_file.string()});
  if (flag_given("-vcf")) inputs.push_back({"-vcf", vcf_file.string()});
  if (flag_given("-pedigree")) inputs.push_back({"-pedigree", pedigree_file.string()});
  trait_input_files(inputs);
  return inputs;
}

void TarvikParameters::specify_recognised_parameters() {
  recognised_flags.clear();
  for (const char* flag : {"-help", "-h", "-l", "-m", "-o", "-dl", "-int", "-n", "-t", "-theta",
                           "-Ne", "-nrs", "-no_gens_output", "-no_haps_output",
                           "-output_snp_summary", "-seed", "-copy_panel_only", "-chr", "-vcf",
                           "-output_plink", "-output_vcf", "-output_bcf", "-threads", "-gz_level", "-pedigree",
                           "-denovo", "-keep"})
    recognised_flags.insert(flag);
  recognise_trait_flags();
}

void TarvikParameters::process_parameters(int argc, char** argv) {
  reset_parameters();
  for (int i = 0; i < argc; ++i) {
    const std::string token = argv[i];
    command_line += token + " ";
    if (token.empty() || token[0] != '-') continue;
    specified_flags.insert(token);
    if (token == "-help" || token == "--help") throw HelpRequested();
    if (token == "-version" || token == "--version") throw VersionRequested();
    // Trait flags skip their values, which may be negative (-alpha -1).
    const int values = read_trait_flag(token, i, argc, argv);
    if (values >= 0) {
      for (int k = 1; k <= values; ++k) command_line += std::string(argv[i + k]) + " ";
      i += values;
      continue;
    }
    if (!read_file_flag(token, i, argc, argv)) read_model_flag(token, i, argc, argv);
  }
  check_flag_combinations();
  record_switches();
  prepare_output_directory();
}

// The files and names of a run. False for any other flag.
bool TarvikParameters::read_file_flag(const std::string& token, int i, int argc, char** argv) {
  const auto store = [&](auto& member) {
    require_values(token, i, 1, argc);
    member = argv[i + 1];
    return true;
  };
  if (token == "-h") return store(haplotype_file);
  if (token == "-l") return store(legend_file);
  if (token == "-m") return store(genetic_map_file);
  if (token == "-t") return store(tag_snps_file);
  if (token == "-vcf") return store(vcf_file);
  if (token == "-pedigree") return store(pedigree_file);
  if (token == "-keep") return store(keep_file);
  if (token == "-o") {
    store(output_file);
    summary_file = output_file.string() + ".summary";
    output_directory = output_file.parent_path();
    return true;
  }
  if (token == "-chr") {
    require_values(token, i, 1, argc);
    chromosome = chromosome_value(argv[i + 1]);
    return true;
  }
  return false;
}

// "-dl": groups of four values follow; the list ends at the first group
// whose first token begins with '-'. Within a group every token is a value.
void TarvikParameters::read_disease_loci(int i, int argc, char** argv) {
  const std::string token = "-dl";
  int j = i + 1;
  while (j <= argc - 1 && argv[j][0] != '-') {
    require_values(token, j - 1, 4, argc);
    double position = real_value(token, argv[j]);
    int allele = integer_value(token, argv[j + 1]);
    double het = real_value(token, argv[j + 2]);
    double hom = real_value(token, argv[j + 3]);
    if (het < 0 || hom < 0)
      throw RunError("flag -dl: relative risks must not be negative but got " +
                                  std::string(argv[j + 2]) + " and " + argv[j + 3] + ".\n");
    DiseaseLocus locus(allele, het, hom);
    dl.insert(std::make_pair(position, locus));
    j += 4;
  }
}

// The model, the sample and the run's resources. False for any other flag.
bool TarvikParameters::read_model_flag(const std::string& token, int i, int argc, char** argv) {
  if (token == "-dl") {
    read_disease_loci(i, argc, argv);
  } else if (token == "-int") {
    require_values(token, i, 2, argc);
    lower = integer_value(token, argv[i + 1]);
    if (lower < 0) lower = 0;
    upper = integer_value(token, argv[i + 2]);
    if (upper < 0) upper = default_upper;
    if (lower > upper)
      throw RunError("flag -int: the interval's first position must not be above its last but got " +
                     std::string(argv[i + 1]) + " and " + argv[i + 2] + ".\n");
  } else if (token == "-n") {
    require_values(token, i, 2, argc);
    ncontrols = integer_value(token, argv[i + 1]);
    ncases = integer_value(token, argv[i + 2]);
    if (ncontrols < 0 || ncases < 0)
      throw RunError("flag -n: the numbers of controls and cases must not be negative but got " +
                                  std::string(argv[i + 1]) + " and " + argv[i + 2] + ".\n");
  } else if (token == "-seed") {
    require_values(token, i, 1, argc);
    seed_word = seed_value(token, argv[i + 1]);
  } else if (token == "-theta") {
    require_values(token, i, 1, argc);
    theta = real_value(token, argv[i + 1]);
  } else if (token == "-Ne") {
    require_values(token, i, 1, argc);
    Ne = real_value(token, argv[i + 1]);
    if (Ne < 0)
      throw RunError("flag -Ne: the effective population size must not be negative but got " +
                                  std::string(argv[i + 1]) + ".\n");
  } else if (token == "-threads") {
    require_values(token, i, 1, argc);
    threads = integer_in_range(token, argv[i + 1], 1, max_threads);
  } else if (token == "-denovo") {
    require_values(token, i, 1, argc);
    denovo = real_value(token, argv[i + 1]);
    if (denovo < 0 || denovo > 1)
      throw RunError("flag -denovo expects a probability per SNP and meiosis, from 0 to 1, but got \"" +
                     std::string(argv[i + 1]) + "\".\n");
  } else if (token == "-gz_level") {
    require_values(token, i, 1, argc);
    gz_level = integer_in_range(token, argv[i + 1], 1, 9);
  } else {
    return false;
  }
  return true;
}

void TarvikParameters::check_flag_combinations() {
  collect_unrecognised_flags();
  if (specified_flags.empty()) throw HelpRequested();
  if (flag_given("-seed") && flag_given("-nrs"))
    throw RunError("flags -seed and -nrs both fix the random seed; give only one of them.\n");

  if (Ne < 0 || Ne > 30000) std::cout << "Error: Ne needs to be set" << std::endl;

  if (flag_given("-vcf")) {
    if (flag_given("-h") || flag_given("-l"))
      throw RunError("flag -vcf: the panel is read either from a VCF or BCF file or "
                                  "from haplotype and legend files (-h, -l), not from both.\n");
    essential_flags = {"-m", "-o"};
  }
  if (flag_given("-combine")) essential_flags = {"-combine", "-o"};
  check_required_flags();
  check_pedigree_flags();
  // In the default model every haplotype copies from those simulated before
  // it, so no individual can be made without all those before it.
  if (flag_given("-keep") && !flag_given("-copy_panel_only"))
    throw RunError("flag -keep needs -copy_panel_only: only individuals copied from the panel alone can be "
                   "simulated without the others.\n");
  check_trait_flags();

  // A stem that names a directory would give hidden files such as
  // "out/.legend" and "out/.summary".
  const std::string stem = output_file.string();
  const std::string leaf = output_file.filename().string();
  if (stem.empty() || stem.back() == '/' || leaf == "." || leaf == "..")
    throw OutputNameError("flag -o expects an output stem (a file name, not a directory) but got \"" + stem +
                              "\".\n");
}

// A pedigree gives the individuals; the relative-risk case model has no
// place in a family run.
void TarvikParameters::check_pedigree_flags() {
  if (flag_given("-denovo") && !flag_given("-pedigree"))
    throw RunError("flag -denovo is a mutation rate of transmission from parent to child; it needs -pedigree.\n");
  if (!flag_given("-pedigree")) return;
  for (const char* flag : {"-n", "-dl", "-keep"})
    if (flag_given(flag))
      throw RunError(std::string("flags -pedigree and ") + flag +
                     ": the pedigree gives the individuals, and the relative-risk case model is not used with "
                     "a pedigree; leave out " + flag + ".\n");
  ncontrols = 0;
  ncases = 0;
}

void TarvikParameters::prepare_output_directory() {
  namespace fs = boost::filesystem;
  if (!fs::exists(output_directory)) {
    std::cout << "Creating directory " << output_directory.string() << "\n" << std::flush;
    if (!output_directory.empty()) fs::create_directories(output_directory);
  } else if (!fs::is_directory(output_directory)) {
    throw fs::filesystem_error("cannot create output directory " + output_directory.string() +
                                   ": a file of that name exists",
                               boost::system::errc::make_error_code(boost::system::errc::not_a_directory));
  }
}

void TarvikParameters::parameters_help(std::ostream& out) const {
  out << "Help Menu\n\n";
  out << "Essential flags are:\n";
  help_line(out, "-h <file> ", ": the reference panel (e.g. HapMap) file\n");
  help_line(out, "-l <file> ", ": the legend file to the reference panel\n");
  help_line(out, "-m <file> ", ": the recombinaion rate file\n");
  help_line(out, "-o <file> ", ": the output file\n");
  help_line(out, "-dl <pos1> <allele1> <rr11> <rr12> ... ",
            ": the list of positions, risk allele, heterozygote risk and homozygote risks for each disease locus\n");
  help_line(out, "-int <pos1> <pos2> ", ": the physical position interval of interest (pos2>pos1) \n");
  out << "\nOptional flags are:\n";
  help_line(out, "-n <m> <n>", ": the number of cases (n) and controls (m) individuals to simulate\n");
  help_line(out, "-Ne <n>", ": the effective population side, defaults to 11418\n");
  help_line(out, "-theta <n>", ": the mutation rate\n");
  help_line(out, "-t <file> ",
            ": the physical positions of snps where the data will be written to the .tag.gen the output file\n");
  help_line(out, "-no_gens_output ", ": genotype files will not be written to file\n");
  help_line(out, "-no_haps_output ", ": haplotype files will not be written to file\n");
  help_line(out, "-output_snp_summary ",
            ": output pvalues and effect size estimates for the simulated disease SNPs\n");
  out << "\nFurther flags are:\n";
  help_line(out, "-vcf <file> ", ": the reference panel as a phased VCF or BCF file, instead of -h and -l\n");
  help_line(out, "-chr <name> ",
            ": the chromosome of the PLINK and VCF files (needed with them); with -vcf, the contig read\n");
  help_line(out, "-output_plink ", ": also write <stem>.bed, .bim and .fam, controls first\n");
  help_line(out, "-output_vcf ", ": also write <stem>.vcf.gz with its .tbi index, and <stem>.pheno\n");
  help_line(out, "-output_bcf ", ": also write <stem>.bcf with its .csi index, and <stem>.pheno\n");
  help_line(out, "-seed <word>", ": the random seed word (0 to 4294967295); the log of a run names its word\n");
  help_line(out, "-copy_panel_only", ": copy every haplotype from the panel alone (unrelated individuals)\n");
  help_line(out, "-keep <file> ",
            ": with -copy_panel_only, simulate and write only the individuals listed (id1_<i> or i)\n");
  help_line(out, "-threads <n> ",
            ": the number of threads (default: the machine's cores, at most 16); the output is the same for any n\n");
  help_line(out, "-gz_level <l> ",
            ": the compression level of the .gz output files, from 1 (fastest) to 9 (smallest); defaults to 6\n");
  help_line(out, "-pedigree <file> ",
            ": families to simulate (FID IID PAT MAT SEX per line); founders are copied, children inherit\n");
  help_line(out, "-denovo <rate> ", ": with -pedigree, the mutation rate per SNP and meiosis (default 0)\n");
  help_line(out, "-version ", ": print the version and exit (also --version; --help is -help)\n");
  trait_help(out);
}

namespace {

// Labels of the summary are right-aligned in one column, values after them.
std::ostream& summary_label(std::ostream& out, const char* text) {
  return out << std::right << std::setw(60) << text;
}

// The disease loci as three numbered lists: positions, alleles, risks. The
// stream is left in fixed notation without decimals, as the lines after read.
void disease_loci_summary(std::ostream& out, const std::map<double, DiseaseLocus>& dl) {
  out << std::fixed << std::setprecision(0);
  int k = 1;
  summary_label(out, "disease loci: ");
  for (const auto& locus : dl) out << "(" << k++ << ") " << locus.first << " ";
  out << "\n";
  k = 1;
  summary_label(out, "disease alleles: ");
  for (const auto& locus : dl) out << "(" << k++ << ") " << locus.second.disease_allele << " ";
  out << "\n";
  k = 1;
  summary_label(out, "heterozygote/homozygote risks: ");
  for (const auto& locus : dl)
    out << "(" << k++ << ") " << std::setprecision(2) << locus.second.rr1 << "/" << locus.second.rr2
        << std::setprecision(0) << " ";
  out << "\n";
}

}  // namespace

void TarvikParameters::files_summary(std::ostream& out) const {
  auto label = [&out](const char* text) -> std::ostream& { return summary_label(out, text); };
  out << "FILE INPUTS\n";
  label("haplotype file: ") << haplotype_file.string() << "\n";
  label("legend file: ") << legend_file << "\n";
  label("genetic map file: ") << genetic_map_file << "\n";
  label("tag snps file: ") << (flag_given("-t") ? tag_snps_file.string() : std::string()) << "\n";
  if (flag_given("-vcf")) label("vcf panel file: ") << vcf_file.string() << "\n";
  if (flag_given("-pedigree")) label("pedigree file: ") << pedigree_file.string() << "\n";
  if (flag_given("-keep")) label("individuals kept: ") << keep_file.string() << "\n";

  out << "FILE OUTPUTS\n";
  label("output file: ") << output_file.string() << "\n";
  label("summary file: ") << summary_file << "\n";
  if (flag_given("-chr")) label("chromosome: ") << chromosome << "\n";
  std::string formats;
  for (const char* format : {"-output_plink", "-output_vcf", "-output_bcf"})
    if (flag_given(format)) formats += std::string(formats.empty() ? "" : ", ") + (format + 8);
  if (!formats.empty()) label("GWAS file formats: ") << formats << "\n";
}

void TarvikParameters::model_summary(std::ostream& out) const {
  auto label = [&out](const char* text) -> std::ostream& { return summary_label(out, text); };
  out << "PARAMETER INPUTS\n";
  label("no. controls to simulate: ") << ncontrols << "\n";
  label("no. cases to simulate: ") << ncases << "\n";
  disease_loci_summary(out, dl);
  label("lower: ") << lower << "\n";
  label("upper: ") << upper << "\n";
  label("Ne: ") << Ne << "\n";
  label("theta: ") << theta << "\n";
  // Only when asked for: the summary of a run without these flags stays as it was.
  if (flag_given("-threads")) label("threads: ") << threads << "\n";
  if (flag_given("-gz_level")) label("gzip compression level: ") << gz_level << "\n";
  if (flag_given("-denovo")) label("de novo mutation rate: ") << std::defaultfloat << denovo << "\n";
}

void TarvikParameters::parameters_summary(std::ostream& out) const {
  out << "Command line input is:\n" << command_line << "\n\n";
  write_unrecognised_warning(out);
  files_summary(out);
  model_summary(out);
  trait_summary(out);
  out << "\n";
}
