// The output file set: names, formats, flags, the tag-SNP reader, write
// failures and the blocked writers against straightforward references.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "output/block_transpose.hpp"
#include "output/output_files.hpp"
#include "params/summary.hpp"
#include "sim/generator.hpp"
#include "test_support.hpp"

using namespace testing_support;
namespace fs = boost::filesystem;

namespace {

using Rows = std::vector<std::vector<short>>;

void add_snp(Data& data, int position, const std::string& rsid, const std::string& a0,
             const std::string& a1) {
  snp& s = data.snps_data[position];
  s.rsid = rsid;
  s.allele0 = a0;
  s.allele1 = a1;
}

Data three_snps() {
  Data data;
  add_snp(data, 100, "rs1", "A", "G");
  add_snp(data, 200, "rs2", "C", "T");
  add_snp(data, 300, "rs3", "G", "GA");
  return data;
}

// 2 controls (rows 0-3) and 1 case (rows 4-5) at the three SNPs.
const Rows small_rows = {{0, 1, 1}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 0}, {0, 1, 0}};

const std::string controls_haps = "0 1 0 1 \n1 1 0 0 \n1 0 1 1 \n";
const std::string cases_haps = "1 0 \n1 1 \n0 0 \n";
const std::string legend = "rs pos X0 X1\nrs1 100 A G\nrs2 200 C T\nrs3 300 G GA\n";
const std::string controls_gen =
    "snp_0 rs1 100 A G 0 1 0 0 1 0\n"
    "snp_1 rs2 200 C T 0 0 1 1 0 0\n"
    "snp_2 rs3 300 G GA 0 1 0 0 0 1\n";
const std::string cases_gen =
    "snp_0 rs1 100 A G 0 1 0\n"
    "snp_1 rs2 200 C T 0 0 1\n"
    "snp_2 rs3 300 G GA 1 0 0\n";
const std::string sample_header = "ID_1 ID_2 missing pheno\n0 0 0 B\n";
const std::string controls_sample = sample_header + "id1_0 id2_0 0 0\nid1_1 id2_1 0 0\n";
const std::string cases_sample = sample_header + "id1_2 id2_2 0 1\n";

// One call of output_haplotypes in a scratch directory.
struct OutputRun {
  TempDir dir;
  TarvikParameters params;
  Data data = three_snps();
  Rows rows = small_rows;
  std::vector<int> phenotypes = {0, 0, 1};

  OutputRun() {
    params.ncontrols = 2;
    params.ncases = 1;
    params.summary_file = dir.file("log.summary");
    set_output("run");
  }
  void set_output(const std::string& name) {
    params.output_file = dir.file(name);
    params.output_directory = params.output_file.parent_path();
  }
  void flags(std::initializer_list<const char*> given) {
    for (const char* f : given) params.specified_flags.insert(f);
  }
  void run() const {
    TarvikGenerator generator(params, data);
    generator.simulated_haplotypes = rows;
    generator.simulated_phenotypes = phenotypes;
    generator.output_haplotypes();
  }
  std::string summary() const { return file_exists(params.summary_file) ? read_file(params.summary_file) : ""; }
  std::string file(const std::string& name) const { return read_file(dir.file(name)); }
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
};

std::string announcements(const OutputRun& r, const std::vector<std::string>& names) {
  std::string text = "\nWriting output to files \n";
  for (const std::string& n : names) {
    text += "writing output file " + r.dir.file(n);
    text += n.size() > 3 && n.compare(n.size() - 3, 3, ".gz") == 0 ? " (in gzip mode) \n" : "\n";
  }
  return text;
}

bool is_gzip(const std::string& name) {
  const std::string content = read_file(name);
  return content.size() >= 2 && content[0] == '\x1f' && content[1] == '\x8b';
}

}  // namespace

TEST(OutputFiles, TwoControlsAndOneCaseInPlainMode) {
  OutputRun r;
  r.run();
  EXPECT_EQ(r.file("run.controls.haps"), controls_haps);
  EXPECT_EQ(r.file("run.cases.haps"), cases_haps);
  EXPECT_EQ(r.file("run.legend"), legend);
  EXPECT_EQ(r.file("run.controls.gen"), controls_gen);
  EXPECT_EQ(r.file("run.cases.gen"), cases_gen);
  EXPECT_EQ(r.file("run.controls.sample"), controls_sample);
  EXPECT_EQ(r.file("run.cases.sample"), cases_sample);
  const std::vector<std::string> order = {"run.controls.haps", "run.cases.haps",     "run.legend",
                                          "run.controls.gen",  "run.cases.gen",      "run.controls.sample",
                                          "run.cases.sample"};
  EXPECT_EQ(r.summary(), announcements(r, order));
  std::vector<std::string> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(r.files(), sorted);
}

TEST(OutputFiles, GzipModeCompressesHaplotypeAndGenotypeFilesOnly) {
  OutputRun r;
  fs::create_directory(r.dir.file("out"));
  r.set_output("out/run.gz");
  r.flags({"-t"});
  r.params.tag_snps_file = r.dir.file("tags");
  write_file(r.dir.file("tags"), "200\n");
  r.run();
  const std::vector<std::string> order = {
      "out/run.controls.haps.gz",     "out/run.cases.haps.gz",     "out/run.legend",
      "out/run.controls.gen.gz",      "out/run.cases.gen.gz",      "out/run.controls.tags.gen.gz",
      "out/run.cases.tags.gen.gz",    "out/run.controls.sample",   "out/run.cases.sample"};
  EXPECT_EQ(r.summary(), announcements(r, order));
  for (const std::string& name : order)
    EXPECT_EQ(is_gzip(r.dir.file(name)), name.substr(name.size() - 3) == ".gz") << name;
  EXPECT_EQ(read_gzip_file(r.dir.file("out/run.controls.haps.gz")), controls_haps);
  EXPECT_EQ(read_gzip_file(r.dir.file("out/run.cases.haps.gz")), cases_haps);
  EXPECT_EQ(read_gzip_file(r.dir.file("out/run.controls.gen.gz")), controls_gen);
  EXPECT_EQ(read_gzip_file(r.dir.file("out/run.cases.gen.gz")), cases_gen);
  EXPECT_EQ(read_gzip_file(r.dir.file("out/run.cases.tags.gen.gz")), "snp_1 rs2 200 C T 0 0 1\n");
  EXPECT_EQ(r.file("out/run.legend"), legend);
  EXPECT_EQ(r.file("out/run.controls.sample"), controls_sample);
  EXPECT_EQ(r.file("out/run.cases.sample"), cases_sample);
  // Standard tools read the compressed files.
  EXPECT_EQ(run_command("gzip -t out/run.controls.gen.gz out/run.cases.tags.gen.gz", r.dir.path()).status, 0);
}

TEST(OutputFiles, NamesFollowTheStemAndExtensionRules) {
  // output file -> control haplotype, legend and case tag-SNP genotype files
  const std::vector<std::vector<std::string>> cases = {
      {"run", "run.controls.haps", "run.legend", "run.cases.tags.gen"},
      {"out/run.txt", "out/run.txt.controls.haps", "out/run.txt.legend", "out/run.txt.cases.tags.gen"},
      {"out/run.gz", "out/run.controls.haps.gz", "out/run.legend", "out/run.cases.tags.gen.gz"},
      {"run.gz", "run.controls.haps.gz", "run.legend", "run.cases.tags.gen.gz"},
      {"data.tar.gz", "data.tar.controls.haps.gz", "data.tar.legend", "data.tar.cases.tags.gen.gz"},
      {"run.GZ", "run.GZ.controls.haps", "run.GZ.legend", "run.GZ.cases.tags.gen"},
      {"run.gzip", "run.gzip.controls.haps", "run.gzip.legend", "run.gzip.cases.tags.gen"},
      {"x.gz/run", "x.gz/run.controls.haps", "x.gz/run.legend", "x.gz/run.cases.tags.gen"},
  };
  for (const auto& c : cases) {
    TarvikParameters params;
    params.output_file = c[0];
    params.output_directory = params.output_file.parent_path();
    const OutputFileNames names = output_file_names(params);
    EXPECT_EQ(names.haps[0].string(), c[1]);
    EXPECT_EQ(names.legend.string(), c[2]);
    EXPECT_EQ(names.tags[1].string(), c[3]);
  }
}

TEST(OutputFiles, FlagsChooseTheFilesInTheirOrder) {
  struct Case {
    std::string output;
    std::vector<const char*> flags;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"run", {"-no_haps_output"}, {"run.controls.gen", "run.cases.gen", "run.controls.sample", "run.cases.sample"}},
      {"run", {"-no_haps_output", "-no_gens_output"}, {"run.controls.sample", "run.cases.sample"}},
      {"run",
       {"-no_gens_output", "-t"},
       {"run.controls.haps", "run.cases.haps", "run.legend", "run.controls.tags.gen", "run.cases.tags.gen",
        "run.controls.sample", "run.cases.sample"}},
      {"run",
       {"-no_haps_output", "-no_gens_output", "-t"},
       {"run.controls.tags.gen", "run.cases.tags.gen", "run.controls.sample", "run.cases.sample"}},
      {"run.GZ",
       {"-no_gens_output"},
       {"run.GZ.controls.haps", "run.GZ.cases.haps", "run.GZ.legend", "run.GZ.controls.sample",
        "run.GZ.cases.sample"}},
      {"data.tar.gz",
       {"-no_haps_output"},
       {"data.tar.controls.gen.gz", "data.tar.cases.gen.gz", "data.tar.controls.sample", "data.tar.cases.sample"}},
  };
  for (const Case& c : cases) {
    OutputRun r;
    r.set_output(c.output);
    for (const char* f : c.flags) r.params.specified_flags.insert(f);
    r.params.tag_snps_file = r.dir.file("tags");
    write_file(r.dir.file("tags"), "100 300\n");
    r.run();
    EXPECT_EQ(r.summary(), announcements(r, c.order)) << c.output;
    std::vector<std::string> sorted = c.order;
    sorted.push_back("tags");
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(r.files(), sorted) << c.output;
    for (const std::string& name : c.order) {
      const bool gz = name.substr(name.size() - 3) == ".gz";
      EXPECT_EQ(is_gzip(r.dir.file(name)), gz) << name;
      const std::string content = gz ? read_gzip_file(r.dir.file(name)) : r.file(name);
      if (name.find("controls.tags.gen") != std::string::npos) {
        EXPECT_EQ(content, "snp_0 rs1 100 A G 0 1 0 0 1 0\nsnp_2 rs3 300 G GA 0 1 0 0 0 1\n");
      }
      if (name.find("controls.haps") != std::string::npos) {
        EXPECT_EQ(content, controls_haps);
      }
    }
  }
}

TEST(OutputFiles, TagPositionsSelectLinesOfTheGenotypeFiles) {
  struct Case {
    std::string content;
    std::vector<int> snps;  // indices whose lines the tag files hold
  };
  const Case cases[] = {
      {"300 100\n100 999\n", {0, 2}},
      {"300 100\n100 999", {0, 2}},
      {"", {}},
      {"5 999\n-100\n", {}},
      {"  200\t\r\n+100\n\n", {0, 1}},
  };
  const std::vector<std::string> control_lines = {"snp_0 rs1 100 A G 0 1 0 0 1 0\n",
                                                  "snp_1 rs2 200 C T 0 0 1 1 0 0\n",
                                                  "snp_2 rs3 300 G GA 0 1 0 0 0 1\n"};
  const std::vector<std::string> case_lines = {"snp_0 rs1 100 A G 0 1 0\n", "snp_1 rs2 200 C T 0 0 1\n",
                                               "snp_2 rs3 300 G GA 1 0 0\n"};
  for (const Case& c : cases) {
    OutputRun r;
    r.flags({"-t"});
    r.params.tag_snps_file = r.dir.file("tags");
    write_file(r.dir.file("tags"), c.content);
    r.run();
    std::string controls, cases_text;
    for (int k : c.snps) {
      controls += control_lines[k];
      cases_text += case_lines[k];
    }
    EXPECT_EQ(r.file("run.controls.tags.gen"), controls) << c.content;
    EXPECT_EQ(r.file("run.cases.tags.gen"), cases_text) << c.content;
  }
}

TEST(OutputFiles, TagFileMayBeGzipCompressed) {
  TempDir dir;
  const fs::path name = dir.file("tags.gz");
  std::unique_ptr<std::ostream> out = open_output_file(name, std::ios::out);
  *out << "300\n100 7";
  close_output_file(out, name);
  ASSERT_TRUE(is_gzip(name.string()));
  EXPECT_EQ(read_tag_positions(name), (std::set<int>{7, 100, 300}));
}

TEST(OutputFiles, BadTagFileStopsBeforeTheTagAndSampleFiles) {
  struct Case {
    std::string content;  // empty name: the file does not exist
    std::string detail;
  };
  const std::string bad = "\" is not a position (a decimal integer within the range of an int).";
  const Case cases[] = {
      {"", "can't open file."},
      {"100 abc\n", "line 1: \"abc" + bad},
      {"100\n12x 300\n", "line 2: \"12x" + bad},
      {"2147483648\n", "line 1: \"2147483648" + bad},
      {"-2147483649", "line 1: \"-2147483649" + bad},
      {"1.5\n", "line 1: \"1.5" + bad},
      {"+\n", "line 1: \"+" + bad},
      {"1,2\n", "line 1: \"1,2" + bad},
  };
  for (const Case& c : cases) {
    OutputRun r;
    r.flags({"-t"});
    r.params.tag_snps_file = r.dir.file("tags");
    if (!c.content.empty()) write_file(r.dir.file("tags"), c.content);
    try {
      r.run();
      ADD_FAILURE() << "no error for " << c.content;
    } catch (const badfilename& e) {
      EXPECT_EQ(e.message, "Error reading file " + r.dir.file("tags") + ": " + c.detail);
    }
    // The haplotype, legend and genotype files are complete; nothing after them exists.
    EXPECT_EQ(r.file("run.cases.gen"), cases_gen) << c.content;
    EXPECT_FALSE(file_exists(r.dir.file("run.controls.tags.gen")));
    EXPECT_FALSE(file_exists(r.dir.file("run.controls.sample")));
  }
}

TEST(OutputFiles, GroupWithoutIndividuals) {
  OutputRun r;
  r.params.ncases = 0;
  r.rows.resize(4);
  r.phenotypes = {0, 0};
  r.flags({"-t"});
  r.params.tag_snps_file = r.dir.file("tags");
  write_file(r.dir.file("tags"), "200");
  r.run();
  EXPECT_EQ(r.file("run.controls.haps"), controls_haps);
  EXPECT_EQ(r.file("run.cases.haps"), "\n\n\n");
  EXPECT_EQ(r.file("run.cases.gen"), "snp_0 rs1 100 A G\nsnp_1 rs2 200 C T\nsnp_2 rs3 300 G GA\n");
  EXPECT_EQ(r.file("run.cases.tags.gen"), "snp_1 rs2 200 C T\n");
  EXPECT_EQ(r.file("run.cases.sample"), sample_header);
  EXPECT_EQ(r.file("run.controls.sample"), controls_sample);
}

TEST(OutputFiles, FileThatCannotBeOpenedStopsTheRun) {
  struct Case {
    std::string output;
    std::vector<const char*> flags;
    std::string blocked;                // made a directory, so it cannot be opened as a file
    std::vector<std::string> existing;  // the complete files left behind
  };
  const Case cases[] = {
      {"missing/run", {}, "", {}},
      {"run", {}, "run.controls.haps", {}},
      {"run", {"-no_haps_output"}, "run.controls.gen", {}},
      {"run.gz", {}, "run.legend", {"run.cases.haps.gz", "run.controls.haps.gz"}},
      {"run", {"-no_gens_output"}, "run.cases.sample", {"run.cases.haps", "run.controls.haps",
                                                         "run.controls.sample", "run.legend"}},
  };
  for (const Case& c : cases) {
    OutputRun r;
    r.set_output(c.output);
    for (const char* f : c.flags) r.params.specified_flags.insert(f);
    const OutputFileNames names = output_file_names(r.params);
    if (!c.blocked.empty()) fs::create_directory(r.dir.file(c.blocked));
    const std::string failing = c.blocked.empty() ? names.haps[0].string() : r.dir.file(c.blocked);
    try {
      r.run();
      ADD_FAILURE() << "no error for " << c.output;
    } catch (const badfilename& e) {
      EXPECT_EQ(e.message, "Error reading file " + failing + ": can't open file.");
    }
    EXPECT_EQ(r.files(), c.existing) << c.output << " " << c.blocked;
  }
}

TEST(OutputFiles, FullDiskStopsTheRun) {
  struct Case {
    std::string output;
    std::string full;  // symlinked to /dev/full
    int ncontrols;     // enough controls make the data exceed one block
  };
  const Case cases[] = {
      {"run", "run.controls.haps", 2},
      {"run", "run.controls.haps", 1000},
      {"run.gz", "run.controls.gen.gz", 2},
      {"run.gz", "run.controls.gen.gz", 1000},
      {"run", "run.cases.sample", 2},
  };
  for (const Case& c : cases) {
    OutputRun r;
    r.set_output(c.output);
    r.params.ncontrols = c.ncontrols;
    std::mt19937 random(7);
    r.rows.assign(2 * (c.ncontrols + 1), std::vector<short>());
    for (auto& row : r.rows) {
      row.resize(300);
      for (short& v : row) v = static_cast<short>(random() & 1);
    }
    for (int k = 3; k < 300; ++k) add_snp(r.data, 1000 + k, "rs", "A", "C");
    r.phenotypes.assign(c.ncontrols, 0);
    r.phenotypes.push_back(1);
    fs::create_symlink("/dev/full", r.dir.file(c.full));
    try {
      r.run();
      ADD_FAILURE() << "no error for " << c.full;
    } catch (const badfilename& e) {
      EXPECT_EQ(e.message, "Error writing file " + r.dir.file(c.full) +
                               ": the file could not be written completely (disk full or I/O error).");
    }
    // Nothing was written after the failed file.
    const std::string last = r.summary().substr(r.summary().rfind("writing output file "));
    EXPECT_EQ(last, "writing output file " + r.dir.file(c.full) +
                        (c.full.substr(c.full.size() - 3) == ".gz" ? " (in gzip mode) \n" : "\n"));
  }
}

TEST(OutputFiles, WrongHaplotypeCountStopsWithoutWriting) {
  OutputRun r;
  r.rows.resize(4);
  try {
    r.run();
    ADD_FAILURE() << "no error";
  } catch (const GenericErrorException& e) {
    EXPECT_EQ(e.detail,
              "output_haplotypes found 4 simulated haplotypes, but 2 controls and 1 cases need 6; no "
              "output file was written.\n");
  }
  EXPECT_EQ(r.summary(),
            "\nWriting output to files \nsomething has gone wrong in output_haplotypes: "
            "simulated_haplotypes.size()/2 != (params.ncontrols+params.ncases)\n");
  EXPECT_TRUE(r.files().empty());
}

TEST(OutputFiles, CodesOtherThanZeroAndOneAreReported) {
  OutputRun r;
  r.data.snps_data.erase(300);
  r.params.ncases = 0;
  r.rows = {{0, -1}, {1, 2}, {2, 0}, {2, 1}};
  r.phenotypes = {0, 0};
  r.run();
  // Values are written as they are; a genotype sum outside 0..2 gets no triple.
  EXPECT_EQ(r.file("run.controls.haps"), "0 1 2 2 \n-1 2 0 1 \n");
  EXPECT_EQ(r.file("run.controls.gen"), "snp_0 rs1 100 A G 0 1 0\nsnp_1 rs2 200 C T 0 1 0 0 1 0\n");
  const std::string d = r.dir.path() + "/";
  EXPECT_EQ(r.summary(),
            "\nWriting output to files \n"
            "writing output file " + d + "run.controls.haps\n"
            "something has gone wrong in output_haplotypes: one of the alleles is-1\n"
            "4 0 2 1\n"
            "writing output file " + d + "run.cases.haps\n"
            "writing output file " + d + "run.legend\n"
            "writing output file " + d + "run.controls.gen\n"
            "2 0 4 2 2\n"
            "something has gone wrong in output_haplotypes: one of the genotypes is 4\n"
            "writing output file " + d + "run.cases.gen\n"
            "writing output file " + d + "run.controls.sample\n"
            "writing output file " + d + "run.cases.sample\n");
}

TEST(BlockTranspose, MatchesElementCopyOnRandomData) {
  std::mt19937 random(12345);
  struct Case {
    int nrows, first, end, width;
  };
  const Case cases[] = {{5, 0, 5, 1}, {37, 3, 36, 64}, {10, 4, 4, 13}, {130, 0, 130, 65}, {9, 2, 9, 7}};
  for (const Case& c : cases) {
    const int nsnps = 200;
    Rows rows(c.nrows, std::vector<short>(nsnps));
    for (auto& row : rows)
      for (short& v : row) v = static_cast<short>(random() % 2);
    std::vector<int> snps(c.width);
    for (int& k : snps) k = static_cast<int>(random() % nsnps);
    const int n = c.end - c.first;
    std::vector<short> tile(c.width * n + 1, 99);
    EXPECT_TRUE(transpose_block(rows, c.first, c.end, snps.data(), c.width, tile.data()));
    for (int j = 0; j < c.width; ++j)
      for (int h = c.first; h < c.end; ++h) ASSERT_EQ(tile[j * n + h - c.first], rows[h][snps[j]]);
    EXPECT_EQ(tile.back(), 99) << "wrote past the tile";
    // Any value other than 0 or 1 among the copied ones is noticed.
    if (n > 0) {
      for (short odd : {2, -1, -32768, 3}) {
        Rows changed = rows;
        changed[c.end - 1][snps[c.width - 1]] = odd;
        EXPECT_FALSE(transpose_block(changed, c.first, c.end, snps.data(), c.width, tile.data()));
      }
    }
  }
}

// Many SNPs (not a multiple of the block size) and individuals: every file
// must equal a line-by-line formatting of the rows, in both modes, with
// several block writes per file.
TEST(OutputFiles, LargeRandomDataMatchesReferenceFormatting) {
  const int ncontrols = 301, ncases = 3, nsnps = 1999;
  std::mt19937 random(99);
  Data data;
  for (int k = 0; k < nsnps; ++k) add_snp(data, 1000 + 10 * k, "rs" + std::to_string(k), "A", "C");
  Rows rows(2 * (ncontrols + ncases), std::vector<short>(nsnps));
  for (auto& row : rows)
    for (short& v : row) v = static_cast<short>(random() & 1);
  // A 2 paired with a 0 takes the careful path in one block but is still a
  // valid genotype sum, so nothing is reported.
  rows[10][70] = 2;
  rows[11][70] = 0;
  std::vector<int> phenotypes(ncontrols + ncases, 0);
  std::fill(phenotypes.begin() + ncontrols, phenotypes.end(), 1);
  std::set<int> tags;
  std::string tag_text;
  for (int i = 0; i < 300; ++i) {
    const int k = static_cast<int>(random() % nsnps);
    tags.insert(k);
    tag_text += std::to_string(1000 + 10 * k) + (i % 7 ? " " : "\n");
  }

  const int bounds[3] = {0, 2 * ncontrols, 2 * (ncontrols + ncases)};
  std::string haps[2], gen[2], tag_gen[2];
  for (int g = 0; g < 2; ++g) {
    for (int k = 0; k < nsnps; ++k) {
      std::string line = "snp_" + std::to_string(k) + " rs" + std::to_string(k) + " " +
                         std::to_string(1000 + 10 * k) + " A C";
      for (int h = bounds[g]; h < bounds[g + 1]; ++h) {
        haps[g] += std::to_string(rows[h][k]) + " ";
        if (h % 2 == 0) {
          const int sum = rows[h][k] + rows[h + 1][k];
          line += sum == 0 ? " 1 0 0" : sum == 1 ? " 0 1 0" : " 0 0 1";
        }
      }
      haps[g] += "\n";
      gen[g] += line + "\n";
      if (tags.count(k)) tag_gen[g] += line + "\n";
    }
  }
  ASSERT_GT(haps[0].size(), 2u << 20);

  for (const char* output : {"run", "run.gz"}) {
    OutputRun r;
    r.set_output(output);
    r.params.ncontrols = ncontrols;
    r.params.ncases = ncases;
    r.data = data;
    r.rows = rows;
    r.phenotypes = phenotypes;
    r.flags({"-t"});
    r.params.tag_snps_file = r.dir.file("tags");
    write_file(r.dir.file("tags"), tag_text);
    r.run();
    const bool gz = std::string(output) == "run.gz";
    auto content = [&](const std::string& name) {
      return gz ? read_gzip_file(r.dir.file(name + ".gz")) : r.file(name);
    };
    EXPECT_EQ(content("run.controls.haps"), haps[0]) << output;
    EXPECT_EQ(content("run.cases.haps"), haps[1]) << output;
    EXPECT_EQ(content("run.controls.gen"), gen[0]) << output;
    EXPECT_EQ(content("run.cases.gen"), gen[1]) << output;
    EXPECT_EQ(content("run.controls.tags.gen"), tag_gen[0]) << output;
    EXPECT_EQ(content("run.cases.tags.gen"), tag_gen[1]) << output;
    EXPECT_EQ(r.summary().find("something"), std::string::npos);
  }

  // The single-line operation gives the same lines.
  TarvikParameters params;
  TarvikGenerator generator(params, data);
  generator.simulated_haplotypes = rows;
  std::string lines;
  int k = 0;
  for (auto it = generator.panel_data.snps_data.cbegin(); it != generator.panel_data.snps_data.cend(); ++it, ++k)
    generator.output_snp_data_gen_format(it, k, bounds[1], bounds[2], lines);
  EXPECT_EQ(lines, gen[1]);
}

TEST(OutputFilesDeathTest, SampleLineChecksThePhenotype) {
  OutputRun r;
  r.phenotypes = {0, 1, 1};
  EXPECT_DEATH(r.run(), "simulated_phenotypes\\[i\\] == j");
}
