#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "params/summary.hpp"
#include "params/tarvik_parameters.hpp"
#include "test_support.hpp"

using testing_support::TempDir;

namespace {

// Runs a parse on a whitespace-free list of tokens (program name first).
void parse(TarvikParameters& params, const std::vector<std::string>& tokens) {
  std::vector<std::string> copy(tokens);
  std::vector<char*> argv;
  for (std::string& t : copy) argv.push_back(&t[0]);
  params.process_parameters(static_cast<int>(argv.size()), argv.data());
}

std::vector<std::string> base_line(const std::string& out) {
  return {"tarvik", "-h", "H", "-l", "L", "-m", "M", "-o", out};
}

std::string pad(const std::string& label) { return std::string(60 - label.size(), ' ') + label; }

}  // namespace

TEST(Parse, DefaultsWithRequiredFlagsOnly) {
  TempDir dir;
  TarvikParameters p;
  parse(p, base_line(dir.file("run")));
  EXPECT_EQ(p.haplotype_file.string(), "H");
  EXPECT_EQ(p.lower, 0);
  EXPECT_EQ(p.upper, 500000000);
  EXPECT_EQ(p.ncontrols, 1);
  EXPECT_EQ(p.ncases, 1);
  EXPECT_EQ(p.Ne, 11418);
  EXPECT_EQ(p.theta, -1.0);
  EXPECT_TRUE(p.dl.empty());
  EXPECT_EQ(p.summary_file, dir.file("run") + ".summary");
  EXPECT_EQ(p.output_directory.string(), dir.path());
  EXPECT_TRUE(p.unrecognised_flags.empty());
}

TEST(Parse, HelpRequests) {
  TarvikParameters p;
  EXPECT_THROW(parse(p, {"tarvik"}), HelpException);
  EXPECT_THROW(parse(p, {"tarvik", "file1", "file2"}), HelpException);
  // "-help" wins even when required flags are missing, and stops the scan.
  EXPECT_THROW(parse(p, {"tarvik", "-n", "1", "1", "-help", "-n"}), HelpException);
}

TEST(Parse, FirstMissingRequiredFlagIsReported) {
  struct Case {
    std::vector<std::string> tokens;
    std::string flag;
  };
  const std::vector<Case> cases = {
      {{"tarvik", "-l", "L", "-m", "M", "-o", "x"}, "-h"},
      {{"tarvik", "-h", "H"}, "-l"},
      {{"tarvik", "-h", "H", "-l", "L", "-o", "x"}, "-m"},
      {{"tarvik", "-H", "H", "-l", "L", "-m", "M", "-o", "x"}, "-h"},  // case-sensitive
      {{"tarvik", "--h", "H", "-l", "L", "-m", "M", "-o", "x"}, "-h"},
  };
  for (const Case& c : cases) {
    TarvikParameters p;
    try {
      parse(p, c.tokens);
      ADD_FAILURE() << "no error for missing " << c.flag;
    } catch (const MissingFlagException& e) {
      EXPECT_EQ(e.flag, c.flag);
      EXPECT_EQ(e.message, "ERROR!!! Must specify a value for flag: " + c.flag);
    }
  }
}

TEST(Parse, BadValuesAreRejectedNamingFlagAndToken) {
  TempDir dir;
  struct Case {
    std::vector<std::string> extra;
    std::string fragment;  // expected in the message; empty for a missing-flag error
    std::string missing;   // flag named by a missing-flag error
  };
  const std::vector<Case> cases = {
      {{"-n", "ten", "5"}, "flag -n expects an integer within 32 bits but got \"ten\"", ""},
      {{"-n", "5", "3000000000"}, "flag -n expects an integer within 32 bits but got \"3000000000\"", ""},
      {{"-Ne", "1e4x"}, "flag -Ne expects a number but got \"1e4x\"", ""},
      {{"-int", "5kb", "10"}, "flag -int expects an integer within 32 bits but got \"5kb\"", ""},
      {{"-theta", "nan"}, "flag -theta expects a number but got \"nan\"", ""},
      {{"-n", "-1", "5"}, "numbers of controls and cases must not be negative", ""},
      {{"-Ne", "-3"}, "effective population size must not be negative", ""},
      {{"-dl", "1000", "1", "-1", "2"}, "relative risks must not be negative", ""},
      {{"-dl", "1000", "2", "1", "2"}, "Disease allele must be 0 or 1 but got 2 in DiseaseLocus. \n", ""},
      {{"-dl", "1000", "1", "1.5", "x"}, "flag -dl expects a number but got \"x\"", ""},
      {{"-n", "5"}, "", "-n"},
      {{"-int", "5"}, "", "-int"},
      {{"-theta"}, "", "-theta"},
      {{"-dl", "1000", "1", "1.5"}, "", "-dl"},
      {{"-dl", "1000", "1", "1.5", "2", "2000"}, "", "-dl"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> tokens = base_line(dir.file("run"));
    tokens.insert(tokens.end(), c.extra.begin(), c.extra.end());
    TarvikParameters p;
    try {
      parse(p, tokens);
      ADD_FAILURE() << "accepted " << c.extra[0] << " " << (c.extra.size() > 1 ? c.extra[1] : "");
    } catch (const GenericErrorException& e) {
      EXPECT_EQ(e.prefix, "Error encountered, program terminated: ");
      EXPECT_NE(e.detail.find(c.fragment), std::string::npos) << e.detail;
      EXPECT_FALSE(c.fragment.empty()) << "expected a missing-flag error, got: " << e.detail;
    } catch (const MissingFlagException& e) {
      EXPECT_EQ(e.flag, c.missing);
    }
  }
}

TEST(Parse, ValuesAndFlagBookkeeping) {
  TempDir dir;
  TarvikParameters p;
  std::vector<std::string> t = base_line(dir.file("run"));
  for (const char* s : {"-dl", "3000", "1", "1.5", "2.25", "1000", "0", "2", "4", "-n", "10", "20",
                        "-int", "-5", "-7", "-foo", "-foo", "-dl", "3000", "0", "9", "9", "-dl",
                        "-nrs", "-Ne", "40000"})
    t.push_back(s);
  testing::internal::CaptureStdout();
  parse(p, t);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Error: Ne needs to be set\n");  // too large: reported, value kept
  EXPECT_EQ(p.Ne, 40000);
  ASSERT_EQ(p.dl.size(), 2u);
  // The first locus given at a position stays; later loci there are dropped.
  const DiseaseLocus& first = p.dl.at(3000);
  EXPECT_EQ(first.disease_allele, 1);
  EXPECT_EQ(first.rr, (std::vector<double>{1.0, 1.5, 2.25}));
  // Risk allele 0: the table is indexed by allele-1 codes, so it is reversed.
  EXPECT_EQ(p.dl.at(1000).rr, (std::vector<double>{4.0, 2.0, 1.0}));
  EXPECT_EQ(p.ncontrols, 10);
  EXPECT_EQ(p.ncases, 20);
  EXPECT_EQ(p.lower, 0);
  EXPECT_EQ(p.upper, 500000000);
  EXPECT_EQ(p.unrecognised_flags, (std::set<std::string>{"-5", "-7", "-foo"}));
  EXPECT_TRUE(p.flag_given("-nrs"));
  EXPECT_EQ(DiseaseLocus().rr, (std::vector<double>{1.0, 1.0, 1.0}));
}

TEST(Parse, OutputDirectoryCreation) {
  TempDir dir;
  {
    TarvikParameters p;
    testing::internal::CaptureStdout();
    parse(p, base_line(dir.file("a/b/run")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Creating directory " + dir.file("a/b") + "\n");
    EXPECT_TRUE(boost::filesystem::is_directory(dir.file("a/b")));
  }
  {
    // A bare stem: the message names nothing and nothing is created.
    TarvikParameters p;
    testing::internal::CaptureStdout();
    parse(p, base_line("run"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Creating directory \n");
    EXPECT_TRUE(p.output_directory.empty());
  }
  {
    testing_support::write_file(dir.file("plain"), "x");
    TarvikParameters p;
    EXPECT_THROW(parse(p, base_line(dir.file("plain/run"))), boost::filesystem::filesystem_error);
  }
}

TEST(Summary, ExactLayout) {
  TempDir dir;
  TarvikParameters p;
  std::vector<std::string> t = base_line(dir.file("run"));
  for (const char* s : {"-dl", "2000", "1", "1.5", "2.25", "1000", "0", "2", "4", "-int", "-5",
                        "100000", "-n", "10", "20", "-foo"})
    t.push_back(s);
  parse(p, t);
  std::ostringstream out;
  p.parameters_summary(out);
  std::string cmd = "tarvik -h H -l L -m M -o " + dir.file("run") +
                    " -dl 2000 1 1.5 2.25 1000 0 2 4 -int -5 100000 -n 10 20 -foo ";
  std::string expected = "Command line input is:\n" + cmd + "\n\n" +
                         "WARNING!! The following specified parameters were not recognised:\n"
                         "    -5\n    -foo\n\n"
                         "FILE INPUTS\n" +
                         pad("haplotype file: ") + "H\n" + pad("legend file: ") + "L\n" +
                         pad("genetic map file: ") + "M\n" + pad("tag snps file: ") + "\n" +
                         "FILE OUTPUTS\n" + pad("output file: ") + dir.file("run") + "\n" +
                         pad("summary file: ") + dir.file("run") + ".summary\n" +
                         "PARAMETER INPUTS\n" + pad("no. controls to simulate: ") + "10\n" +
                         pad("no. cases to simulate: ") + "20\n" + pad("disease loci: ") +
                         "(1) 1000 (2) 2000 \n" + pad("disease alleles: ") + "(1) 0 (2) 1 \n" +
                         pad("heterozygote/homozygote risks: ") + "(1) 2.00/4.00 (2) 1.50/2.25 \n" +
                         pad("lower: ") + "0\n" + pad("upper: ") + "100000\n" + pad("Ne: ") +
                         "11418\n" + pad("theta: ") + "-1\n\n";
  EXPECT_EQ(out.str(), expected);
  // The number format left behind is relied on by the run-time line.
  out.str("");
  out << 12.7 << " " << 0.0005;
  EXPECT_EQ(out.str(), "13 0");
}

TEST(Summary, HelpScreenLines) {
  TarvikParameters p;
  std::ostringstream out;
  p.parameters_help(out);
  const std::string help = out.str();
  EXPECT_EQ(help.substr(0, 32), "Help Menu\n\nEssential flags are:\n");
  EXPECT_NE(help.find("-m <file>                               : the recombinaion rate file\n"),
            std::string::npos);
  EXPECT_NE(help.find("\nOptional flags are:\n-n <m> <n>                              : the number"),
            std::string::npos);
  EXPECT_EQ(help.find("-nrs"), std::string::npos);
}

TEST(SummaryFile, FlushesAppendAndKeepFormat) {
  TempDir dir;
  TarvikParameters p;
  p.summary_file = dir.file("s.summary");
  std::ostringstream log;
  testing::internal::CaptureStdout();
  update_summary_file(p, log, std::ios::app);  // empty: creates the file only
  update_summary_file(p, log, std::ios::app);
  log << std::fixed << std::setprecision(0) << "first " << 2.6 << "\n";
  update_summary_file(p, log, std::ios::app);
  log << "second " << 3.4 << "\n";
  update_summary_file(p, log, std::ios::app);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "first 3\nsecond 3\n");
  EXPECT_EQ(testing_support::read_file(p.summary_file), "first 3\nsecond 3\n");
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

TEST(OutputFile, GzipExactlyForGzNames) {
  TempDir dir;
  const std::string text = "line one\nline two 0 1 0\n";
  for (const char* name : {"run.controls.haps.gz", "run.legend", "run.GZ", "run.gzip"}) {
    std::ostringstream log;
    auto out = open_output_file(dir.file(name), log, std::ios::out);
    *out << text;
    close_output_file(out, dir.file(name));
    const bool gz = std::string(name).size() > 3 && std::string(name).substr(std::string(name).size() - 3) == ".gz";
    if (gz) {
      EXPECT_EQ(log.str(), "writing output file " + dir.file(name) + " (in gzip mode) \n");
      const std::string raw = testing_support::read_file(dir.file(name));
      ASSERT_GE(raw.size(), 10u);
      EXPECT_EQ(static_cast<unsigned char>(raw[0]), 0x1f);
      EXPECT_EQ(static_cast<unsigned char>(raw[1]), 0x8b);
      EXPECT_EQ(raw.substr(4, 4), std::string(4, '\0'));  // modification time 0
      EXPECT_EQ(testing_support::read_gzip_file(dir.file(name)), text);
      EXPECT_EQ(testing_support::run_command("gzip -t '" + dir.file(name) + "'").status, 0);
    } else {
      EXPECT_EQ(log.str(), "writing output file " + dir.file(name) + "\n");
      EXPECT_EQ(testing_support::read_file(dir.file(name)), text);
    }
  }
}

TEST(OutputFile, TruncateOrAppendAndFailures) {
  TempDir dir;
  const std::string name = dir.file("f.txt");
  testing_support::write_file(name, "old\n");
  auto out = open_output_file(name, std::ios::out | std::ios::app);
  *out << "new\n";
  close_output_file(out, name);
  EXPECT_EQ(testing_support::read_file(name), "old\nnew\n");
  out = open_output_file(name, std::ios::out);
  *out << "only\n";
  close_output_file(out, name);
  EXPECT_EQ(testing_support::read_file(name), "only\n");

  std::ostringstream log;
  try {
    open_output_file(dir.file("nodir/x.gz"), log, std::ios::out);
    ADD_FAILURE() << "no error";
  } catch (const badfilename& e) {
    EXPECT_EQ(e.message, "Error reading file " + dir.file("nodir/x.gz") + ": can't open file.");
  }
  // The announcement precedes the attempt.
  EXPECT_EQ(log.str(), "writing output file " + dir.file("nodir/x.gz") + " (in gzip mode) \n");

  // A full disk is reported when the data cannot be written, for plain and gzip.
  for (const char* device : {"/dev/full"}) {
    for (bool gz : {false, true}) {
      const std::string link = dir.file(gz ? "full.gz" : "full.txt");
      boost::filesystem::create_symlink(device, link);
      auto s = open_output_file(link, std::ios::out);
      *s << std::string(1 << 20, 'x');
      EXPECT_THROW(close_output_file(s, link), badfilename) << (gz ? "gzip" : "plain");
      EXPECT_FALSE(s);
    }
  }
}
