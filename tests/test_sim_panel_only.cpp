// Copying from the panel alone: the bytes of a fixed-seed run, its case model included, are pinned.
#include "test_support.hpp"

using namespace testing_support;

TEST(CopyPanelOnly, FixedSeedRunWithCasesTagsAndReportIsPinned) {
  TempDir dir;
  write_file(dir.file("tags"), "1012512 1066806 1078996 1945626\n");
  const std::string args = "-int 1000000 2000000 -n 60 50 -dl 1945626 1 2 4 1066806 0 1.5 2 -t tags";
  const CommandResult r =
      run_tarvik(example_panel() + args + " -copy_panel_only -nrs -output_snp_summary -o run", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(contains(r.output, "The pvalue for the full disease model is"));
  const CommandResult sums = run_command(
      "sha256sum run.controls.haps run.cases.haps run.controls.gen run.cases.gen run.controls.tags.gen "
      "run.cases.tags.gen | cut -c1-16",
      dir.path());
  // Recorded when the mode was introduced; any change to these bytes is a change of the model.
  EXPECT_EQ(sums.output,
            "03b165e4d25b4682\n52acdb59b9fb8bf0\n9193224b39025e5d\n24a3316aded6b616\n"
            "31dac250224efbd4\n4f1663bae74692bb\n");
}
