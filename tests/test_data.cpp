// Reading the genetic map and the reference panel, plain and gzip.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "data/data.hpp"
#include "data/input_file.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string kMap = "position rate cM\n0 1.0 0.0\n10000 1.0 1.0\n";
const std::string kLegendHeader = "rsid position a0 a1\n";

void write_gzip(const std::string& name, const std::string& content) {
  gzFile out = gzopen(name.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(gzwrite(out, content.data(), static_cast<unsigned>(content.size())),
            static_cast<int>(content.size()));
  ASSERT_EQ(gzclose(out), Z_OK);
}

std::string right60(const std::string& label) { return std::string(60 - label.size(), ' ') + label; }

class DataTest : public ::testing::Test {
 protected:
  TempDir dir;

  Data fresh() {
    Data data;
    data.summary_file = dir.file("run.summary");
    data.haplotype_file = dir.file("panel.hap");
    data.legend_file = dir.file("panel.legend");
    data.genetic_map_file = dir.file("panel.map");
    data.Ne = 11418;
    data.lower = 0;
    data.upper = 1000000;
    return data;
  }

  void write_panel(const std::string& haps, const std::string& legend,
                   const std::string& map = kMap) {
    write_file(dir.file("panel.hap"), haps);
    write_file(dir.file("panel.legend"), legend);
    write_file(dir.file("panel.map"), map);
  }

  // Reads map and panel, returning the error message ("" when none); the
  // console text goes to `console`.
  std::string read_all(Data& data, std::string* console = nullptr) {
    std::string message;
    testing::internal::CaptureStdout();
    try {
      data.read_genetic_map();
      data.read_haplotype_data();
    } catch (const badfilename& e) {
      message = e.message;
    }
    const std::string out = testing::internal::GetCapturedStdout();
    if (console) *console = out;
    return message;
  }
};

std::vector<int> positions_of(const Data& data) {
  std::vector<int> keys;
  for (const auto& entry : data.snps_data) keys.push_back(entry.first);
  return keys;
}

void expect_same_panel(const Data& a, const Data& b) {
  EXPECT_EQ(a.nhaplotypes, b.nhaplotypes);
  EXPECT_EQ(a.map_positions, b.map_positions);
  EXPECT_EQ(a.map_cumulative_rho, b.map_cumulative_rho);
  ASSERT_EQ(a.snps_data.size(), b.snps_data.size());
  auto i = a.snps_data.begin();
  auto j = b.snps_data.begin();
  for (; i != a.snps_data.end(); ++i, ++j) {
    ASSERT_EQ(i->first, j->first);
    EXPECT_EQ(i->second.rsid, j->second.rsid);
    EXPECT_EQ(i->second.allele0, j->second.allele0);
    EXPECT_EQ(i->second.allele1, j->second.allele1);
    EXPECT_EQ(i->second.haplotypes, j->second.haplotypes);
    EXPECT_EQ(i->second.frequency, j->second.frequency);
    EXPECT_EQ(i->second.cumulative_rho, j->second.cumulative_rho);
  }
}

// ---------------------------------------------------------------- genetic map

TEST_F(DataTest, MapRowsAreScaledByNe) {
  write_file(dir.file("panel.map"), "position rate cM\n1000 2.5 0.0\n2000 2.5 0.5\n");
  Data data = fresh();
  data.read_genetic_map();
  EXPECT_EQ(data.map_positions, (std::vector<double>{1000, 2000}));
  ASSERT_EQ(data.map_cumulative_rho.size(), 2u);
  EXPECT_EQ(data.map_cumulative_rho[0], 0.0);
  EXPECT_DOUBLE_EQ(data.map_cumulative_rho[1], 228.36);
  EXPECT_EQ(read_file(dir.file("run.summary")),
            "Reading genetic map file ... done\n" + right60("number of rates read: ") + "2\n\n");

  // Numbers read as strtod reads them; the rate column has no influence;
  // CRLF ends, trailing text and a missing final line feed are accepted.
  write_file(dir.file("panel.map"),
             "header\r\n1e3 -7e3 +.25\r\n 2000\t0   1.000000000000000111 words\r\n2000 0 3.3e-1x");
  Data other = fresh();
  other.read_genetic_map();
  EXPECT_EQ(other.map_positions, (std::vector<double>{1000, 2000, 2000}));
  const double ne4 = 4.0 * 11418;
  EXPECT_EQ(other.map_cumulative_rho,
            (std::vector<double>{ne4 * 0.25 / 100.0, ne4 * 1.000000000000000111 / 100.0,
                                 ne4 * 0.33 / 100.0}));
}

TEST_F(DataTest, MapErrors) {
  const std::string name = dir.file("panel.map");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"h\n1 0 0\n2 0 0\n3 0 0\n4 x 0\n", "bad line in rates file on line 5"},
      {"h\n\n1 0 0\n", "bad line in rates file on line 2"},
      {"h\n1 0\n", "bad line in rates file on line 2"},
      {"h\n1 0 0\nnan 0 1\n", "bad line in rates file on line 3"},
      {"h\n1 0 inf\n", "bad line in rates file on line 2"},
      {"h\n1 0 1e999\n", "bad line in rates file on line 2"},
      {"h\n0x10 0 1\n", "bad line in rates file on line 2"},
      {"h\n10abc 0 1\n", "bad line in rates file on line 2"},
      {"h\n1 0 0\n5 0 1\n5 0 1\n4 0 2\n", "positions decrease on line 5."},
      {"h\n", "no map rows found."},
      {"", "no map rows found."},
  };
  for (const auto& c : cases) {
    write_file(name, c.first);
    Data data = fresh();
    EXPECT_EQ(read_all(data), "Error reading file " + name + ": " + c.second) << c.first;
  }
  for (const std::string& unreadable : {dir.file("absent.map"), dir.path()}) {
    Data data = fresh();
    data.genetic_map_file = unreadable;
    EXPECT_EQ(read_all(data), "Error reading file " + unreadable + ": can't open file.");
  }
}

TEST_F(DataTest, InterpolationAtAndBeyondTheEnds) {
  Data data = fresh();
  data.map_positions = {1000, 2000, 3000, 3000, 4000};
  data.map_cumulative_rho = {10, 20, 40, 50, 60};
  EXPECT_EQ(data.interpolate_map(-5), 10);
  EXPECT_EQ(data.interpolate_map(999.5), 10);
  EXPECT_EQ(data.interpolate_map(1000), 10);
  EXPECT_EQ(data.interpolate_map(1500), 15);
  EXPECT_EQ(data.interpolate_map(2500), 30);
  // Equal neighbouring rows: the later row is the left end from there on.
  EXPECT_EQ(data.interpolate_map(3000), 50);
  EXPECT_EQ(data.interpolate_map(3500), 55);
  EXPECT_EQ(data.interpolate_map(4000), 60);
  EXPECT_EQ(data.interpolate_map(1e9), 60);

  data.map_positions = {1000};
  data.map_cumulative_rho = {7};
  EXPECT_EQ(data.interpolate_map(0), 7);
  EXPECT_EQ(data.interpolate_map(1000), 7);
  EXPECT_EQ(data.interpolate_map(5000), 7);
}

// ---------------------------------------------------------------- panel

TEST_F(DataTest, PanelWithinInclusiveBounds) {
  // Trailing blanks, CRLF ends and codes spelled as stream extraction reads them.
  write_panel("0 1 1 1\n1\t1  0 0  \t\r\n0 +0 00 0\n1 1 1 1\n",
              kLegendHeader + "rs1 99 A C\nrs2 100 G T extra fields\nrs3 5000 C G\r\nrs4 5001 A T\n",
              "h\n0 0 0\n10000 0 1\n");
  Data data = fresh();
  data.lower = 100;
  data.upper = 5000;
  ASSERT_EQ(read_all(data), "");
  EXPECT_EQ(data.nhaplotypes, 4);
  ASSERT_EQ(positions_of(data), (std::vector<int>{100, 5000}));
  const snp& first = data.snps_data.at(100);
  EXPECT_EQ(first.rsid, "rs2");
  EXPECT_EQ(first.allele0, "G");
  EXPECT_EQ(first.allele1, "T");
  EXPECT_EQ(first.haplotypes, (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(first.frequency, 0.5);
  EXPECT_EQ(first.cumulative_rho, data.interpolate_map(100));
  EXPECT_EQ(data.snps_data.at(5000).cumulative_rho, 4.0 * 11418 * 0.5 / 100.0);
  EXPECT_EQ(data.snps_data.at(5000).frequency, 0.0);
  EXPECT_EQ(data.snps_data.at(5000).allele1, "G");

  Data wider = fresh();
  wider.upper = 5001;
  ASSERT_EQ(read_all(wider), "");
  EXPECT_EQ(positions_of(wider), (std::vector<int>{99, 100, 5000, 5001}));
  EXPECT_EQ(wider.snps_data.at(99).frequency, 0.75);
}

TEST_F(DataTest, UnsortedLegendAndDuplicatePositions) {
  write_panel("0 1\n1 1\n1 0\n0 0\n1 1\n",
              kLegendHeader + "c 300 A C\na 100 A C\nb 200 A C\nd 100 G T\ne 900 A C\n");
  Data data = fresh();
  data.upper = 500;
  ASSERT_EQ(read_all(data), "");
  ASSERT_EQ(positions_of(data), (std::vector<int>{100, 200, 300}));
  EXPECT_EQ(data.snps_data.at(100).rsid, "a");
  EXPECT_EQ(data.snps_data.at(100).haplotypes, (std::vector<int>{1, 1}));
  EXPECT_EQ(data.snps_data.at(300).haplotypes, (std::vector<int>{0, 1}));
  const std::string summary = read_file(dir.file("run.summary"));
  EXPECT_NE(summary.find("looking for SNPs in [0, 500] ... done\n" +
                         right60("number of haplotypes: ") + "2\n" +
                         right60("number of SNPs in total: ") + "5\n" +
                         right60("number of SNPs in interval: ") + "3\n\n"),
            std::string::npos)
      << summary;
}

TEST_F(DataTest, UnequalFileLengths) {
  const std::string warn_haps =
      "Warning: haplotype file contained more lines than legend file, only those SNPs with a "
      "line in the legend file were read.\n";
  const std::string warn_legend =
      "Warning: legend file contained more lines than haplotype file, only those SNPs with a "
      "line in the haplotype file were read.\n";
  struct Case {
    std::string haps, legend, warning;
    int total;
  };
  const std::vector<Case> cases = {
      {"0 1\n1 1\n1 0\n", kLegendHeader + "a 1 A C\nb 2 A C\n", warn_haps, 2},
      {"0 1\n1 1\n", kLegendHeader + "a 1 A C\nb 2 A C\nc 3 A C\n", warn_legend, 2},
      {"0 1\n1 1\n1 0", kLegendHeader + "a 1 A C\nb 2 A C\n", "", 2},
      {"0 1\n1 1\n", kLegendHeader + "a 1 A C\nb 2 A C\nc 3 A C", "", 2},
      {"0 1\n1 1\n", kLegendHeader + "a 1 A C\nb 2 A C\n", "", 2},
      {"0 1\n1 1", kLegendHeader + "a 1 A C\nb 2 A C", "", 2},
  };
  for (const Case& c : cases) {
    write_panel(c.haps, c.legend);
    Data data = fresh();
    std::string out;
    ASSERT_EQ(read_all(data, &out), "");
    const std::string counts = right60("number of haplotypes: ") + "2\n" +
                               right60("number of SNPs in total: ") + std::to_string(c.total) +
                               "\n" + right60("number of SNPs in interval: ") +
                               std::to_string(c.total) + "\n\n";
    // The warning comes after "done" and before the counts, and only on the console.
    EXPECT_EQ(out, "Reading genetic map file ... done\n" + right60("number of rates read: ") +
                       "2\n\n\nReading haplotype and legend files: looking for SNPs in [0, 1000000] ... done\n" +
                       c.warning + counts)
        << c.haps << "|" << c.legend;
    EXPECT_EQ(read_file(dir.file("run.summary")).find("Warning"), std::string::npos);
    EXPECT_EQ(data.snps_data.size(), 2u);
  }
}

TEST_F(DataTest, PanelErrors) {
  const std::string hap = dir.file("panel.hap");
  const std::string legend = dir.file("panel.legend");
  const std::string good_legend = kLegendHeader + "a 10 A C\nb 20 A C\nc 5000000 A C\n";
  struct Case {
    std::string haps, legend, file, detail;
  };
  const std::vector<Case> cases = {
      {"0 1\n1 1\n1 1\n", kLegendHeader + "a 10 A C\nb 20 A\n", legend,
       "bad format detected in legend file on line 3."},
      {"0 1\n1 1\n1 1\n", kLegendHeader + "a 10x A C\n", legend,
       "bad format detected in legend file on line 2."},
      {"0 1\n1 1\n1 1\n", kLegendHeader + "a 10.5 A C\n", legend,
       "bad format detected in legend file on line 2."},
      {"0 1\n1 1\n1 1\n", kLegendHeader + "a 2147483648 A C\n", legend,
       "bad format detected in legend file on line 2."},
      {"0 1\n1 1\n1 1\n", kLegendHeader + "a -2147483649 A C\n", legend,
       "bad format detected in legend file on line 2."},
      {"0 1\n1 1\n1 1\n", kLegendHeader + "\n", legend,
       "bad format detected in legend file on line 2."},
      // The legend line is checked before its haplotype line.
      {"0 1\n1 x\n1 1\n", kLegendHeader + "a 10 A C\nb B A C\n", legend,
       "bad format detected in legend file on line 3."},
      {"0 1\n1 2\n1 1\n", good_legend, hap, "bad format detected in haplotype file on line 2."},
      {"0 1\n2 1\n1 1\n", good_legend, hap, "bad format detected in haplotype file on line 2."},
      {"0 1\n1 -1\n1 1\n", good_legend, hap, "bad format detected in haplotype file on line 2."},
      {"0 1\n1 1\n1 a\n", good_legend, hap, "bad format detected in haplotype file on line 3."},
      {"0 1.0\n1 1\n1 1\n", good_legend, hap, "bad format detected in haplotype file on line 1."},
      // The count check applies outside the interval too.
      {"0 1\n1 1\n1 1 0\n", good_legend, hap,
       "different number of haplotypes found in haplotype file (2 and 3 on line 3."},
      {"0 1\n\n1 1\n", good_legend, hap,
       "different number of haplotypes found in haplotype file (2 and 0 on line 2."},
      {"\n1 1\n1 1\n", good_legend, hap, "no haplotypes found in haplotype file on line 1."},
      {"0 1\n", kLegendHeader + "a 5000000 A C\n", hap,
       "No SNPs in the interval in haplotype file!"},
      {"", good_legend, hap, "No SNPs in the interval in haplotype file!"},
  };
  for (const Case& c : cases) {
    write_panel(c.haps, c.legend);
    Data data = fresh();
    std::string out;
    const std::string message = read_all(data, &out);
    EXPECT_EQ(message, "Error reading file " + c.file + ": " + c.detail) << c.haps << "|" << c.legend;
    EXPECT_EQ(out.find("number of SNPs"), std::string::npos);
  }

  write_panel("0 1\n", kLegendHeader + "a -2147483648 A C\nb 2147483647 A C\n");
  Data extremes = fresh();
  extremes.lower = INT32_MIN;
  extremes.upper = INT32_MAX;
  EXPECT_EQ(read_all(extremes), "");
  EXPECT_EQ(positions_of(extremes), (std::vector<int>{INT32_MIN}));

  Data missing_haps = fresh();
  missing_haps.haplotype_file = dir.path();
  EXPECT_EQ(read_all(missing_haps),
            "Error reading file " + dir.path() + ": can't open haplotype file.");
  Data missing_legend = fresh();
  missing_legend.legend_file = dir.file("absent.legend");
  EXPECT_EQ(read_all(missing_legend),
            "Error reading file " + dir.file("absent.legend") + ": can't open legend file.");
}

// ---------------------------------------------------------------- gzip input

TEST_F(DataTest, GzipInputIsRecognisedByContent) {
  const std::string haps = "0 1 1\n1 1 0\n0 0 1\n";
  const std::string legend = kLegendHeader + "a 10 A C\nb 20 A G\nc 30 T C\n";
  write_panel(haps, legend);
  Data plain = fresh();
  ASSERT_EQ(read_all(plain), "");

  // Names without ".gz", and a haplotype file of two concatenated members.
  write_gzip(dir.file("part1"), "0 1 1\n1 1");
  write_gzip(dir.file("part2"), " 0\n0 0 1\n");
  write_file(dir.file("panel.hap"), read_file(dir.file("part1")) + read_file(dir.file("part2")));
  write_gzip(dir.file("panel.legend"), legend);
  write_gzip(dir.file("panel.map"), kMap);
  Data zipped = fresh();
  ASSERT_EQ(read_all(zipped), "");
  expect_same_panel(plain, zipped);
}

TEST_F(DataTest, DamagedGzipIsAnError) {
  std::string haps;
  for (int i = 0; i < 5000; ++i) haps += (i % 3 ? "0 1 1 0\n" : "1 1 0 1\n");
  write_gzip(dir.file("good.gz"), haps);
  const std::string good = read_file(dir.file("good.gz"));
  ASSERT_GT(good.size(), 40u);

  std::string corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x55;
  corrupt[corrupt.size() - 6] ^= 0x55;  // inside the CRC
  const std::vector<std::string> damaged = {
      good.substr(0, good.size() - 1),  // trailer cut short
      good.substr(0, good.size() / 2),  // data cut short
      good.substr(0, 10),               // header only
      corrupt,
      good + "garbage",
  };
  const std::string name = dir.file("panel.hap");
  for (std::size_t k = 0; k < damaged.size(); ++k) {
    write_file(name, damaged[k]);
    InputFile in(name);
    ASSERT_TRUE(in.is_open());
    std::string line;
    try {
      while (in.getline(line)) {
      }
      ADD_FAILURE() << "damaged stream " << k << " read without error";
    } catch (const badfilename& e) {
      EXPECT_EQ(e.message, "Error reading file " + name + ": truncated or corrupt gzip data.");
    }
  }

  // Through the reader, the error reaches the caller instead of a short panel.
  write_file(name, good.substr(0, good.size() / 2));
  std::string legend = kLegendHeader;
  for (int i = 0; i < 5000; ++i) legend += "s " + std::to_string(i + 1) + " A C\n";
  write_file(dir.file("panel.legend"), legend);
  write_file(dir.file("panel.map"), kMap);
  Data data = fresh();
  EXPECT_EQ(read_all(data), "Error reading file " + name + ": truncated or corrupt gzip data.");
}

TEST_F(DataTest, InputFileLinesAndEndOfFile) {
  // Long lines cross the internal block boundaries.
  std::string text;
  std::vector<std::string> lines;
  for (int i = 0; i < 6; ++i) lines.push_back(std::string(700000 + i, static_cast<char>('a' + i)));
  for (const auto& l : lines) text += l + "\n";
  text += "last";
  for (bool zipped : {false, true}) {
    const std::string name = dir.file(zipped ? "long.gz" : "long.txt");
    if (zipped)
      write_gzip(name, text);
    else
      write_file(name, text);
    InputFile in(name);
    ASSERT_TRUE(in.is_open());
    std::string line;
    for (const auto& expected : lines) {
      ASSERT_TRUE(in.getline(line));
      EXPECT_EQ(line, expected);
      EXPECT_FALSE(in.eof());
    }
    ASSERT_TRUE(in.getline(line));
    EXPECT_EQ(line, "last");
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.getline(line));
    EXPECT_TRUE(line.empty());
  }
  write_file(dir.file("empty"), "");
  InputFile empty(dir.file("empty"));
  EXPECT_TRUE(empty.is_open());
  std::string line;
  EXPECT_FALSE(empty.getline(line));
  EXPECT_TRUE(empty.eof());
  EXPECT_FALSE(InputFile(dir.path()).is_open());
  EXPECT_FALSE(InputFile(dir.file("absent")).is_open());
}

// ---------------------------------------------------------------- example panel

class ExamplePanelTest : public DataTest {
 protected:
  Data example(const std::string& hap, const std::string& legend, const std::string& map) {
    Data data = fresh();
    data.haplotype_file = hap;
    data.legend_file = legend;
    data.genetic_map_file = map;
    data.lower = 0;
    data.upper = INT32_MAX;
    EXPECT_EQ(read_all(data), "");
    return data;
  }
};

TEST_F(ExamplePanelTest, WholePanelPlainAndGzipAgree) {
  Data zipped = example(example_file("chr20.hap.gz"), example_file("chr20.legend.gz"),
                        example_file("chr20.map.gz"));
  EXPECT_EQ(zipped.nhaplotypes, 600);
  EXPECT_NE(read_file(dir.file("run.summary"))
                .find(right60("number of SNPs in total: ") + "24990\n"),
            std::string::npos);
  EXPECT_EQ(zipped.map_positions.size(), 82962u);
  for (const auto& entry : zipped.snps_data) {
    ASSERT_EQ(entry.second.haplotypes.size(), 600u);
    ASSERT_GT(entry.second.cumulative_rho, 0.0);
  }

  for (const char* name : {"chr20.hap", "chr20.legend", "chr20.map"}) {
    const CommandResult r = run_command("(zcat '" + example_file(std::string(name) + ".gz") +
                                        "' > '" + dir.file(name) + "')");
    ASSERT_EQ(r.status, 0) << r.error;
  }
  Data plain = example(dir.file("chr20.hap"), dir.file("chr20.legend"), dir.file("chr20.map"));
  expect_same_panel(zipped, plain);
}

TEST_F(ExamplePanelTest, SubIntervalMatchesLegendCount) {
  const int lower = 2000000, upper = 2500000;
  const CommandResult r = run_command("zcat '" + example_file("chr20.legend.gz") +
                                      "' | awk -v L=" + std::to_string(lower) + " -v U=" +
                                      std::to_string(upper) +
                                      " 'NR > 1 && $2 >= L && $2 <= U { print $2 }' | sort -u | wc -l");
  ASSERT_EQ(r.status, 0) << r.error;
  const std::size_t expected = std::stoul(r.output);
  ASSERT_GT(expected, 1000u);

  Data data = fresh();
  data.haplotype_file = example_file("chr20.hap.gz");
  data.legend_file = example_file("chr20.legend.gz");
  data.genetic_map_file = example_file("chr20.map.gz");
  data.lower = lower;
  data.upper = upper;
  std::string out;
  ASSERT_EQ(read_all(data, &out), "");
  EXPECT_EQ(data.snps_data.size(), expected);
  EXPECT_NE(out.find(right60("number of SNPs in interval: ") + std::to_string(expected) + "\n\n"),
            std::string::npos);
  EXPECT_GE(data.snps_data.begin()->first, lower);
  EXPECT_LE(data.snps_data.rbegin()->first, upper);
}

}  // namespace
