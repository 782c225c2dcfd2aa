// Whole runs of the binary: the help screen, reported errors and the summary file, and the pinned
// bytes of a run on the example panel.
#include <boost/filesystem.hpp>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string ruler(67, '=');

bool starts_with_banner(const std::string& text) {
  return text.rfind("\n" + ruler + "\n  Welcome to TARVIK_v2.2.0 (01/04/2011)\n", 0) == 0;
}

// The run whose bytes tests/golden.sha256 pins: the example panel, two disease loci (the second
// with risk allele 0, whose risk table is reversed), tag SNPs (unsorted, one repeated, one outside
// the interval, one at no SNP), the association report and an unknown flag, so that every part of
// the summary is there. The inputs are linked into the scratch directory, so that the summary
// names no absolute path. After an intended change of the output, the failure shows the new list.
CommandResult run_golden(const TempDir& dir, const std::string& stem) {
  if (!file_exists(dir.file("tarvik"))) {
    for (const char* name : {"chr20.hap.gz", "chr20.legend.gz", "chr20.map.gz"})
      boost::filesystem::create_symlink(example_file(name), dir.file(name));
    boost::filesystem::create_symlink(source_dir() + "/tests/data/golden.tags", dir.file("golden.tags"));
    boost::filesystem::create_symlink(tarvik_binary(), dir.file("tarvik"));
  }
  return run_command("./tarvik -h chr20.hap.gz -l chr20.legend.gz -m chr20.map.gz -int 1900000 2800000 "
                     "-n 300 200 -dl 1945626 1 1.5 2.25 2751091 0 2.0 4.0 -t golden.tags -nrs "
                     "-output_snp_summary -zz -o " + stem, dir.path());
}

}  // namespace

TEST(Driver, HelpScreenWithoutSummaryFile) {
  TempDir dir;
  for (const std::string& args : {std::string(""), std::string("-n 5 5 -help -h x")}) {
    auto r = run_tarvik(args, dir.path());
    EXPECT_EQ(r.status, 0) << args;
    EXPECT_TRUE(starts_with_banner(r.output)) << r.output;
    EXPECT_NE(r.output.find(ruler + "\n\nHelp Menu\n\nEssential flags are:\n"), std::string::npos);
    EXPECT_NE(r.output.find("-m <file>                               : the recombinaion rate file\n"),
              std::string::npos);
    EXPECT_EQ(r.output.find("-nrs"), std::string::npos);
    // The help screen's text as it was, then the further flags, these among them.
    EXPECT_TRUE(contains(r.output, "simulated disease SNPs\n\nFurther flags are:\n-vcf <file> ")) << r.output;
    EXPECT_TRUE(contains(r.output, "\n-threads <n>          ") && contains(r.output, "\n-gz_level <l>         "));
    EXPECT_EQ(r.output.substr(r.output.size() - 2), "\n\n");
    EXPECT_FALSE(file_exists(dir.file("tarvik2.summary")));
  }
}

TEST(Driver, ReportedErrorsGoToConsoleAndSummary) {
  TempDir dir;
  const struct { std::string args, message; bool created; } cases[] = {
      {"-l L -m M -o run", "ERROR!!! Must specify a value for flag: -h\n\n", false},
      {"-h H -l L -m M -o run -dl 1000 3 1 1",
       "Error encountered, program terminated: Disease allele must be 0 or 1 but got 3 in DiseaseLocus. \n\n\n", false},
      {"-h missing.hap -l L -m M -o run", "Error reading file M: can't open file.\n\n", true},
  };
  for (const auto& [args, message, created] : cases) {
    auto r = run_tarvik(args, dir.path());
    EXPECT_EQ(r.status, 1) << args;
    // "Creating directory" is said straight on the console, before the summary file exists.
    const std::string creating = "Creating directory \n";
    ASSERT_EQ(r.output.compare(0, creating.size(), creating) == 0, created) << r.output;
    const std::string console = r.output.substr(created ? creating.size() : 0);
    EXPECT_TRUE(starts_with_banner(console)) << console;
    const std::size_t at = console.find(message);
    ASSERT_NE(at, std::string::npos) << args << "\n" << console;
    EXPECT_EQ(without_run_time(console.substr(at + message.size())),
              "\nTARVIK took N seconds to complete. Have a nice day! \n");
    EXPECT_EQ(read_file(dir.file("run.summary")), console) << args;
    boost::filesystem::remove(dir.file("run.summary"));
  }
}

TEST(Driver, OutputDirectoryMissingOrImpossible) {
  TempDir dir;
  auto r = run_tarvik("-h H -l L -m M -o newdir/run -n 5", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("ERROR!!! Must specify a value for flag: -n\n\n"), std::string::npos);
  EXPECT_NE(r.error.find("the summary file newdir/run.summary could not be written"), std::string::npos) << r.error;
  write_file(dir.file("plain"), "x");
  r = run_tarvik("-h H -l L -m M -o plain/sub/run", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.error.find("tarvik: Error encountered, program terminated: "), std::string::npos) << r.error;
}

TEST(Driver, GoldenRunGivesThePinnedBytesInPlainAndGzipMode) {
  TempDir dir;
  // A larger run first: the pinned run must replace its files, not append to them or overwrite a part.
  ASSERT_EQ(run_golden(dir, "out/plain/run -n 320 210").status, 0);
  for (const std::string stem : {"out/plain/run", "out/gz1/run.gz", "out/gz2/run.gz"}) {
    const CommandResult r = run_golden(dir, stem);
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.error, "");
    const std::string created = stem == "out/plain/run" ? "" : "Creating directory " + stem.substr(0, 7) + "\n";
    EXPECT_EQ(r.output, created + read_file(dir.file(stem + ".summary"))) << stem;
  }
  const std::string plain = dir.file("out/plain/run");
  for (const std::string suffix : {".controls.haps", ".cases.haps", ".legend", ".controls.gen", ".cases.gen",
                                   ".controls.tags.gen", ".cases.tags.gen", ".controls.sample", ".cases.sample"}) {
    const bool packed = suffix.find(".haps") != std::string::npos || suffix.find(".gen") != std::string::npos;
    const std::string name = suffix + (packed ? ".gz" : "");
    const std::string raw = read_file(dir.file("out/gz1/run" + name));
    EXPECT_TRUE(raw == read_file(dir.file("out/gz2/run" + name))) << name;
    // No time stamp in the gzip header, or reruns would differ.
    if (packed) {
      EXPECT_EQ(raw.substr(0, 2) + raw.substr(4, 4), std::string("\x1f\x8b\0\0\0\0", 6)) << name;
    }
    EXPECT_TRUE((packed ? read_gzip_file(dir.file("out/gz1/run" + name)) : raw) == read_file(plain + suffix))
        << name;
  }
  write_file(plain + ".summary", without_run_time(read_file(plain + ".summary")));
  write_file(plain + ".gz.summary", without_run_time(read_file(dir.file("out/gz1/run.gz.summary"))));
  const CommandResult sums = run_command("cd out/plain && LC_ALL=C sha256sum -- *", dir.path());
  EXPECT_EQ(sums.status, 0) << sums.error;
  EXPECT_EQ(sums.output, read_file(source_dir() + "/tests/golden.sha256"));
}
