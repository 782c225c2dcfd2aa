// The flags of a polygenic trait: its causal SNPs, heritability, prevalence
// and replicates, and the genome-wide step that combines chromosomes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <string>

#include "core/errors.hpp"
#include "core/numbers.hpp"
#include "params/tarvik_parameters.hpp"

namespace {

const char* const trait_flags[] = {"-causal",     "-causal_random", "-causal_maf", "-alpha",  "-h2",
                                   "-prevalence", "-replicates",    "-pheno01",    "-combine", "-ascertain"};

const int max_replicates = 10000;

double number(const std::string& flag, const char* token) {
  const std::string text = token;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || *end != '\0' || !std::isfinite(value))
    throw RunError("flag " + flag + " expects a number but got \"" + text + "\".\n");
  return value;
}

// A number above 0 and below 1, or at most 1 when `one_included`.
double fraction(const std::string& flag, const char* token, bool one_included) {
  const double value = number(flag, token);
  if (!(value > 0 && (value < 1 || (one_included && value == 1))))
    throw RunError("flag " + flag + " expects a number above 0 and " + (one_included ? "at most" : "below") +
                   " 1 but got \"" + token + "\".\n");
  return value;
}

int count(const std::string& flag, const char* token, int highest) {
  std::int32_t value = 0;
  if (!parse_int32(token, value) || value < 1 || value > highest)
    throw RunError("flag " + flag + " expects an integer from 1 to " + std::to_string(highest) + " but got \"" +
                   token + "\".\n");
  return value;
}

}  // namespace

void TarvikParameters::recognise_trait_flags() {
  for (const char* flag : trait_flags) recognised_flags.insert(flag);
}

int TarvikParameters::read_trait_flag(const std::string& token, int i, int argc, char** argv) {
  bool known = false;
  for (const char* flag : trait_flags) known |= token == flag;
  if (!known) return -1;
  if (token == "-pheno01") {
    trait.pheno01 = true;
    return 0;
  }
  if (i + 1 > argc - 1) throw FlagError(token);
  const char* value = argv[i + 1];
  if (token == "-ascertain") {
    if (i + 2 > argc - 1) throw FlagError(token);
    trait.ascertain = true;
    trait.ascertain_cases = count(token, value, INT32_MAX / 2);
    std::int32_t controls = 0;
    if (!parse_int32(argv[i + 2], controls) || controls < 0 || controls > INT32_MAX / 2)
      throw RunError("flag -ascertain expects a number of controls from 0 to " + std::to_string(INT32_MAX / 2) +
                     " but got \"" + argv[i + 2] + "\".\n");
    trait.ascertain_controls = controls;
    return 2;
  }
  if (token == "-causal") {
    trait.causal_file = value;
    if (trait.causal_file.empty()) throw RunError("flag -causal expects a file name but got \"\".\n");
  } else if (token == "-causal_random") {
    trait.causal_random = count(token, value, 10000000);
  } else if (token == "-causal_maf") {
    trait.causal_maf = number(token, value);
    if (!(trait.causal_maf >= 0 && trait.causal_maf <= 0.5))
      throw RunError("flag -causal_maf expects a minor-allele frequency from 0 to 0.5 but got \"" +
                     std::string(value) + "\".\n");
  } else if (token == "-alpha") {
    trait.alpha = number(token, value);
  } else if (token == "-h2") {
    trait.h2 = fraction(token, value, true);
  } else if (token == "-prevalence") {
    trait.prevalence = fraction(token, value, false);
  } else if (token == "-replicates") {
    trait.replicates = count(token, value, max_replicates);
  } else if (token == "-combine") {
    trait.combine_list = value;
    if (trait.combine_list.empty()) throw RunError("flag -combine expects a file name but got \"\".\n");
  }
  return 1;
}

void TarvikParameters::check_trait_flags() {
  auto refuse = [](const std::string& text) { throw RunError(text + "\n"); };
  const bool causal = flag_given("-causal") || flag_given("-causal_random");
  if (flag_given("-causal") && flag_given("-causal_random"))
    refuse("flags -causal and -causal_random both choose the causal SNPs; give only one of them.");
  for (const char* flag : {"-causal_maf", "-alpha"})
    if (flag_given(flag) && !flag_given("-causal_random"))
      refuse(std::string("flag ") + flag + " applies to drawn causal SNPs; it needs -causal_random.");
  if (flag_given("-combine")) {
    for (const char* flag : {"-h", "-l", "-vcf", "-m", "-t", "-dl", "-causal", "-causal_random", "-n",
                             "-output_plink", "-output_vcf", "-output_bcf", "-output_snp_summary"})
      if (flag_given(flag))
        refuse(std::string("flag -combine sums the genetic values of earlier runs and simulates nothing; ") +
               flag + " cannot be given with it.");
    if (!flag_given("-h2")) refuse("flag -combine needs -h2, the heritability of the phenotypes it writes.");
  }
  for (const char* flag : {"-h2", "-prevalence", "-replicates", "-pheno01"})
    if (flag_given(flag) && !causal && !flag_given("-combine"))
      refuse(std::string("flag ") + flag + " describes a trait; it needs -causal, -causal_random or -combine.");
  for (const char* flag : {"-prevalence", "-replicates"})
    if (flag_given(flag) && !flag_given("-h2"))
      refuse(std::string("flag ") + flag + " describes phenotypes, which need -h2 (the heritability).");
  if (flag_given("-pheno01") && !flag_given("-prevalence"))
    refuse("flag -pheno01 codes a binary trait's phenotypes; it needs -prevalence.");
  check_ascertain_flags(causal);
  if (!causal) return;
  if (flag_given("-dl"))
    refuse("a trait (-causal, -causal_random) and relative-risk disease loci (-dl) cannot be simulated in "
           "one run: a trait run draws a population sample and sets cases by -prevalence.");
  if (flag_given("-ascertain")) {
    // The sample: the kept individuals, all written as one population group;
    // -n limits the population they are picked from.
    if (flag_given("-n")) trait.ascertain_population = ncontrols;
    ncontrols = trait.ascertain_cases + trait.ascertain_controls;
    ncases = 0;
    return;
  }
  if (!flag_given("-pedigree") && (ncases != 0 || !flag_given("-n")))
    refuse("a trait (-causal, -causal_random) is simulated on a population sample: give -n <individuals> 0 "
           "(cases come from -prevalence, not from relative risks).");
}

// -ascertain picks from the liabilities of a binary trait: in a run that
// scores the population engine's individuals one by one, or in -combine
// from the genome-wide values of a population the chromosomes scored.
void TarvikParameters::check_ascertain_flags(bool causal) {
  if (!flag_given("-ascertain")) return;
  auto refuse = [](const std::string& text) { throw RunError("flag -ascertain " + text + "\n"); };
  if (!causal && !flag_given("-combine"))
    refuse("picks cases and controls by a trait's liability; it needs -causal, -causal_random or -combine.");
  if (!flag_given("-prevalence") || !flag_given("-h2"))
    refuse("picks cases by a liability threshold; it needs -h2 and -prevalence.");
  if (trait.replicates != 1) refuse("picks the sample of one phenotype; it cannot be given with -replicates.");
  if (flag_given("-combine")) return;
  if (!flag_given("-copy_panel_only"))
    refuse("scores individuals of the population one by one, which needs -copy_panel_only (each individual "
           "copied from the panel alone).");
  for (const char* flag : {"-keep", "-pedigree"})
    if (flag_given(flag))
      refuse(std::string("chooses the individuals of the run; ") + flag + " cannot be given with it.");
  if (flag_given("-n") && (ncases != 0 || ncontrols < 1))
    refuse("scores a population: -n gives its size as -n <individuals> 0.");
}

void TarvikParameters::trait_input_files(std::vector<InputFileFlag>& inputs) const {
  if (!trait.causal_file.empty()) inputs.push_back({"-causal", trait.causal_file.string()});
  if (!trait.combine_list.empty()) inputs.push_back({"-combine", trait.combine_list.string()});
}

void TarvikParameters::trait_help(std::ostream& out) const {
  auto line = [&out](const char* synopsis, const char* description) {
    out << std::left << std::setw(40) << synopsis << description;
  };
  line("-causal <file> ", ": causal SNPs of a trait, lines \"position effect\" (per copy of allele 1)\n");
  line("-causal_random <m> ", ": draw m causal SNPs among those of panel minor-allele frequency >= -causal_maf\n");
  line("-causal_maf <f> ", ": the least minor-allele frequency of a drawn causal SNP; defaults to 0.01\n");
  line("-alpha <a> ", ": drawn effects N(0,1)*[2p(1-p)]^(a/2); defaults to -1\n");
  line("-h2 <x> ", ": heritability of the phenotypes (0 < x <= 1), written to <stem>.pheno\n");
  line("-prevalence <k> ", ": a binary trait: cases are the liabilities above the (1-k) normal quantile\n");
  line("-replicates <r> ", ": r phenotype columns from the same genotypes; defaults to 1\n");
  line("-pheno01 ", ": binary phenotypes as 0/1 instead of 1/2\n");
  line("-combine <file> ", ": sum the .gv files listed in <file> (one a line) into <stem>.pheno; needs -h2\n");
  line("-ascertain <cases> <controls> ", ": keep the first cases above the liability threshold and controls below\n");
}

void TarvikParameters::trait_summary(std::ostream& out) const {
  if (!trait.simulated() && !trait.combine()) return;
  auto label = [&out](const char* text) -> std::ostream& { return out << std::right << std::setw(60) << text; };
  const std::ios_base::fmtflags flags = out.flags();
  const std::streamsize precision = out.precision();
  out << std::defaultfloat << std::setprecision(6);
  out << "TRAIT\n";
  if (trait.combine()) label("genetic values combined from: ") << trait.combine_list.string() << "\n";
  if (!trait.causal_file.empty()) label("causal SNPs file: ") << trait.causal_file.string() << "\n";
  if (trait.causal_random > 0) {
    label("causal SNPs drawn: ") << trait.causal_random << "\n";
    label("least minor-allele frequency: ") << trait.causal_maf << "\n";
    label("alpha: ") << trait.alpha << "\n";
  }
  if (trait.phenotypes()) {
    label("heritability: ") << trait.h2 << "\n";
    if (trait.binary()) label("prevalence: ") << trait.prevalence << "\n";
    label("replicates: ") << trait.replicates << "\n";
  }
  if (trait.ascertained()) {
    label("ascertained cases: ") << trait.ascertain_cases << "\n";
    label("ascertained controls: ") << trait.ascertain_controls << "\n";
    if (trait.ascertain_population > 0) label("from a population of at most: ") << trait.ascertain_population << "\n";
  }
  out.flags(flags);
  out.precision(precision);
}
