// Command-line parsing, the parameter summary, the summary file and the
// output file opener.
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "params/summary.hpp"
#include "params/tarvik_parameters.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

void parse(TarvikParameters& params, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> tokens;
  for (std::string t; in >> t;) tokens.push_back(t);
  std::vector<char*> argv;
  for (std::string& t : tokens) argv.push_back(&t[0]);
  params.process_parameters(static_cast<int>(argv.size()), argv.data());
}

std::string pad(const std::string& label) { return std::string(60 - label.size(), ' ') + label; }

}  // namespace

TEST(Parse, CommandLinesThatStop) {
  const std::string base = "tarvik -h H -l L -m M -o run ";
  const std::string stop = "Error encountered, program terminated: ";
  const std::string missing = "ERROR!!! Must specify a value for flag: ";
  const std::string integer = "expects an integer within 32 bits but got ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      // "-help" wins even when required flags are missing, and stops the scan.
      {"tarvik", "help"},
      {"tarvik file1 file2", "help"},
      {"tarvik -n 1 1 -help -n", "help"},
      {"tarvik -l L -m M -o x", missing + "-h"},
      {"tarvik -h H -l L -o x", missing + "-m"},
      {"tarvik -H H -l L -m M -o x", missing + "-h"},
      {base + "-n 5", missing + "-n"},
      {base + "-theta", missing + "-theta"},
      {base + "-dl 1000 1 1.5", missing + "-dl"},
      {base + "-dl 1000 1 1.5 2 2000", missing + "-dl"},
      {base + "-n ten 5", stop + "flag -n " + integer + "\"ten\".\n"},
      {base + "-n 5 3000000000", stop + "flag -n " + integer + "\"3000000000\".\n"},
      {base + "-Ne 1e4x", stop + "flag -Ne expects a number but got \"1e4x\".\n"},
      {base + "-theta nan", stop + "flag -theta expects a number but got \"nan\".\n"},
      {base + "-n -1 5", stop + "flag -n: the numbers of controls and cases must not be negative but got -1 and 5.\n"},
      {base + "-Ne -3", stop + "flag -Ne: the effective population size must not be negative but got -3.\n"},
      {base + "-dl 1000 1 -1 2", stop + "flag -dl: relative risks must not be negative but got -1 and 2.\n"},
      {base + "-dl 1000 2 1 2", stop + "Disease allele must be 0 or 1 but got 2 in DiseaseLocus. \n"},
  };
  for (const auto& [line, expected] : cases) {
    TarvikParameters p;
    std::string message = "accepted";
    try {
      parse(p, line);
    } catch (const HelpException&) {
      message = "help";
    } catch (const MissingFlagException& e) {
      message = e.message;
    } catch (const GenericErrorException& e) {
      message = e.prefix + e.detail;
    }
    EXPECT_EQ(message, expected) << line;
  }
}

TEST(Parse, ValuesAndFlagBookkeeping) {
  TempDir dir;
  TarvikParameters p;
  testing::internal::CaptureStdout();
  parse(p, "tarvik -h H -l L -m M -o " + dir.file("run") +
               " -dl 3000 1 1.5 2.25 1000 0 2 4 -n 10 20 -int -5 -7 -foo -foo -dl 3000 0 9 9 -dl -nrs -Ne 40000");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Ne needs to be set\n");  // too large: reported, kept
  EXPECT_EQ(p.Ne, 40000);
  ASSERT_EQ(p.dl.size(), 2u);
  // The first locus given at a position stays; later loci there are dropped.
  EXPECT_EQ(p.dl.at(3000).disease_allele, 1);
  EXPECT_EQ(p.dl.at(3000).rr, (std::vector<double>{1.0, 1.5, 2.25}));
  // Risk allele 0: the table is indexed by allele-1 codes, so it is reversed.
  EXPECT_EQ(p.dl.at(1000).rr, (std::vector<double>{4.0, 2.0, 1.0}));
  EXPECT_EQ(std::make_pair(p.ncontrols, p.ncases), std::make_pair(10, 20));
  EXPECT_EQ(p.upper, 500000000);
  EXPECT_EQ(p.unrecognised_flags, (std::set<std::string>{"-5", "-7", "-foo"}));
  EXPECT_TRUE(p.flag_given("-nrs"));
}

TEST(Parse, DefaultsAndOutputDirectory) {
  TempDir dir;
  TarvikParameters p, bare;
  testing::internal::CaptureStdout();
  parse(p, "tarvik -h H -l L -m M -o " + dir.file("a/b/run"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Creating directory " + dir.file("a/b") + "\n");
  EXPECT_TRUE(boost::filesystem::is_directory(dir.file("a/b")));
  EXPECT_EQ(p.haplotype_file.string() + p.legend_file + p.genetic_map_file, "HLM");
  EXPECT_EQ(p.summary_file, dir.file("a/b/run") + ".summary");
  EXPECT_EQ(std::make_pair(p.ncontrols, p.ncases), std::make_pair(1, 1));
  // A bare stem: the message names nothing and nothing is created.
  testing::internal::CaptureStdout();
  parse(bare, "tarvik -h H -l L -m M -o run");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Creating directory \n");
  EXPECT_TRUE(bare.output_directory.empty());
}

TEST(Summary, ExactLayout) {
  TempDir dir;
  TarvikParameters p;
  const std::string line = "tarvik -h H -l L -m M -o " + dir.file("run") +
                           " -dl 2000 1 1.5 2.25 1000 0 2 4 -int -5 100000 -n 10 20 -foo";
  parse(p, line);
  std::ostringstream out;
  p.parameters_summary(out);
  EXPECT_EQ(out.str(), "Command line input is:\n" + line + " \n\n" +
                           "WARNING!! The following specified parameters were not recognised:\n    -5\n    -foo\n\n"
                           "FILE INPUTS\n" + pad("haplotype file: ") + "H\n" + pad("legend file: ") + "L\n" +
                           pad("genetic map file: ") + "M\n" + pad("tag snps file: ") + "\n" + "FILE OUTPUTS\n" +
                           pad("output file: ") + dir.file("run") + "\n" + pad("summary file: ") + dir.file("run") +
                           ".summary\n" + "PARAMETER INPUTS\n" + pad("no. controls to simulate: ") + "10\n" +
                           pad("no. cases to simulate: ") + "20\n" + pad("disease loci: ") + "(1) 1000 (2) 2000 \n" +
                           pad("disease alleles: ") + "(1) 0 (2) 1 \n" + pad("heterozygote/homozygote risks: ") +
                           "(1) 2.00/4.00 (2) 1.50/2.25 \n" + pad("lower: ") + "0\n" + pad("upper: ") + "100000\n" +
                           pad("Ne: ") + "11418\n" + pad("theta: ") + "-1\n\n");
  // The number format left behind is relied on by the run-time line.
  out.str("");
  out << 12.7 << " " << 0.0005;
  EXPECT_EQ(out.str(), "13 0");
}

TEST(SummaryFile, FlushesAppendAndKeepFormat) {
  TempDir dir;
  TarvikParameters p;
  p.summary_file = dir.file("s.summary");
  std::ostringstream log;
  testing::internal::CaptureStdout();
  update_summary_file(p, log, std::ios::app);  // empty: creates the file only
  log << std::fixed << std::setprecision(0) << "first " << 2.6 << "\n";
  update_summary_file(p, log, std::ios::app);
  log << "second " << 3.4 << "\n";
  update_summary_file(p, log, std::ios::app);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "first 3\nsecond 3\n");
  EXPECT_EQ(read_file(p.summary_file), "first 3\nsecond 3\n");
  EXPECT_EQ(log.str(), "");
  // An unopenable summary file keeps the text and writes nothing.
  p.summary_file = dir.file("missing/s.summary");
  log << "kept";
  try {
    update_summary_file(p, log, std::ios::app);
    ADD_FAILURE() << "no error";
  } catch (const badfilename& e) {
    EXPECT_EQ(e.message, "Error reading file " + p.summary_file + ": can't open file.");
  }
  EXPECT_EQ(log.str(), "kept");
}

TEST(OutputFile, TruncateOrAppendAndGzipHeader) {
  TempDir dir;
  const std::string name = dir.file("f.txt");
  write_file(name, "old\n");
  for (const auto& [mode, expected] : {std::make_pair(std::ios::out | std::ios::app, "old\nnew\n"),
                                       std::make_pair(std::ios::out, "new\n")}) {
    auto out = open_output_file(name, mode);
    *out << "new\n";
    close_output_file(out, name);
    EXPECT_EQ(read_file(name), expected);
  }
  // Gzip output carries no timestamp, so reruns give identical files.
  const std::string gz = dir.file("f.gz");
  auto out = open_output_file(gz, std::ios::out);
  *out << "new\n";
  close_output_file(out, gz);
  const std::string raw = read_file(gz);
  EXPECT_EQ(raw.substr(0, 2) + raw.substr(4, 4), std::string("\x1f\x8b\0\0\0\0", 6));
  EXPECT_EQ(run_command("gzip -t '" + gz + "'").status, 0);
}
