// The run's frame: banner, help screen, error report, run-time line and summary file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string ruler(67, '=');

bool starts_with_banner(const std::string& text) {
  return text.rfind("\n" + ruler + "\n  Welcome to TARVIK_v2.2.0 (01/04/2011)\n", 0) == 0;
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
    EXPECT_EQ(r.output.substr(r.output.size() - 2), "\n\n");
    EXPECT_FALSE(file_exists(dir.file("tarvik2.summary")));
  }
}

TEST(Driver, ReportedErrorsGoToConsoleAndSummary) {
  TempDir dir;
  const std::pair<std::string, std::string> cases[] = {
      {"-l L -m M -o run", "ERROR!!! Must specify a value for flag: -h\n\n"},
      {"-h H -l L -m M -o run -dl 1000 3 1 1",
       "Error encountered, program terminated: Disease allele must be 0 or 1 but got 3 in DiseaseLocus. \n\n\n"},
      {"-h missing.hap -l L -m M -o run", "Error reading file M: can't open file.\n\n"},
  };
  for (const auto& [args, message] : cases) {
    auto r = run_tarvik(args, dir.path());
    EXPECT_EQ(r.status, 1) << args;
    // "Creating directory" is said straight on the console, before the summary file exists.
    std::string console = r.output;
    const std::string created = "Creating directory \n";
    if (console.rfind(created, 0) == 0) console = console.substr(created.size());
    EXPECT_TRUE(starts_with_banner(console)) << console;
    const std::size_t at = console.find(message);
    ASSERT_NE(at, std::string::npos) << args << "\n" << console;
    const std::string tail = console.substr(at + message.size());
    EXPECT_EQ(tail.rfind("\nTARVIK took ", 0), 0u) << tail;
    EXPECT_EQ(tail.substr(tail.size() - 40), " seconds to complete. Have a nice day! \n");
    EXPECT_EQ(read_file(dir.file("run.summary")), console) << args;
    std::remove(dir.file("run.summary").c_str());
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

// Whole runs on the example panel: a fixed seed gives identical bytes, and the
// gzip file set decompresses to the plain one.
TEST(Driver, FixedSeedRunsAreIdenticalAndGzipMatchesPlain) {
  TempDir dir;
  const std::string args = "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                           " -m " + example_file("chr20.map.gz") +
                           " -int 1900000 2100000 -n 60 40 -dl 1945626 1 2 4 -nrs -output_snp_summary -o ";
  for (const char* stem : {"a/run", "b/run", "c/run.gz"}) {
    auto r = run_tarvik(args + stem, dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("The pvalue for the full disease model is "), std::string::npos);
  }
  for (const char* suffix : {".controls.haps", ".cases.haps", ".legend", ".controls.gen", ".cases.gen",
                             ".controls.sample", ".cases.sample"}) {
    const std::string plain = read_file(dir.file(std::string("a/run") + suffix));
    EXPECT_FALSE(plain.empty()) << suffix;
    EXPECT_EQ(read_file(dir.file(std::string("b/run") + suffix)), plain) << suffix;
    const bool compressed = std::string(suffix).find(".haps") != std::string::npos ||
                            std::string(suffix).find(".gen") != std::string::npos;
    EXPECT_EQ(compressed ? read_gzip_file(dir.file(std::string("c/run") + suffix + ".gz"))
                         : read_file(dir.file(std::string("c/run") + suffix)),
              plain)
        << suffix;
  }
}
