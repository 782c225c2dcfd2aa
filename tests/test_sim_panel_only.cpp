// Copying from the panel alone: no haplotype copies a simulated one, and the
// run's bytes (its case model included) are pinned.
#include <gtest/gtest.h>

#include <string>

#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "test_support.hpp"

using namespace testing_support;

TEST(CopyPanelOnly, EverySourceIsAPanelHaplotype) {
  TempDir dir;
  TarvikParameters params;
  params.summary_file = dir.file("run.summary");
  params.haplotype_file = example_file("chr20.hap.gz");
  params.legend_file = example_file("chr20.legend.gz");
  params.genetic_map_file = example_file("chr20.map.gz");
  params.lower = 1000000;
  params.upper = 2000000;
  params.ncontrols = 400;
  params.ncases = 400;
  params.dl[1945626] = DiseaseLocus(1, 3.0, 9.0);
  params.specified_flags = {"-copy_panel_only", "-nrs"};
  TarvikGenerator g(params);
  g.set_theta();
  g.process_dl();
  MT rng(0.12345);
  Random::Set(rng);
  g.simulate_all_alleles();
  const std::size_t n = g.panel_data.nhaplotypes;
  ASSERT_EQ(g.simulated.haplotypes(), 1600u);
  std::size_t segments = 0;
  for (std::size_t h = 0; h < g.simulated.haplotypes(); ++h) {
    std::size_t count;
    const Segment* s = g.simulated.segments_of(h, count);
    segments += count;
    for (std::size_t i = 0; i < count; ++i) ASSERT_LT(static_cast<std::size_t>(s[i].source), n) << h;
  }
  EXPECT_GT(segments, 1600u * 2);  // about map length / n segments per haplotype, late as early
}

TEST(CopyPanelOnly, FixedSeedRunWithCasesTagsAndReportIsPinned) {
  TempDir dir;
  write_file(dir.file("tags"), "1012512 1066806 1078996 1945626\n");
  const std::string args = "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                           " -m " + example_file("chr20.map.gz") +
                           " -int 1000000 2000000 -n 60 50 -dl 1945626 1 2 4 1066806 0 1.5 2 -t tags" +
                           " -copy_panel_only -nrs -output_snp_summary -o run";
  const CommandResult r = run_tarvik(args, dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("The pvalue for the full disease model is"), std::string::npos);
  const CommandResult sums = run_command(
      "sha256sum run.controls.haps run.cases.haps run.controls.gen run.cases.gen run.controls.tags.gen "
      "run.cases.tags.gen | cut -c1-16",
      dir.path());
  // Recorded when the mode was introduced; any change to these bytes is a change of the model.
  EXPECT_EQ(sums.output,
            "03b165e4d25b4682\n52acdb59b9fb8bf0\n9193224b39025e5d\n24a3316aded6b616\n"
            "31dac250224efbd4\n4f1663bae74692bb\n");
}
