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

// The lines of a file, each split into its blank-separated fields.
std::vector<std::vector<std::string>> table_of(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(read_file(name));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string f; fields >> f;) rows.back().push_back(f);
  }
  return rows;
}

}  // namespace

TEST(Plink, ReadsTheGenotypeAndSampleFiles) {
  TempDir dir;
  // rs6134452 at 1262419 has allele-1 frequency 0.36 in the example panel.
  const CommandResult run = run_tarvik("-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                                           " -m " + example_file("chr20.map.gz") +
                                           " -int 1000000 4100000 -dl 1262419 1 1.5 2.0 -n 300 100 -nrs -o R",
                                       dir.path());
  ASSERT_EQ(run.status, 0) << run.output << run.error;
  const std::size_t legend_snps = table_of(dir.file("R.legend")).size() - 1;
  ASSERT_GT(legend_snps, 20000u);

  for (const std::string group : {"controls", "cases"}) {
    SCOPED_TRACE(group);
    const int individuals = group == "controls" ? 300 : 100, first = group == "controls" ? 0 : 300;
    const CommandResult convert = run_command("plink1.9 --gen R." + group + ".gen --sample R." + group +
                                                  ".sample --oxford-single-chr 20 --make-bed --out P && "
                                                  "plink1.9 --bfile P --freq counts --out P",
                                              dir.path());
    ASSERT_EQ(convert.status, 0) << convert.output << convert.error;

    const auto fam = table_of(dir.file("P.fam"));
    ASSERT_EQ(fam.size(), static_cast<std::size_t>(individuals));
    for (int i = 0; i < individuals; ++i) {  // plink's phenotype codes: 1 control, 2 case
      const std::string id = std::to_string(first + i);
      EXPECT_EQ(fam[i], (std::vector<std::string>{"id1_" + id, "id2_" + id, "0", "0", "0", first ? "2" : "1"}));
    }
    const auto gen = table_of(dir.file("R." + group + ".gen"));
    const auto bim = table_of(dir.file("P.bim"));
    const auto counts = table_of(dir.file("P.frq.counts"));  // with a header line
    ASSERT_EQ(gen.size(), legend_snps);
    ASSERT_EQ(bim.size(), legend_snps);
    ASSERT_EQ(counts.size(), legend_snps + 1);
    int polymorphic = 0;
    for (std::size_t k = 0; k < gen.size(); ++k) {
      const std::vector<std::string>& g = gen[k];
      ASSERT_EQ(g.size(), 5u + 3 * individuals) << "line " << k;
      // Allele counts from the probability triples, which are exact 0/1 values.
      long copies0 = 0, copies1 = 0;
      for (int i = 0; i < individuals; ++i) {
        const std::string triple = g[5 + 3 * i] + g[6 + 3 * i] + g[7 + 3 * i];
        ASSERT_TRUE(triple == "100" || triple == "010" || triple == "001") << "line " << k;
        copies0 += triple == "100" ? 2 : triple == "010" ? 1 : 0;
        copies1 += triple == "001" ? 2 : triple == "010" ? 1 : 0;
      }
      polymorphic += copies0 > 0 && copies1 > 0;
      EXPECT_EQ(bim[k][1] + " " + bim[k][3], g[1] + " " + g[2]) << "line " << k;
      // plink orders the two alleles by its own rule; match them by name.
      const std::vector<std::string>& c = counts[k + 1];
      ASSERT_EQ(c.size(), 7u);
      if (g[3] == g[4]) continue;
      std::map<std::string, long> expected = {{g[3], copies0}, {g[4], copies1}};
      ASSERT_EQ(expected.count(c[2]) + expected.count(c[3]), 2u) << "line " << k;
      EXPECT_EQ(std::stol(c[4]), expected[c[2]]) << "line " << k;
      EXPECT_EQ(std::stol(c[5]), expected[c[3]]) << "line " << k;
    }
    EXPECT_GT(polymorphic, 1000);
  }
}
