// Families: the pedigree reader's checks, the meiosis against its Poisson expectations, and whole runs whose
// children are rebuilt from their parents through the transmission file and checked by PLINK.
#include <cmath>
#include <map>
#include <iterator>
#include <sstream>

#include "data/pedigree.hpp"
#include "sim/meiosis.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

TEST(Pedigree, EveryFaultNamesItsLine) {
  const struct { std::string text, message; } cases[] = {
      {"f a 0 0\n", "line 1 has 4 fields; a pedigree line is \"FID IID PAT MAT SEX\"."},
      {"f a 0 0 1\n\nf a 0 0 2\n", "line 3: a of family f is already on line 1."},
      {"f c x y 1\n", "line 1: the father x of c is not in the pedigree."},
      {"g x 0 0 1\nf m 0 0 2\nf c x m 1\n", "line 3: the father x of c is in another family (g, not f)."},
      {"f d 0 0 2\nf m 0 0 2\nf c d m 1\n", "line 3: the father d of c is female."},
      {"f d 0 0 1\nf m 0 0 1\nf c d m 1\n", "line 3: the mother m of c is male."},
      {"f d 0 0 1\nf c d 0 1\n", "line 2: c has one parent; a child needs both (a founder none)."},
      {"f a b m 1\nf b a m 1\nf m 0 0 2\n", "line 1: a is among its own ancestors (the pedigree has a cycle)."},
      {"f a 0 0 m\n", "line 1: sex \"m\" is not 1 (male), 2 (female) or 0 (unknown)."},
      {"\n", "no individuals found."},
  };
  TempDir dir;
  for (const auto& c : cases) {
    write_file(dir.file("p.ped"), c.text);
    EXPECT_EQ(error_of([&] { read_pedigree(dir.file("p.ped")); }), "Error reading file " + dir.file("p.ped: ") + c.message)
        << c.text;
  }
  // A .fam, children before their parents: founders first, then each generation in file order.
  write_file(dir.file("p.fam"), "f k c m2 2 -9\nf c d m 1 1\nf d 0 0 1 2\nf m 0 0 2 1\nf m2 0 0 0 1\n");
  const Pedigree p = read_pedigree(dir.file("p.fam"));
  EXPECT_EQ(p.simulation_order, (std::vector<int>{2, 3, 4, 1, 0}));
  EXPECT_EQ(p.founders, 3);
  EXPECT_EQ(p.members[0].father, 1);
  EXPECT_EQ(p.members[4].sex, 0);
}

// Crossovers: one per Morgan on average, a Poisson count; none on a map without length. The starting haplotype
// is a fair draw, and de novo mutations a binomial count.
TEST(Meiosis, CrossoversAndMutationsHaveTheirExpectedCounts) {
  std::vector<double> cm(20001);
  for (std::size_t j = 0; j < cm.size(); ++j) cm[j] = 300.0 * static_cast<double>(j) / 20000.0;  // 3 Morgans
  MeiosisDraws draws(7);
  std::vector<Segment> segments;
  std::vector<int> mutations;
  const int meioses = 4000;
  double crossovers = 0, second_first = 0, mutated = 0;
  for (int m = 0; m < meioses; ++m) {
    meiosis(cm, 10, 1e-3, draws, segments, mutations);
    crossovers += static_cast<double>(segments.size() - 1);
    second_first += segments[0].source == 11;
    mutated += static_cast<double>(mutations.size());
    for (std::size_t s = 1; s < segments.size(); ++s) ASSERT_NE(segments[s].source, segments[s - 1].source);
    ASSERT_EQ(segments[0].first_snp, 0);
  }
  EXPECT_NEAR(crossovers / meioses, 3.0, 4 * std::sqrt(3.0 / meioses));
  EXPECT_NEAR(second_first / meioses, 0.5, 4 * std::sqrt(0.25 / meioses));
  EXPECT_NEAR(mutated / meioses, 20.001, 4 * std::sqrt(20.0 / meioses));
  const std::vector<double> flat(100, 5.0);
  for (int m = 0; m < 100; ++m) {
    meiosis(flat, 0, 0.0, draws, segments, mutations);
    ASSERT_EQ(segments.size(), 1u);
    ASSERT_TRUE(mutations.empty());
  }
}

// Per SNP, each sample's two alleles: rows of the VCF's genotypes, samples in the pedigree's order.
std::vector<std::string> alleles_of(const std::string& dir, const std::string& vcf) {
  const std::string text =
      run_command("bcftools query -f '[%GT]\\n' " + vcf + " | tr -d '|'", dir).output;
  std::vector<std::string> rows;
  std::istringstream in(text);
  for (std::string row; std::getline(in, row);) rows.push_back(row);
  return rows;
}

struct Family {
  std::string fid, id, father, mother;
};

// Rebuilds each child haplotype from the parent's haplotype the transmission file names, segment by segment;
// returns the number of alleles that differ (the de novo mutations).
long rebuild_children(const std::string& dir) {
  const std::vector<std::string> rows = alleles_of(dir, "run.vcf.gz");
  std::map<std::string, std::size_t> column;  // IID -> sample index
  std::istringstream fam(read_file(dir + "/run.fam"));
  std::size_t index = 0;
  for (std::string fid, iid, rest; fam >> fid >> iid && std::getline(fam, rest);) column[iid] = index++;
  std::map<int, std::size_t> row_of;  // position -> SNP row
  std::istringstream bim(read_file(dir + "/run.bim"));
  std::size_t row = 0;
  for (std::string chr, id, cm, position, a1, a2; bim >> chr >> id >> cm >> position >> a1 >> a2;)
    row_of[std::stoi(position)] = row++;
  EXPECT_EQ(row, rows.size());
  std::istringstream truth(read_file(dir + "/run.transmission.tsv"));
  std::string line;
  std::getline(truth, line);
  EXPECT_EQ(line, "FID\tIID\thaplotype\tfirst_position\tlast_position\tparent\tparent_haplotype");
  long differ = 0;
  std::size_t covered = 0;
  for (std::string fid, iid, parent; truth >> fid >> iid;) {
    int side, first, last, parent_side;
    truth >> side >> first >> last >> parent >> parent_side;
    const std::size_t child = 2 * column.at(iid) + static_cast<std::size_t>(side);
    const std::size_t from = 2 * column.at(parent) + static_cast<std::size_t>(parent_side);
    for (std::size_t r = row_of.at(first); r <= row_of.at(last); ++r) differ += rows[r][child] != rows[r][from];
    covered += row_of.at(last) - row_of.at(first) + 1;
  }
  return covered > 0 ? differ : -1;
}

const std::string kFamilies = "-int 1000000 2500000 -copy_panel_only -chr 20 -no_haps_output -no_gens_output "
                              "-output_plink -output_vcf -seed 11 -o run ";

std::string example_pedigrees() {
  return source_dir() + "/example/trios.ped " + source_dir() + "/example/three_generations.ped";
}

TEST(Families, ChildrenAreTheirParentsMosaicsWithoutMendelErrors) {
  TempDir dir;
  ASSERT_EQ(run_command("cat " + example_pedigrees() + " >families.ped", dir.path()).status, 0);
  const CommandResult r = run_tarvik(example_panel() + kFamilies + "-pedigree families.ped -threads 3", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(rebuild_children(dir.path()), 0);
  const CommandResult mendel = run_command("plink1.9 --bfile run --mendel --out mendel", dir.path());
  EXPECT_TRUE(contains(mendel.output, "--me/--mendel: 0 Mendel errors detected.")) << mendel.output;
  // The .fam gives the pedigree's families, parents and sex; PLINK 1.9 reads the VCF's FID_IID as they are.
  const std::string trio = "trio1 trio1-father 0 0 1 -9\ntrio1 trio1-mother 0 0 2 -9\n"
                           "trio1 trio1-child trio1-father trio1-mother 2 -9\n";
  EXPECT_EQ(read_file(dir.file("run.fam")).substr(0, trio.size()), trio);
  ASSERT_EQ(run_command("plink1.9 --vcf run.vcf.gz --make-bed --out fromvcf", dir.path()).status, 0);
  std::istringstream a(read_file(dir.file("run.fam"))), b(read_file(dir.file("fromvcf.fam")));
  for (std::string x, y, rest; a >> x >> y && std::getline(a, rest);) {
    std::string u, v;
    b >> u >> v;
    std::getline(b, rest);
    ASSERT_EQ(u + " " + v, x + " " + y);
  }
  // One thread or three: the same bytes. Without the PLINK files the .fam still goes beside the VCF, for the
  // families, parents and sex it cannot hold.
  std::string vcf_only = kFamilies;
  vcf_only.erase(vcf_only.find("-output_plink "), 14);
  const CommandResult one = run_tarvik(example_panel() + vcf_only + "-pedigree families.ped -threads 1 -o one",
                                       dir.path());
  ASSERT_EQ(one.status, 0);
  for (const char* suffix : {".vcf.gz", ".fam", ".transmission.tsv"})
    EXPECT_TRUE(read_file(dir.file(std::string("run") + suffix)) == read_file(dir.file(std::string("one") + suffix)))
        << suffix;
}

// With a de novo rate, the alleles a child did not inherit are a binomial count over its SNPs.
TEST(Families, DeNovoMutationsComeAtTheirRate) {
  TempDir dir;
  const CommandResult r = run_tarvik(example_panel() + kFamilies + "-pedigree " + source_dir() +
                                     "/example/trios.ped -denovo 0.001", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  const long differ = rebuild_children(dir.path());
  const std::size_t snps = alleles_of(dir.path(), "run.vcf.gz").size();
  const double expected = 0.001 * 2 * 200 * static_cast<double>(snps);
  EXPECT_NEAR(static_cast<double>(differ), expected, 4 * std::sqrt(expected));
}

TEST(Families, FlagsThatDoNotFitAPedigreeAreRefused) {
  const struct { std::string args, message; } cases[] = {
      {"-pedigree p.ped -dl 1945626 1 2 4", "flags -pedigree and -dl: the pedigree gives the individuals, and the "
                                            "relative-risk case model is not used with a pedigree; leave out -dl."},
      {"-pedigree p.ped -n 5 5", "flags -pedigree and -n:"},
      {"-denovo 0.1", "flag -denovo is a mutation rate of transmission from parent to child; it needs -pedigree."},
      {"-pedigree p.ped -denovo 2", "flag -denovo expects a probability per SNP and meiosis, from 0 to 1"},
      {"-pedigree u.ped -chr 1 -output_bcf", "Error reading file u.ped: line 1: f a_b contains \"_\", which VCF "
                                             "sample names (FID_IID) keep for themselves"},
  };
  TempDir dir;
  write_file(dir.file("p.ped"), "f a 0 0 1\n");
  write_file(dir.file("u.ped"), "f a_b 0 0 1\n");
  for (const auto& c : cases) {
    const CommandResult r = run_tarvik(example_panel() + "-o out/run " + c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, c.message)) << r.output;
  }
}

}  // namespace

namespace {

// A trait over a pedigree: every individual's genetic value in the .gv, in the pedigree's order and identities,
// is the sum of its effect-allele counts in the VCF times the effects.
TEST(Families, TraitValuesFollowThePedigreesOrder) {
  TempDir dir;
  const CommandResult r = run_tarvik(example_panel() + kFamilies + "-pedigree " + source_dir() +
                                     "/example/three_generations.ped -causal_random 15 -h2 0.5", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  std::map<std::string, std::pair<std::string, double>> effect;  // position -> effect allele, effect
  std::istringstream causal(read_file(dir.file("run.causal.tsv")));
  std::string line;
  std::getline(causal, line);
  for (std::string chr, rsid, pos, a0, a1, allele, f1, f2, beta, var; causal >> chr >> rsid >> pos >> a0 >> a1 >>
                                                                        allele >> f1 >> f2 >> beta >> var;)
    effect[pos] = {allele == a1 ? "1" : "0", std::stod(beta)};
  ASSERT_EQ(effect.size(), 15u);
  const std::string text =
      run_command("bcftools query -f '%POS[ %GT]\\n' run.vcf.gz | tr -d '|'", dir.path()).output;
  std::vector<double> value;
  std::istringstream rows(text);
  for (std::string pos; rows >> pos && std::getline(rows, line);) {
    std::istringstream genotypes(line);
    std::vector<std::string> samples{std::istream_iterator<std::string>(genotypes), {}};
    value.resize(samples.size());
    if (!effect.count(pos)) continue;
    for (std::size_t i = 0; i < samples.size(); ++i)
      for (const char a : samples[i]) value[i] += (std::string(1, a) == effect[pos].first) * effect[pos].second;
  }
  std::istringstream gv(read_file(dir.file("run.gv")));
  std::getline(gv, line);
  ASSERT_EQ(line, "FID\tIID\tGV");
  std::istringstream fam(read_file(dir.file("run.fam")));
  for (std::size_t i = 0; i < value.size(); ++i) {
    std::string fid, iid, v, f, d, rest;
    ASSERT_TRUE(static_cast<bool>(gv >> fid >> iid >> v));
    fam >> f >> d;
    std::getline(fam, rest);
    EXPECT_EQ(fid + " " + iid, f + " " + d);
    EXPECT_NEAR(std::stod(v), value[i], 1e-9) << iid;
  }
}

}  // namespace
