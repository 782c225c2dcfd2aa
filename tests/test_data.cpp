// Reading the genetic map and the reference panel, plain and gzip.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/data.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string kMap = "position rate cM\n0 1.0 0.0\n10000 1.0 1.0\n";
const std::string kHeader = "rsid position a0 a1\n";

std::string right60(const std::string& label) { return std::string(60 - label.size(), ' ') + label; }

std::vector<int> positions_of(const Data& data) {
  std::vector<int> keys;
  for (const auto& entry : data.snps_data) keys.push_back(entry.first);
  return keys;
}

bool same_panel(const Data& a, const Data& b) {
  auto same = [](const snp& s, const snp& t) {
    return s.rsid == t.rsid && s.allele0 == t.allele0 && s.allele1 == t.allele1 && s.haplotypes == t.haplotypes &&
           s.frequency == t.frequency && s.cumulative_rho == t.cumulative_rho;
  };
  return a.nhaplotypes == b.nhaplotypes && a.map_positions == b.map_positions &&
         a.map_cumulative_rho == b.map_cumulative_rho && positions_of(a) == positions_of(b) &&
         std::equal(a.snps_data.begin(), a.snps_data.end(), b.snps_data.begin(),
                    [&](const auto& x, const auto& y) { return same(x.second, y.second); });
}

class DataTest : public ::testing::Test {
 protected:
  TempDir dir;

  Data fresh(int lower = 0, int upper = 1000000, std::string prefix = "", const std::string& suffix = "") {
    if (prefix.empty()) prefix = dir.file("panel");
    Data data;
    data.summary_file = dir.file("run.summary");
    data.haplotype_file = prefix + ".hap" + suffix;
    data.legend_file = prefix + ".legend" + suffix;
    data.genetic_map_file = prefix + ".map" + suffix;
    data.Ne = 11418;
    data.lower = lower;
    data.upper = upper;
    return data;
  }
  void write_panel(const std::string& haps, const std::string& legend, const std::string& map = kMap) {
    write_file(dir.file("panel.hap"), haps);
    write_file(dir.file("panel.legend"), legend);
    write_file(dir.file("panel.map"), map);
  }
  // The error message, "" when none.
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

TEST_F(DataTest, MapRowsAreScaledByNe) {
  write_file(dir.file("panel.map"), "position rate cM\n1000 2.5 0.0\n2000 2.5 0.5\n");
  Data data = fresh();
  data.read_genetic_map();
  ASSERT_EQ(data.map_cumulative_rho.size(), 2u);
  EXPECT_DOUBLE_EQ(data.map_cumulative_rho[1], 228.36);
  EXPECT_EQ(read_file(dir.file("run.summary")),
            "Reading genetic map file ... done\n" + right60("number of rates read: ") + "2\n\n");

  // Numbers as strtod reads them, the rate column ignored; CRLF ends, trailing
  // text and a missing final line feed are accepted.
  write_file(dir.file("panel.map"),
             "header\r\n1e3 -7e3 +.25\r\n 2000\t0   1.000000000000000111 words\r\n2000 0 3.3e0x");
  Data other = fresh();
  other.read_genetic_map();
  EXPECT_EQ(other.map_positions, (std::vector<double>{1000, 2000, 2000}));
  const double ne4 = 4.0 * 11418;
  EXPECT_EQ(other.map_cumulative_rho,
            (std::vector<double>{ne4 * 0.25 / 100.0, ne4 * 1.000000000000000111 / 100.0, ne4 * 3.3 / 100.0}));
}

TEST_F(DataTest, MapErrors) {
  const std::string name = dir.file("panel.map");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"h\n1 0 0\n2 0 0\n3 0 0\n4 x 0\n", "bad line in rates file on line 5"},
      {"h\n\n1 0 0\n", "bad line in rates file on line 2"}, {"h\n1 0\n", "bad line in rates file on line 2"},
      {"h\n10abc 0 1\n", "bad line in rates file on line 2"},
      {"h\n1 0 0\n5 0 1\n5 0 1\n4 0 2\n", "positions decrease on line 5."}, {"", "no map rows found."}};
  for (const auto& [content, detail] : cases) {
    write_file(name, content);
    Data data = fresh();
    EXPECT_EQ(read_all(data), "Error reading file " + name + ": " + detail) << content;
  }
}

TEST_F(DataTest, InterpolationAtAndBeyondTheEnds) {
  Data data = fresh();
  data.map_positions = {1000, 2000, 3000, 3000, 4000};
  data.map_cumulative_rho = {10, 20, 40, 50, 60};
  // Equal neighbouring rows at 3000: the later row is the left end from there on.
  const double cases[][2] = {{-5, 10},   {999.5, 10}, {1000, 10}, {1500, 15}, {2500, 30},
                             {3000, 50}, {3500, 55},  {4000, 60}, {1e9, 60}};
  for (const auto& c : cases) EXPECT_EQ(data.interpolate_map(c[0]), c[1]) << c[0];
  data.map_positions = {1000};
  data.map_cumulative_rho = {7};
  for (double x : {0.0, 1000.0, 5000.0}) EXPECT_EQ(data.interpolate_map(x), 7) << x;
}

TEST_F(DataTest, PanelWithinInclusiveBounds) {
  // An unsorted legend with a duplicate position; trailing blanks, CRLF ends
  // and codes spelled as stream extraction reads them.
  write_panel("0 +0 00 0\n0 1 1 1\n1\t1  0 0  \t\r\n0 0 0 1\n1 1 1 1\n",
              kHeader + "rs3 5000 C G\r\nrs1 99 A C\nrs2 100 G T extra fields\ndup 100 A C\nrs4 5001 A T\n",
              "h\n0 0 0\n10000 0 1\n");
  Data data = fresh(100, 5000);
  ASSERT_EQ(read_all(data), "");
  ASSERT_EQ(positions_of(data), (std::vector<int>{100, 5000}));
  const snp& first = data.snps_data.at(100);  // the first of the duplicates
  EXPECT_EQ(first.rsid + first.allele0 + first.allele1, "rs2GT");
  EXPECT_EQ(first.haplotypes, (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(first.frequency, 0.5);
  EXPECT_EQ(first.cumulative_rho, data.interpolate_map(100));
  EXPECT_EQ(data.snps_data.at(5000).cumulative_rho, 4.0 * 11418 * 0.5 / 100.0);
  EXPECT_NE(read_file(dir.file("run.summary"))
                .find("looking for SNPs in [100, 5000] ... done\n" + right60("number of haplotypes: ") + "4\n" +
                      right60("number of SNPs in total: ") + "5\n" + right60("number of SNPs in interval: ") + "2\n\n"),
            std::string::npos);

  write_panel("0 1\n", kHeader + "a -2147483648 A C\nb 2147483647 A C\n");
  Data extremes = fresh(INT32_MIN, INT32_MAX);
  EXPECT_EQ(read_all(extremes), "");
  EXPECT_EQ(positions_of(extremes), (std::vector<int>{INT32_MIN}));
}

TEST_F(DataTest, UnequalFileLengths) {
  auto warning = [](const std::string& longer, const std::string& other) {
    return "Warning: " + longer + " file contained more lines than " + other +
           " file, only those SNPs with a line in the " + other + " file were read.\n";
  };
  const std::string two = kHeader + "a 1 A C\nb 2 A C";
  const std::vector<std::vector<std::string>> cases = {  // haplotypes, legend, warning
      {"0 1\n1 1\n1 0\n", two + "\n", warning("haplotype", "legend")},
      {"0 1\n1 1\n", two + "\nc 3 A C\n", warning("legend", "haplotype")},
      {"0 1\n1 1", two, ""}, {"0 1\n1 1\n1 0", two + "\n", ""}, {"0 1\n1 1\n", two + "\nc 3 A C", ""},
  };
  for (const auto& c : cases) {
    write_panel(c[0], c[1]);
    Data data = fresh();
    std::string out;
    ASSERT_EQ(read_all(data, &out), "");
    // The warning comes after "done" and before the counts, and only on the console.
    EXPECT_NE(out.find("[0, 1000000] ... done\n" + c[2] + right60("number of haplotypes: ") + "2\n" +
                       right60("number of SNPs in total: ") + "2\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(dir.file("run.summary")).find("Warning"), std::string::npos);
    EXPECT_EQ(data.snps_data.size(), 2u);
  }
}

TEST_F(DataTest, PanelErrors) {
  const std::string good_legend = kHeader + "a 10 A C\nb 20 A C\nc 5000000 A C\n";
  const std::string legend_line = "bad format detected in legend file on line ";
  const std::string hap_line = "bad format detected in haplotype file on line ";
  const std::vector<std::vector<std::string>> cases = {  // haplotypes, legend, message
      {"0 1\n1 1\n1 1\n", kHeader + "a 10x A C\n", legend_line + "2."},
      {"0 1\n1 1\n1 1\n", kHeader + "a 2147483648 A C\n", legend_line + "2."},
      {"0 1\n1 x\n1 1\n", kHeader + "a 10 A C\nb B A C\n", legend_line + "3."},  // legend line checked first
      {"0 1\n1 2\n1 1\n", good_legend, hap_line + "2."},
      {"0 1\n1 1\n1 a\n", good_legend, hap_line + "3."},
      {"0 1.0\n1 1\n1 1\n", good_legend, hap_line + "1."},
      // The count check applies outside the interval too.
      {"0 1\n1 1\n1 1 0\n", good_legend, "different number of haplotypes found in haplotype file (2 and 3 on line 3."},
      {"0 1\n\n1 1\n", good_legend, "different number of haplotypes found in haplotype file (2 and 0 on line 2."},
      {"\n1 1\n1 1\n", good_legend, "no haplotypes found in haplotype file on line 1."},
      {"0 1\n", "/", "can't open legend file."},
  };
  for (const auto& c : cases) {
    write_panel(c[0], c[1]);
    Data data = fresh();
    if (c[1] == "/") data.legend_file = dir.file("absent.legend");  // cannot be opened
    const bool legend = c[2].find("legend file") != std::string::npos;
    const std::string file = (legend ? data.legend_file : data.haplotype_file).string();
    std::string out;
    EXPECT_EQ(read_all(data, &out), "Error reading file " + file + ": " + c[2])
        << c[0] << "|" << c[1];
    EXPECT_EQ(out.find("number of SNPs"), std::string::npos);
  }
}

TEST_F(DataTest, ExamplePanel) {
  Data zipped = fresh(0, INT32_MAX, example_file("chr20"), ".gz");
  ASSERT_EQ(read_all(zipped), "");
  EXPECT_EQ(zipped.nhaplotypes, 600);
  EXPECT_NE(read_file(dir.file("run.summary")).find(right60("number of SNPs in total: ") + "24990\n"),
            std::string::npos);
  for (const auto& entry : zipped.snps_data) ASSERT_EQ(entry.second.haplotypes.size(), 600u);
  for (const char* name : {"chr20.hap", "chr20.legend", "chr20.map"})
    ASSERT_EQ(run_command("(zcat '" + example_file(name) + ".gz' > '" + dir.file(name) + "')").status, 0);
  Data plain = fresh(0, INT32_MAX, dir.file("chr20"));
  ASSERT_EQ(read_all(plain), "");
  EXPECT_TRUE(same_panel(zipped, plain));

  // An independent count of distinct positions in a sub-interval.
  const CommandResult count = run_command("awk 'NR > 1 && $2 >= 2000000 && $2 <= 2500000 { print $2 }' " +
                                          dir.file("chr20.legend") + " | sort -u | wc -l");
  ASSERT_EQ(count.status, 0) << count.error;
  const std::size_t expected = std::stoul(count.output);
  ASSERT_GT(expected, 1000u);
  Data part = fresh(2000000, 2500000, example_file("chr20"), ".gz");
  std::string out;
  ASSERT_EQ(read_all(part, &out), "");
  EXPECT_EQ(part.snps_data.size(), expected);
  EXPECT_NE(out.find(right60("number of SNPs in interval: ") + std::to_string(expected) + "\n\n"), std::string::npos);
}

}  // namespace
