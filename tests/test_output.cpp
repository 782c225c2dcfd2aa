// The output file set: names and flags, the tag-SNP reader and the faults that stop a write. The formatting
// of every file is pinned by the golden run of the driver tests.
#include <stdexcept>

#include <boost/filesystem.hpp>

#include "output/output_files.hpp"
#include "params/summary.hpp"
#include "store/dense_rows.hpp"
#include "test_support.hpp"

using namespace testing_support;
namespace fs = boost::filesystem;

namespace {

template <class F>
std::string error_of(F f) {
  try {
    f();
  } catch (const badfilename& e) { return e.message; } catch (const GenericErrorException& e) { return e.detail; }
  return "no error";
}

// One call of write_output_files in a scratch directory: two controls and a case at three SNPs.
struct OutputRun {
  TempDir dir;
  TarvikParameters params;
  std::map<int, snp> snps = {{100, snp{"rs1", 0, "A", "G"}}, {200, snp{"rs2", 0, "C", "T"}},
                             {300, snp{"rs3", 0, "G", "GA"}}};
  std::vector<std::vector<short>> rows = {{0, 1, 1}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 0}, {0, 1, 0}};

  explicit OutputRun(const std::string& output = "run", const std::vector<const char*>& flags = {}) {
    params.ncontrols = 2;
    params.ncases = 1;
    params.summary_file = dir.file("log.summary");
    params.tag_snps_file = dir.file("tags");
    params.output_file = dir.file(output);
    params.output_directory = params.output_file.parent_path();
    for (const char* f : flags) params.specified_flags.insert(f);
  }
  void run() const { write_output_files(DenseRows(rows, snps.size()), snps, params); }
  std::string summary() const { return file_exists(params.summary_file) ? read_file(params.summary_file) : ""; }
};

}  // namespace

TEST(OutputFiles, NamesAndFlags) {
  struct Case {
    std::string output;
    std::vector<const char*> flags;
    std::string prefix;
    std::vector<std::string> suffixes;  // of the files written, in order
  };
  const std::vector<std::string> all = {"controls.haps", "cases.haps", "legend", "controls.gen", "cases.gen",
                                        "controls.sample", "cases.sample"};
  const Case cases[] = {
      {"run", {}, "run.", all},
      {"run", {"-no_haps_output"}, "run.", {"controls.gen", "cases.gen", "controls.sample", "cases.sample"}},
      {"run", {"-no_gens_output", "-t"}, "run.", {"controls.haps", "cases.haps", "legend", "controls.tags.gen",
          "cases.tags.gen", "controls.sample", "cases.sample"}},
      {"run", {"-no_haps_output", "-no_gens_output", "-t"}, "run.",
       {"controls.tags.gen", "cases.tags.gen", "controls.sample", "cases.sample"}},
      {"x.gz/run.GZ", {}, "x.gz/run.GZ.", all},
      {"data.tar.gz", {"-no_haps_output", "-t"}, "data.tar.", {"controls.gen.gz", "cases.gen.gz",
          "controls.tags.gen.gz", "cases.tags.gen.gz", "controls.sample", "cases.sample"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    OutputRun r(c.output, c.flags);
    fs::create_directories(r.params.output_directory);
    write_file(r.dir.file("tags"), "300 100\n100 999");
    r.run();
    std::map<std::string, std::string> expected = snapshot(r.dir.path(), false);
    std::string announced = "\nWriting output to files \n";
    for (const std::string& suffix : c.suffixes) {
      const std::string name = r.dir.file(c.prefix + suffix);
      const bool gz = suffix.size() > 3 && suffix.compare(suffix.size() - 3, 3, ".gz") == 0;
      announced += "writing output file " + name + (gz ? " (in gzip mode) \n" : "\n");
      EXPECT_EQ(read_file(name).compare(0, 2, "\x1f\x8b") == 0, gz) << suffix;  // gzip data exactly when named .gz
      EXPECT_NE(read_text(name), "") << suffix;
      EXPECT_EQ(expected.erase(name.substr(r.dir.path().size())), 1u) << suffix;
    }
    EXPECT_EQ(r.summary(), announced);
    expected.erase("/tags");
    expected.erase("/x.gz");
    EXPECT_TRUE(expected.empty()) << expected.begin()->first;  // no file but those
  }
}

TEST(OutputFiles, TagFileReading) {
  const std::string bad = "\" is not a position (a decimal integer within the range of an int).";
  const std::vector<std::pair<std::string, std::string>> cases = {  // content, positions or error
      {"300 100\n100 999\n", "100 300 999 "},
      {"", ""},
      {"  200\t\r\n+100\n\n-5", "-5 100 200 "},
      {"100 abc\n", "line 1: \"abc" + bad},
      {"100\n12x 300\n", "line 2: \"12x" + bad},
      {"2147483648\n", "line 1: \"2147483648" + bad}, {"+\n", "line 1: \"+" + bad},
  };
  TempDir dir;
  for (const auto& c : cases) {
    for (const std::string& name : {dir.file("tags"), dir.file("tags.gz")}) {
      std::unique_ptr<std::ostream> out = open_output_file(name, std::ios::out);
      *out << c.first;
      close_output_file(out, name);
      std::string got;
      const std::string error = error_of([&] {
        for (int p : read_tag_positions(name)) got += std::to_string(p) + " ";
      });
      const bool bad_token = c.second.rfind("line", 0) == 0;
      EXPECT_EQ(error == "no error" ? got : error,
                bad_token ? "Error reading file " + name + ": " + c.second : c.second) << c.first;
    }
  }
}

// A full disk mid-file, in both modes, runs end to end in the fault tests; here, files that cannot be opened,
// and the internal faults of a haplotype count or an allele that is not 0 or 1.
TEST(OutputFiles, FaultsStopTheRun) {
  const std::pair<std::string, std::string> cases[] = {  // output, file; a directory where the file goes
      {"run.gz", "run.legend"}, {"run", "tags"}, {"missing/run", "missing/run.controls.haps"}};
  for (const auto& [output, file] : cases) {
    OutputRun r(output, {"-t"});
    if (file != "tags") write_file(r.dir.file("tags"), "");
    if (output != "missing/run") fs::create_directory(r.dir.file(file));
    EXPECT_EQ(error_of([&] { r.run(); }), "Error reading file " + r.dir.file(file) + ": can't open file.");
  }
  OutputRun r;
  r.rows.resize(4);
  EXPECT_EQ(error_of([&] { r.run(); }), "output_haplotypes found 4 simulated haplotypes, but 2 controls and 1 "
                                        "cases need 6; no output file was written.\n");
  EXPECT_EQ(r.summary(), "\nWriting output to files \nsomething has gone wrong in output_haplotypes: "
                         "simulated_haplotypes.size()/2 != (params.ncontrols+params.ncases)\n");
  EXPECT_EQ(snapshot(r.dir.path(), false).size(), 0u);
  OutputRun two;
  two.rows[3][1] = 2;
  EXPECT_THROW(two.run(), std::logic_error);
}
