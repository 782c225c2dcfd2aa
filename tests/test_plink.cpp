// An independent reader of the genotype and sample files: plink1.9 converts a
// run's output to its binary format, and its sample, variant and allele
// counts must agree with the files.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

using namespace testing_support;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

}  // namespace

TEST(Plink, ReadsTheGenotypeAndSampleFiles) {
  if (run_command("command -v plink1.9").status != 0) GTEST_SKIP() << "plink1.9 is not on PATH";
  TempDir dir;
  // rs6134452 at 1262419 has allele-1 frequency 0.36 in the example panel.
  const std::string args = "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                           " -m " + example_file("chr20.map.gz") +
                           " -int 1000000 4100000 -dl 1262419 1 1.5 2.0 -n 300 100 -nrs -o " + dir.file("R");
  const CommandResult run = run_tarvik(args, dir.path());
  ASSERT_EQ(run.status, 0) << run.output << run.error;
  ASSERT_TRUE(file_exists(dir.file("R.cases.gen"))) << run.output;

  const int legend_snps = static_cast<int>(lines_of(read_file(dir.file("R.legend"))).size()) - 1;
  ASSERT_GT(legend_snps, 20000);

  struct Group {
    std::string name;
    int individuals;
    std::string plink_phenotype;  // plink codes controls 1 and cases 2
  };
  for (const Group& group : {Group{"controls", 300, "1"}, Group{"cases", 100, "2"}}) {
    SCOPED_TRACE(group.name);
    const std::string stem = "R." + group.name;
    const CommandResult convert = run_command("plink1.9 --gen " + stem + ".gen --sample " + stem +
                                                  ".sample --oxford-single-chr 20 --make-bed --out P" + group.name,
                                              dir.path());
    ASSERT_EQ(convert.status, 0) << convert.output << convert.error;
    const CommandResult freq =
        run_command("plink1.9 --bfile P" + group.name + " --freq counts --out P" + group.name, dir.path());
    ASSERT_EQ(freq.status, 0) << freq.output << freq.error;

    const std::vector<std::string> fam = lines_of(read_file(dir.file("P" + group.name + ".fam")));
    ASSERT_EQ(static_cast<int>(fam.size()), group.individuals);
    const int first = group.name == "controls" ? 0 : 300;
    for (int i = 0; i < group.individuals; ++i) {
      const std::vector<std::string> f = fields_of(fam[i]);
      ASSERT_EQ(f.size(), 6u);
      EXPECT_EQ(f[0], "id1_" + std::to_string(first + i));
      EXPECT_EQ(f[1], "id2_" + std::to_string(first + i));
      EXPECT_EQ(f[5], group.plink_phenotype);
    }

    const std::vector<std::string> gen = lines_of(read_file(dir.file(stem + ".gen")));
    const std::vector<std::string> bim = lines_of(read_file(dir.file("P" + group.name + ".bim")));
    const std::vector<std::string> counts = lines_of(read_file(dir.file("P" + group.name + ".frq.counts")));
    ASSERT_EQ(static_cast<int>(gen.size()), legend_snps);
    ASSERT_EQ(bim.size(), gen.size());
    ASSERT_EQ(counts.size(), gen.size() + 1);  // with its header line
    // The haplotype file of the group holds the same alleles as 0/1 codes.
    const std::vector<std::string> haps = lines_of(read_file(dir.file(stem + ".haps")));
    ASSERT_EQ(haps.size(), gen.size());

    int polymorphic = 0;
    for (std::size_t k = 0; k < gen.size(); ++k) {
      const std::vector<std::string> g = fields_of(gen[k]);
      ASSERT_EQ(static_cast<int>(g.size()), 5 + 3 * group.individuals) << "line " << k;
      ASSERT_EQ(g[0], "snp_" + std::to_string(k));
      // Allele counts from the probability triples, which are exact 0/1 values.
      long copies0 = 0, copies1 = 0;
      for (int i = 0; i < group.individuals; ++i) {
        const std::string triple = g[5 + 3 * i] + g[6 + 3 * i] + g[7 + 3 * i];
        ASSERT_TRUE(triple == "100" || triple == "010" || triple == "001") << "line " << k;
        copies0 += triple == "100" ? 2 : triple == "010" ? 1 : 0;
        copies1 += triple == "001" ? 2 : triple == "010" ? 1 : 0;
      }
      if (copies0 > 0 && copies1 > 0) ++polymorphic;
      long ones = 0;
      for (char code : haps[k]) ones += code == '1';
      ASSERT_EQ(ones, copies1) << "line " << k;
      const std::vector<std::string> b = fields_of(bim[k]);
      EXPECT_EQ(b[1], g[1]) << "line " << k;
      EXPECT_EQ(b[3], g[2]) << "line " << k;
      // plink orders the two alleles by its own rule; match them by name.
      const std::vector<std::string> c = fields_of(counts[k + 1]);
      ASSERT_EQ(c.size(), 7u);
      if (g[3] == g[4]) continue;
      std::map<std::string, long> expected = {{g[3], copies0}, {g[4], copies1}};
      ASSERT_EQ(expected.count(c[2]) + expected.count(c[3]), 2u) << counts[k + 1];
      EXPECT_EQ(std::stol(c[4]), expected[c[2]]) << "line " << k << ": " << counts[k + 1];
      EXPECT_EQ(std::stol(c[5]), expected[c[3]]) << "line " << k << ": " << counts[k + 1];
    }
    EXPECT_GT(polymorphic, 1000);
  }
}
