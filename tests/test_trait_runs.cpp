// Trait flags on the command line, and whole trait runs of the binary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <cstdlib>
#include <sstream>

#include "params/tarvik_parameters.hpp"
#include "sim/trait_stream.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

// The region of the example panel the runs simulate, and a trait on it.
const std::string region = "-int 1000000 1400000 -chr 20 -no_gens_output ";
const std::string trait = "-n 300 0 -causal_random 20 -h2 0.6 -prevalence 0.2 -replicates 2 ";

}  // namespace

TEST(TraitFlags, CommandLinesThatStopAndValuesRead) {
  const std::string base = "tarvik -h H -l L -m M -o run ";
  const std::string stop = "Error encountered, program terminated: ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {base + "-n 10 0 -causal c -causal_random 5", "flags -causal and -causal_random both choose the causal SNPs"},
      {base + "-n 10 0 -causal c -alpha 0", "flag -alpha applies to drawn causal SNPs; it needs -causal_random."},
      {base + "-h2 0.5", "flag -h2 describes a trait; it needs -causal, -causal_random or -combine."},
      {base + "-n 10 0 -causal_random 5 -h2 0", "flag -h2 expects a number above 0 and at most 1 but got \"0\"."},
      {base + "-n 10 0 -causal_random 5 -h2 0.5 -prevalence 1",
       "flag -prevalence expects a number above 0 and below 1 but got \"1\"."},
      {base + "-n 10 0 -causal_random 5 -prevalence 0.1", "flag -prevalence describes phenotypes, which need -h2"},
      {base + "-n 10 0 -causal_random 5 -h2 1 -pheno01", "flag -pheno01 codes a binary trait's phenotypes"},
      {base + "-n 10 2 -causal_random 5", "a trait (-causal, -causal_random) is simulated on a population sample"},
      {base + "-causal_random 5", "give -n <individuals> 0"},
      {base + "-n 10 0 -causal_random 5 -dl 100 1 1 1", "and relative-risk disease loci (-dl) cannot be simulated"},
      {"tarvik -combine list -o run", "flag -combine needs -h2"},
      {base + "-causal_random 5 -h2 0.5 -ascertain 10 20", "-ascertain picks cases by a liability threshold"},
      {base + "-causal_random 5 -h2 0.5 -prevalence 0.1 -ascertain 10 20", "which needs -copy_panel_only"},
      {base + "-copy_panel_only -n 10 5 -causal_random 5 -h2 0.5 -prevalence 0.1 -ascertain 10 20",
       "-n gives its size as -n <individuals> 0."},
      {base + "-copy_panel_only -keep k -causal_random 5 -h2 0.5 -prevalence 0.1 -ascertain 10 20",
       "-keep cannot be given with it."},
      {base + "-copy_panel_only -causal_random 5 -h2 0.5 -prevalence 0.1 -replicates 2 -ascertain 10 20",
       "cannot be given with -replicates"},
      {base + "-ascertain 0 20", "flag -ascertain expects an integer from 1"},
      {base + "-ascertain 10 -1", "flag -ascertain expects a number of controls from 0"},
      {base + "-ascertain 10", "-ascertain"},
      {"tarvik -combine list -h2 0.5 -o run -m M", "-m cannot be given with it."},
  };
  for (const auto& [line, expected] : cases) {
    TarvikParameters p;
    EXPECT_TRUE(contains(error_of([&] { parse(p, line); }), expected)) << line << "\n" << error_of([&] {
      parse(p, line);
    });
  }
  TarvikParameters p;
  parse(p, base + "-n 10 0 -causal_random 7 -causal_maf 0.05 -alpha -0.5 -h2 0.3 -prevalence 0.01 -replicates 4 "
                  "-pheno01");
  EXPECT_EQ(p.trait.causal_random, 7);
  EXPECT_EQ(p.trait.causal_maf, 0.05);
  EXPECT_EQ(p.trait.alpha, -0.5);  // a negative value, not a flag
  EXPECT_TRUE(p.unrecognised_flags.empty());
  EXPECT_EQ(p.trait.h2, 0.3);
  EXPECT_EQ(p.trait.prevalence, 0.01);
  EXPECT_EQ(p.trait.replicates, 4);
  EXPECT_TRUE(p.trait.pheno01);
}

TEST(TraitRun, GenotypesUnchangedRepeatableAndThreadFree) {
  TempDir dir;
  const std::string common = example_panel() + region + "-seed 41 -output_plink ";
  // Without a trait the same sample needs a disease locus; a neutral one without cases changes no draw.
  ASSERT_EQ(run_tarvik(common + "-n 300 0 -dl 1066806 1 1 1 -threads 1 -o " + dir.file("plain/run")).status, 0);
  ASSERT_EQ(run_tarvik(common + trait + "-threads 1 -o " + dir.file("one/run")).status, 0);
  ASSERT_EQ(run_tarvik(common + trait + "-threads 4 -o " + dir.file("four/run")).status, 0);
  ASSERT_EQ(run_tarvik(common + trait + "-threads 4 -o " + dir.file("again/run")).status, 0);
  for (const char* file : {"run.controls.haps", "run.legend", "run.bed", "run.bim"})
    EXPECT_EQ(read_file(dir.file("plain/") + file), read_file(dir.file("one/") + file)) << file;
  // The trait's phenotypes are in the .pheno alone.
  EXPECT_EQ(table_of(read_file(dir.file("one/run.fam")))[0], (std::vector<std::string>{"0", "id1_0", "0", "0", "0", "-9"}));
  EXPECT_EQ(snapshot(dir.file("one"), false), snapshot(dir.file("four"), false));
  EXPECT_EQ(snapshot(dir.file("one"), false), snapshot(dir.file("again"), false));

  const auto pheno = table_of(read_file(dir.file("one/run.pheno")));
  const auto gv = table_of(read_file(dir.file("one/run.gv")));
  const auto causal = table_of(read_file(dir.file("one/run.causal.tsv")));
  ASSERT_EQ(pheno.size(), 301u);
  ASSERT_EQ(gv.size(), 301u);
  EXPECT_EQ(pheno[0], (std::vector<std::string>{"FID", "IID", "PHENO1", "PHENO2"}));
  EXPECT_EQ(pheno[300][0] + " " + pheno[300][1], "0 id1_299");
  EXPECT_EQ(gv[300][0] + " " + gv[300][1], "0 id1_299");
  EXPECT_EQ(causal.size(), 21u);
  // Each causal row's variance is 2q(1-q)b^2 of its sample frequency q and effect b.
  for (std::size_t k = 1; k < causal.size(); ++k) {
    const double q = std::stod(causal[k][7]), b = std::stod(causal[k][8]);
    EXPECT_DOUBLE_EQ(std::stod(causal[k][9]), 2 * q * (1 - q) * b * b);
    EXPECT_EQ(causal[k][5], causal[k][4]);  // the effect allele is allele1
  }
  EXPECT_TRUE(contains(read_file(dir.file("one/run.summary")), "replicate 2: realized h2 "));
}

TEST(TraitRun, CombineSumsChromosomesAndAppliesNoiseOnce) {
  TempDir dir;
  const std::string common = example_panel() + "-no_gens_output -no_haps_output -n 400 0 -causal_random 10 ";
  ASSERT_EQ(run_tarvik(common + "-int 1000000 1400000 -chr 1 -seed 1 -o " + dir.file("chr1")).status, 0);
  ASSERT_EQ(run_tarvik(common + "-int 2500000 2800000 -chr 2 -seed 2 -o " + dir.file("chr2")).status, 0);
  EXPECT_FALSE(file_exists(dir.file("chr1.pheno")));  // no -h2: genetic values only
  write_file(dir.file("list"), dir.file("chr1.gv") + "\n" + dir.file("chr2.gv") + "\n");
  const std::string combine = "-combine " + dir.file("list") + " -h2 0.5 -seed 3 -o ";
  ASSERT_EQ(run_tarvik(combine + dir.file("all")).status, 0);
  ASSERT_EQ(run_tarvik(combine + dir.file("again")).status, 0);
  EXPECT_EQ(read_file(dir.file("all.pheno")), read_file(dir.file("again.pheno")));

  // The .pheno recomputed from the two .gv files and the noise of seed word 3: each phenotype is the sum of
  // the chromosomes' values plus one normal draw scaled to var(G)(1 - h2)/h2.
  const auto g1 = table_of(read_file(dir.file("chr1.gv"))), g2 = table_of(read_file(dir.file("chr2.gv")));
  const auto sum = table_of(read_file(dir.file("all.gv"))), pheno = table_of(read_file(dir.file("all.pheno")));
  ASSERT_EQ(sum.size(), 401u);
  std::vector<double> g;
  for (std::size_t i = 1; i < sum.size(); ++i) {
    g.push_back(std::stod(g1[i][2]) + std::stod(g2[i][2]));
    EXPECT_EQ(std::strtod(sum[i][2].c_str(), nullptr), g.back());
    EXPECT_EQ(pheno[i][1], g1[i][1]);
  }
  double mean = 0.0, variance = 0.0;
  for (double v : g) mean += v / static_cast<double>(g.size());
  for (double v : g) variance += (v - mean) * (v - mean) / static_cast<double>(g.size());
  TraitStream noise(3, TraitStream::noise);
  for (std::size_t i = 0; i < g.size(); ++i) {
    const double y = g[i] + std::sqrt(variance * (1.0 - 0.5) / 0.5) * noise.normal();  // -h2 0.5
    EXPECT_NEAR(std::stod(pheno[i + 1][2]), y, 1e-9 * (1.0 + std::fabs(y))) << i;
  }
  EXPECT_EQ(table_of(read_file(dir.file("all.causal.tsv"))).size(), 21u);

  // Runs of other individuals cannot be combined.
  ASSERT_EQ(run_tarvik(example_panel() + "-no_gens_output -no_haps_output -n 300 0 -causal_random 3 -seed 4 "
                                         "-int 1000000 1400000 -o " + dir.file("small")).status,
            0);
  write_file(dir.file("list"), dir.file("chr1.gv") + "\n" + dir.file("small.gv") + "\n");
  const CommandResult bad = run_tarvik(combine + dir.file("bad"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(contains(bad.output, "-combine: " + dir.file("small.gv") + " holds 300 individuals but " +
                                       dir.file("chr1.gv") + " holds 400."))
      << bad.output;
}

TEST(TraitRun, Plink2FindsTheListedEffect) {
  TempDir dir;
  ASSERT_EQ(run_command("command -v plink2").status, 0) << "plink2 is needed";
  write_file(dir.file("causal"), "1066806 0.5\n");  // panel allele1 frequency about 0.3
  ASSERT_EQ(run_tarvik(example_panel() + region + "-seed 8 -n 2000 0 -copy_panel_only -output_plink -h2 0.2 "
                                                  "-no_haps_output -causal " + dir.file("causal") + " -o " +
                       dir.file("run")).status,
            0);
  const CommandResult glm =
      run_command("plink2 --bfile run --pheno run.pheno --glm allow-no-covars --out glm", dir.path());
  ASSERT_EQ(glm.status, 0) << glm.output;
  for (const auto& row : table_of(read_file(dir.file("glm.PHENO1.glm.linear")))) {
    if (row.size() < 12 || row[1] != "1066806") continue;
    // plink2 counts A1, the .bim's allele1: the effect the trait gave it.
    const double beta = std::stod(row[8]), se = std::stod(row[9]);
    EXPECT_NEAR(beta, 0.5, 4 * se);
    EXPECT_LT(std::stod(row[11]), 1e-10);
    return;
  }
  FAIL() << "no row for 1066806";
}

// An ascertained sample is the population run's individuals it names: the same genetic values, and with -keep of
// its .pheno the same genotypes; the sample file is also what -combine -ascertain writes.
TEST(TraitRun, AscertainedSampleIsPartOfThePopulationRun) {
  TempDir dir;
  const std::string common = example_panel() + region + "-copy_panel_only -seed 12 -output_plink -no_haps_output ";
  const std::string trait = "-causal_random 30 -h2 0.8 -prevalence 0.1 ";
  ASSERT_EQ(run_tarvik(common + trait + "-ascertain 40 60 -threads 3 -o " + dir.file("asc")).status, 0);
  const auto pheno = table_of(read_file(dir.file("asc.pheno")));
  ASSERT_EQ(pheno.size(), 101u);
  EXPECT_EQ(std::count_if(pheno.begin(), pheno.end(), [](const auto& row) { return row[2] == "2"; }), 40);
  const std::string summary = read_file(dir.file("asc.summary"));
  const std::size_t at = summary.find("scored ");
  ASSERT_NE(at, std::string::npos) << summary;
  const long population = std::stol(summary.substr(at + 7));
  EXPECT_EQ(pheno.back()[1], "id1_" + std::to_string(population - 1));

  ASSERT_EQ(run_tarvik(common + trait + "-n " + std::to_string(population) + " 0 -o " + dir.file("all")).status, 0);
  // -n bounds the population: the same sample when it is large enough, a message when it is not.
  ASSERT_EQ(run_tarvik(common + trait + "-ascertain 40 60 -n " + std::to_string(population) + " 0 -o " +
                       dir.file("bounded")).status,
            0);
  EXPECT_EQ(read_file(dir.file("bounded.pheno")), read_file(dir.file("asc.pheno")));
  const CommandResult short_of = run_tarvik(common + trait + "-ascertain 40 60 -n " +
                                            std::to_string(population - 1) + " 0 -o " + dir.file("short"));
  EXPECT_EQ(short_of.status, 1);
  EXPECT_TRUE(contains(short_of.output, "a larger -n would yield more.")) << short_of.output;
  ASSERT_EQ(run_tarvik(common + "-n " + std::to_string(population) + " 0 -keep " + dir.file("asc.pheno") +
                       " -threads 1 -o " + dir.file("kept")).status,
            0);
  EXPECT_EQ(read_file(dir.file("asc.bed")), read_file(dir.file("kept.bed")));
  const auto asc_fam = table_of(read_file(dir.file("asc.fam"))), kept_fam = table_of(read_file(dir.file("kept.fam")));
  ASSERT_EQ(asc_fam.size(), kept_fam.size());
  for (std::size_t i = 0; i < asc_fam.size(); ++i)  // a trait run leaves the .fam's phenotype to the .pheno
    EXPECT_EQ(asc_fam[i][1], kept_fam[i][1]);
  std::map<std::string, std::string> value;
  for (const auto& row : table_of(read_file(dir.file("all.gv")))) value[row[1]] = row[2];
  const auto kept = table_of(read_file(dir.file("asc.gv")));
  for (std::size_t i = 1; i < kept.size(); ++i) EXPECT_EQ(kept[i][2], value[kept[i][1]]) << kept[i][1];

  // -combine -ascertain picks from the population's genome-wide liabilities, or says the population is too small.
  write_file(dir.file("list"), dir.file("all.gv") + "\n");
  const std::string combine = "-combine " + dir.file("list") + " -h2 0.8 -prevalence 0.1 -seed 3 -ascertain ";
  ASSERT_EQ(run_tarvik(combine + "5 7 -o " + dir.file("pick")).status, 0);
  const auto picked = table_of(read_file(dir.file("pick.pheno")));
  ASSERT_EQ(picked.size(), 13u);
  EXPECT_EQ(std::count_if(picked.begin(), picked.end(), [](const auto& row) { return row[2] == "2"; }), 5);
  // The picks recomputed: liability = G + noise of seed word 3 scaled to h2 0.8, standardized over the
  // population, a case above the normal 0.9 quantile; the first 5 cases and the first 7 controls, in order.
  const auto all = table_of(read_file(dir.file("all.gv")));
  std::vector<double> y;
  for (std::size_t i = 1; i < all.size(); ++i) y.push_back(std::stod(all[i][2]));
  const auto moments = [](const std::vector<double>& x) {
    double mean = 0.0, variance = 0.0;
    for (double v : x) mean += v;
    mean /= static_cast<double>(x.size());
    for (double v : x) variance += (v - mean) * (v - mean);
    return std::make_pair(mean, variance / static_cast<double>(x.size()));
  };
  const double noise_sd = std::sqrt(moments(y).second * (1.0 - 0.8) / 0.8);
  TraitStream noise(3, TraitStream::noise);
  for (double& v : y) v += noise_sd * noise.normal();
  const auto [mean, variance] = moments(y);
  std::vector<std::string> expected;
  int cases = 0, controls = 0;
  for (std::size_t i = 0; i < y.size() && expected.size() < 12; ++i) {
    const bool is_case = (y[i] - mean) / std::sqrt(variance) > 1.2815515655446004;  // the normal 0.9 quantile
    if (is_case ? cases++ >= 5 : controls++ >= 7) continue;
    expected.push_back(all[i + 1][1] + (is_case ? " 2" : " 1"));
  }
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(picked[i + 1][1] + " " + picked[i + 1][2], expected[i]);
  const CommandResult small = run_tarvik(combine + std::to_string(population) + " 1 -o " + dir.file("none"));
  EXPECT_EQ(small.status, 1);
  EXPECT_TRUE(contains(small.output, "controls asked for; score a larger population.")) << small.output;
}

// A population run that writes no genotypes scores its individuals without storing them: the same trait files as
// the run that stores and writes them.
TEST(TraitRun, ScoringWithoutStoringGivesTheStoredRunsFiles) {
  TempDir dir;
  const std::string common = example_panel() + region + "-copy_panel_only -n 700 0 -causal_random 15 -h2 0.4 " +
                             "-prevalence 0.3 -seed 21 -no_haps_output -threads 3 ";
  ASSERT_EQ(run_tarvik(common + "-no_gens_output -o " + dir.file("scored/run")).status, 0);
  ASSERT_EQ(run_tarvik(common + "-o " + dir.file("stored/run")).status, 0);
  for (const char* file : {"run.gv", "run.causal.tsv", "run.pheno", "run.controls.sample", "run.cases.sample"})
    EXPECT_EQ(read_file(dir.file("scored/") + file), read_file(dir.file("stored/") + file)) << file;
  EXPECT_FALSE(file_exists(dir.file("scored/run.legend")));
}
