#pragma once
// What a run is asked to do, read once from the command line into typed
// members: every layer below the parser reads these, never a flag string.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

class DiseaseLocus {
 public:
  int disease_allele;
  double rr1;
  double rr2;
  // Relative risk indexed by the number of allele-1 codes in a genotype.
  std::vector<double> rr;

  DiseaseLocus();
  DiseaseLocus(const int& allele, const double& het_risk, const double& hom_risk);
};

// How the generator is seeded: from the clock (the log names the word that
// repeats the run), with the fixed seed 0.12345 (-nrs), or with a seed word
// (-seed).
enum class SeedSource { clock, fixed, word };

// A polygenic trait over causal SNPs (-causal or -causal_random), and the
// genome-wide step that sums the chromosomes' genetic values (-combine).
struct TraitConfig {
  boost::filesystem::path causal_file;  // -causal: "position effect" lines
  int causal_random = 0;                // -causal_random M; 0 when not drawn
  double causal_maf = 0.01;             // -causal_maf: least panel minor-allele frequency of a drawn SNP
  double alpha = -1.0;                  // -alpha: drawn effects scale with [2p(1-p)]^(alpha/2)
  double h2 = 0.0;                      // -h2; 0 when no phenotype is asked for
  double prevalence = 0.0;              // -prevalence; 0 for a quantitative trait
  int replicates = 1;                   // -replicates: phenotype columns
  bool pheno01 = false;                 // -pheno01: binary columns 0/1 instead of 1/2
  boost::filesystem::path combine_list; // -combine: a file naming .gv files, one a line
  // -ascertain CASES CONTROLS: the first CASES individuals of the population
  // whose liability passes the threshold and the first CONTROLS below it.
  std::int32_t ascertain_cases = 0, ascertain_controls = 0;
  std::int32_t ascertain_population = 0;  // -n with -ascertain: individuals 0 .. n - 1 at most; 0: no limit
  bool ascertain = false;

  bool simulated() const { return causal_random > 0 || !causal_file.empty(); }
  bool combine() const { return !combine_list.empty(); }
  bool phenotypes() const { return h2 > 0.0; }
  bool binary() const { return prevalence > 0.0; }
  bool ascertained() const { return ascertain; }
};

struct RunConfig {
  // The panel: haplotype and legend files, or a phased VCF or BCF file.
  boost::filesystem::path haplotype_file = "NULL";
  std::string legend_file = "NULL";
  boost::filesystem::path vcf_file;
  bool vcf_panel = false;  // -vcf
  std::string genetic_map_file = "NULL";
  boost::filesystem::path tag_snps_file;
  bool tag_snps = false;  // -t
  // The physical interval, both ends included; `interval_given` when -int
  // narrowed it (an indexed VCF panel is then read for it alone).
  std::int32_t lower = 0;
  std::int32_t upper = 500000000;
  bool interval_given = false;
  // The chromosome of the PLINK and VCF files, and the contig read from a
  // VCF panel; `chromosome_given` when -chr named it.
  std::string chromosome;
  bool chromosome_given = false;

  // The output stem and the files wanted.
  boost::filesystem::path output_file;
  boost::filesystem::path output_directory;
  bool haps_output = true;     // no -no_haps_output
  bool gens_output = true;     // no -no_gens_output
  bool output_plink = false;   // -output_plink
  bool output_vcf = false;     // -output_vcf
  bool output_bcf = false;     // -output_bcf
  bool snp_summary = false;    // -output_snp_summary

  // The model and the sample.
  std::int32_t ncontrols = 1;
  std::int32_t ncases = 1;
  double Ne = 11418;
  double theta = -1.0;  // negative: from the panel size
  std::map<double, DiseaseLocus> dl;
  bool copy_panel_only = false;  // -copy_panel_only
  SeedSource seed = SeedSource::clock;
  std::uint32_t seed_word = 0;  // -seed
  // -keep: the file, and the individuals it lists (indices, ascending, each
  // once), read once the sample size is known; only these are simulated
  // and written, under their own identities. Empty: every individual.
  boost::filesystem::path keep_file;
  bool keep_given = false;  // -keep
  std::vector<std::size_t> keep;

  // Families: the pedigree whose founders are simulated and whose children
  // inherit from them, and the de novo mutation rate per SNP and meiosis.
  boost::filesystem::path pedigree_file;
  bool pedigree = false;  // -pedigree
  double denovo = 0.0;    // -denovo

  // Resources: the files are the same for every value.
  int threads = 1;
  int gz_level = 6;  // of the .gz output files, 1 to 9

  TraitConfig trait;
};
