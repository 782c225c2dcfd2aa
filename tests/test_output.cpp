// The output file set: names, formats, flags, the tag-SNP reader, write
// failures, and the blocked writers against a line-by-line reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "output/output_files.hpp"
#include "params/summary.hpp"
#include "store/dense_rows.hpp"
#include "test_support.hpp"

using namespace testing_support;
namespace fs = boost::filesystem;

namespace {

using Rows = std::vector<std::vector<short>>;

bool gz_name(const std::string& s) { return s.size() > 3 && s.compare(s.size() - 3, 3, ".gz") == 0; }

template <class F>
std::string error_of(F f) {
  try {
    f();
  } catch (const badfilename& e) { return e.message; } catch (const GenericErrorException& e) { return e.detail; }
  return "no error";
}

const std::string sample_header = "ID_1 ID_2 missing pheno\n0 0 0 B\n";

// One call of output_haplotypes in a scratch directory.
struct OutputRun {
  TempDir dir;
  TarvikParameters params;
  Data data;
  Rows rows = {{0, 1, 1}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 0}, {0, 1, 0}};
  std::vector<int> phenotypes = {0, 0, 1};

  explicit OutputRun(const std::string& output = "run", const std::vector<const char*>& flags = {}) {
    data.snps_data = {{100, snp{"rs1", 0, "A", "G"}}, {200, snp{"rs2", 0, "C", "T"}},
                      {300, snp{"rs3", 0, "G", "GA"}}};
    params.ncontrols = 2;
    params.ncases = 1;
    params.summary_file = dir.file("log.summary");
    params.tag_snps_file = dir.file("tags");
    params.output_file = dir.file(output);
    params.output_directory = params.output_file.parent_path();
    for (const char* f : flags) params.specified_flags.insert(f);
  }
  // Random codes for the individuals at nsnps SNPs, seeded so that runs agree.
  void randomise(int ncontrols, int ncases, int nsnps) {
    std::mt19937 random(99);
    params.ncontrols = ncontrols;
    params.ncases = ncases;
    data.snps_data.clear();
    for (int k = 0; k < nsnps; ++k) data.snps_data[1000 + 10 * k] = snp{"rs" + std::to_string(k), 0, "A", "C"};
    rows.assign(2 * (ncontrols + ncases), std::vector<short>(nsnps));
    for (auto& row : rows)
      for (short& v : row) v = static_cast<short>(random() & 1);
    phenotypes.assign(ncontrols + ncases, 1);
    std::fill(phenotypes.begin(), phenotypes.begin() + ncontrols, 0);
  }
  void run() const {
    write_output_files(DenseRows(rows, data.snps_data.size()), data.snps_data, params);
  }
  std::string summary() const { return file_exists(params.summary_file) ? read_file(params.summary_file) : ""; }
  // A file's text, decompressed when its name ends in ".gz"; only those are gzip data.
  std::string content(const std::string& name) const {
    const std::string raw = read_file(dir.file(name));
    EXPECT_EQ(raw.compare(0, 2, "\x1f\x8b") == 0, gz_name(name)) << name;
    return gz_name(name) ? read_gzip_file(dir.file(name)) : raw;
  }
  // Every file under the directory except the summary, relative, sorted.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (fs::recursive_directory_iterator it(dir.path()), end; it != end; ++it) {
      std::string name = it->path().string().substr(dir.path().size() + 1);
      if (name != "log.summary" && !fs::is_directory(it->path())) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string announcement(const std::string& name) const {
    return "writing output file " + dir.file(name) + (gz_name(name) ? " (in gzip mode) \n" : "\n");
  }
};

}  // namespace

// The contents are pinned by the golden run and the reference formatting below.
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
    std::vector<std::string> names = {"tags"};
    std::string announced = "\nWriting output to files \n";
    for (const std::string& suffix : c.suffixes) {
      names.push_back(c.prefix + suffix);
      announced += r.announcement(names.back());
      EXPECT_NE(r.content(names.back()), "") << suffix;  // gzip data exactly when named .gz
    }
    EXPECT_EQ(r.summary(), announced);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(r.files(), names);
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

// A full disk mid-file, in both modes, runs end to end in the fault tests; here, files that cannot be opened.
TEST(OutputFiles, FileThatCannotBeOpenedStopsTheRun) {
  const std::pair<std::string, std::string> cases[] = {  // output, file; a directory where the file goes
      {"run.gz", "run.legend"}, {"run", "tags"}, {"missing/run", "missing/run.controls.haps"}};
  for (const auto& [output, file] : cases) {
    OutputRun r(output, {"-t"});
    if (file != "tags") write_file(r.dir.file("tags"), "");
    if (output != "missing/run") fs::create_directory(r.dir.file(file));
    EXPECT_EQ(error_of([&] { r.run(); }), "Error reading file " + r.dir.file(file) + ": can't open file.");
  }
}

TEST(OutputFiles, WrongHaplotypeCountStopsWithoutWriting) {
  OutputRun r;
  r.rows.resize(4);
  EXPECT_EQ(error_of([&] { r.run(); }), "output_haplotypes found 4 simulated haplotypes, but 2 controls and 1 "
                                        "cases need 6; no output file was written.\n");
  EXPECT_EQ(r.summary(), "\nWriting output to files \nsomething has gone wrong in output_haplotypes: "
                         "simulated_haplotypes.size()/2 != (params.ncontrols+params.ncases)\n");
  EXPECT_TRUE(r.files().empty());
}

// Odd sizes against a line-by-line formatting of the rows: 1999 SNPs (a
// full block and a part), 301 controls and 3 cases in gzip mode, then no
// cases in plain mode.
TEST(OutputFiles, OddSizesMatchReferenceFormatting) {
  const int nsnps = 1999;
  std::string tag_text;
  for (int k = 0; k < nsnps; k += 7) tag_text += std::to_string(1000 + 10 * k) + (k % 5 ? " " : "\n");
  for (const auto& [ncases, gz] : {std::pair<int, std::string>{3, ".gz"}, {0, ""}}) {
    OutputRun r("run" + gz, {"-t"});
    r.randomise(301, ncases, nsnps);
    write_file(r.dir.file("tags"), tag_text);
    r.run();
    EXPECT_EQ(r.summary().find("something"), std::string::npos);
    const int bounds[3] = {0, 602, 602 + 2 * ncases};
    const char* const triples[3] = {" 1 0 0", " 0 1 0", " 0 0 1"};
    for (int g = 0; g < 2; ++g) {
      std::string haps, gen, tag_gen;
      for (int k = 0; k < nsnps; ++k) {
        std::string line = "snp_" + std::to_string(k) + " rs" + std::to_string(k) + " " +
                           std::to_string(1000 + 10 * k) + " A C";
        for (int h = bounds[g]; h < bounds[g + 1]; ++h) {
          haps += std::to_string(r.rows[h][k]) + " ";
          if (h % 2 == 0) line += triples[r.rows[h][k] + r.rows[h + 1][k]];
        }
        haps += "\n";
        gen += line + "\n";
        if (k % 7 == 0) tag_gen += line + "\n";
      }
      const std::string group = g == 0 ? "run.controls" : "run.cases";
      EXPECT_EQ(r.content(group + ".haps" + gz) + r.content(group + ".gen" + gz) + r.content(group + ".tags.gen" + gz),
                haps + gen + tag_gen) << group << gz;
    }
    if (ncases == 0) {
      EXPECT_EQ(r.content("run.cases.sample"), sample_header);
    }
  }
  // Alleles are 0 or 1 by construction; anything else is an internal fault.
  OutputRun r;
  r.rows[3][1] = 2;
  EXPECT_THROW(r.run(), std::logic_error);
}
