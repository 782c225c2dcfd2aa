#include <gtest/gtest.h>

#include <string>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string ruler(67, '=');

std::string example_inputs() {
  return "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") + " -m " +
         example_file("chr20.map.gz");
}

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
    EXPECT_EQ(r.output.substr(r.output.size() - 2), "\n\n");
    EXPECT_FALSE(file_exists(dir.file("tarvik2.summary")));
  }
}

TEST(Driver, ReportedErrorsExitWithStatusOne) {
  TempDir dir;
  struct Case {
    std::string args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"-l L -m M -o run", "ERROR!!! Must specify a value for flag: -h\n\n"},
      {"-h H -l L -m M -o run -n 5", "ERROR!!! Must specify a value for flag: -n\n\n"},
      {"-h H -l L -m M -o run -n ten 5",
       "Error encountered, program terminated: flag -n expects an integer within 32 bits but got "
       "\"ten\".\n\n\n"},
      {"-h H -l L -m M -o run -dl 1000 3 1 1",
       "Error encountered, program terminated: Disease allele must be 0 or 1 but got 3 in "
       "DiseaseLocus. \n\n\n"},
      {"-h missing.hap -l L -m M -o run", "Error reading file M: can't open file.\n\n"},
  };
  for (const Case& c : cases) {
    auto r = run_tarvik(c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.args;
    // A parse that succeeded announced the (here empty) output directory
    // straight on the console; that line never reaches the summary file.
    std::string console = r.output;
    const std::string created = "Creating directory \n";
    if (console.rfind(created, 0) == 0) console = console.substr(created.size());
    EXPECT_TRUE(starts_with_banner(console)) << console;
    const std::size_t at = console.find(c.message);
    ASSERT_NE(at, std::string::npos) << c.args << "\n" << console;
    const std::string tail = console.substr(at + c.message.size());
    EXPECT_EQ(tail.rfind("\nTARVIK took ", 0), 0u) << tail;
    EXPECT_EQ(tail.substr(tail.size() - 40), " seconds to complete. Have a nice day! \n");
    EXPECT_EQ(read_file(dir.file("run.summary")), console) << c.args;
    std::remove(dir.file("run.summary").c_str());
  }
}

TEST(Driver, ParseErrorBeforeOutputDirectoryExists) {
  TempDir dir;
  auto r = run_tarvik("-h H -l L -m M -o newdir/run -n 5", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("ERROR!!! Must specify a value for flag: -n\n\n"), std::string::npos);
  EXPECT_NE(r.error.find("the summary file newdir/run.summary could not be written"), std::string::npos)
      << r.error;
}

TEST(Driver, OutputDirectoryThatCannotBeCreated) {
  TempDir dir;
  write_file(dir.file("plain"), "x");
  auto r = run_tarvik(example_inputs() + " -o plain/sub/run", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.error.find("tarvik: Error encountered, program terminated: "), std::string::npos)
      << r.error;
}

TEST(Driver, ParameterSummaryPrecedesEngine) {
  TempDir dir;
  auto r = run_tarvik(example_inputs() + " -o out/run -int 1000000 1001000 -n 2 0 -dl 5 1 1 1 -nrs -zz",
                      dir.path());
  // The only locus is not a panel SNP, so the engine stops with status 1.
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_EQ(r.output.rfind("Creating directory out\n", 0), 0u);
  EXPECT_NE(r.output.find("WARNING!! The following specified parameters were not recognised:\n    -zz\n"),
            std::string::npos);
  EXPECT_NE(r.output.find("No suitable disease loci. Program terminated.\n"), std::string::npos);
  const std::string summary = read_file(dir.file("out/run.summary"));
  EXPECT_TRUE(starts_with_banner(summary));
  EXPECT_EQ(summary.substr(summary.size() - 46), "No suitable disease loci. Program terminated.\n");
}
