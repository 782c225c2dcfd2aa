// Reading the genetic map and the reference panel.

#include <algorithm>
#include <sstream>

#include "core/log.hpp"
#include "core/thread_budget.hpp"
#include "data/data.hpp"
#include "data/keep_list.hpp"
#include "data/vcf_reader.hpp"
#include "params/run_config.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string kMap = "position rate cM\n0 1.0 0.0\n10000 1.0 1.0\n";
const std::string kHeader = "rsid position a0 a1\n";

std::vector<int> positions_of(const Data& data) {
  std::vector<int> keys;
  for (const auto& entry : data.snps_data) keys.push_back(entry.first);
  return keys;
}

// Two panels hold the same SNPs, fields and rows.
bool same_panel(const Data& a, const Data& b) {
  return a.panel == b.panel && std::equal(a.snps_data.begin(), a.snps_data.end(), b.snps_data.begin(),
                                          b.snps_data.end(), [](const auto& x, const auto& y) {
                                            return x.first == y.first && x.second.rsid == y.second.rsid &&
                                                   x.second.allele0 + x.second.allele1 ==
                                                       y.second.allele0 + y.second.allele1 &&
                                                   x.second.frequency == y.second.frequency &&
                                                   x.second.cumulative_rho == y.second.cumulative_rho;
                                          });
}

class DataTest : public ::testing::Test {
 protected:
  TempDir dir;

  std::string legend_file = dir.file("panel.legend");

  Data fresh(int lower = 0, int upper = 1000000) {
    Data data;
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
    testing::internal::CaptureStdout();
    const std::string message = error_of([&] {
      RunLog log(dir.file("run.summary"));
      data.map = read_genetic_map(dir.file("panel.map"), 11418, log);
      read_haplotype_data(data, dir.file("panel.hap"), legend_file, log);
    });
    const std::string out = testing::internal::GetCapturedStdout();
    if (console) *console = out;
    return message == "no error" ? "" : message;
  }
};

// The rate column is ignored; CRLF ends, trailing text and a missing final line feed are accepted. The golden
// run of the driver tests pins the scaling by Ne and the reader's summary lines.
TEST_F(DataTest, MapNumbersAsStrtodReadsThem) {
  write_file(dir.file("panel.map"),
             "header\r\n1e3 -7e3 +.25\r\n 2000\t0   1.000000000000000111 words\r\n3000 0 3.3e0x");
  RunLog log = RunLog::silent();
  const GeneticMap map = read_genetic_map(dir.file("panel.map"), 11418, log);
  EXPECT_EQ(map.position, (std::vector<double>{1000, 2000, 3000}));
  const double ne4 = 4.0 * 11418;
  EXPECT_EQ(map.rho,
            (std::vector<double>{ne4 * 0.25 / 100.0, ne4 * 1.000000000000000111 / 100.0, ne4 * 3.3 / 100.0}));
  EXPECT_EQ(map.cm, (std::vector<double>{0.25, 1.000000000000000111, 3.3}));
}

// Both columns go through one interpolator.
TEST_F(DataTest, InterpolationAtAndBeyondTheEnds) {
  GeneticMap map;
  map.position = {1000, 2000, 3000, 3000, 4000};
  map.rho = {10, 20, 40, 50, 60};
  map.cm = {1, 2, 4, 5, 6};
  // Equal neighbouring rows at 3000: the later row is the left end from there on.
  const double cases[][2] = {{-5, 10},   {999.5, 10}, {1000, 10}, {1500, 15}, {2500, 30},
                             {3000, 50}, {3500, 55},  {4000, 60}, {1e9, 60}};
  for (const auto& c : cases) {
    EXPECT_EQ(map.rho_at(c[0]), c[1]) << c[0];
    EXPECT_EQ(map.cm_at(c[0]), c[1] / 10) << c[0];
  }
  map = GeneticMap{{1000}, {7}, {0.5}};
  for (double x : {0.0, 1000.0, 5000.0}) EXPECT_EQ(map.rho_at(x), 7) << x;
}

TEST_F(DataTest, PanelWithinInclusiveBounds) {
  // An unsorted legend with a duplicate position; trailing blanks, CRLF ends and codes spelled as stream
  // extraction reads them.
  write_panel("0 +0 00 0\n0 1 1 1\n1\t1  0 0  \t\r\n0 0 0 1\n1 1 1 1\n",
              kHeader + "rs3 5000 C G\r\nrs1 99 A C\nrs2 100 G T extra fields\ndup 100 A C\nrs4 5001 A T\n",
              "h\n0 0 0\n10000 0 1\n");
  Data data = fresh(100, 5000);
  ASSERT_EQ(read_all(data), "");
  ASSERT_EQ(positions_of(data), (std::vector<int>{100, 5000}));
  const snp& first = data.snps_data.at(100);  // the first of the duplicates
  EXPECT_EQ(first.rsid + first.allele0 + first.allele1, "rs2GT");
  std::vector<int> codes;
  for (int c = 0; c < 4; ++c) codes.push_back(data.panel.get(0, c));
  EXPECT_EQ(codes, (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(first.frequency, 0.5);

  write_panel("0 1\n1 0\n", kHeader + "a -2147483648 A C\nb 2147483647 A C\n");
  Data extremes = fresh(INT32_MIN, INT32_MAX);
  EXPECT_EQ(read_all(extremes), "");
  EXPECT_EQ(positions_of(extremes), (std::vector<int>{INT32_MIN, INT32_MAX}));
}

TEST_F(DataTest, ReadErrorsNameTheFileAndTheLine) {
  const std::string legend3 = kHeader + "a 10 A C\nb 20 A C\nc 5000000 A C\n";
  const std::string rates = "panel.map: bad line in rates file on line ";
  const std::string legend_line = "panel.legend: bad format detected in legend file on line ";
  const std::string hap_line = "panel.hap: bad format detected in haplotype file on line ";
  const std::string count = "panel.hap: different number of haplotypes found in haplotype file (2 and ";
  const struct { std::string haps, legend, message, map = kMap; } cases[] = {
      {"", "", rates + "5", "h\n1 0 0\n2 0 0\n3 0 0\n4 x 0\n"}, {"", "", rates + "2", "h\n\n1 0 0\n"},
      {"", "", rates + "2", "h\n10abc 0 1\n"},
      {"", "", "panel.map: positions decrease on line 4 (5, then 4): a map's rows are \"position rate cM\", "
       "positions strictly increasing.", "h\n1 0 0\n5 0 1\n4 0 2\n"},
      // A "chr position cM" map: the chromosome read as the position.
      {"", "", "panel.map: a position repeats on line 3 (20, then 20)", "h\n20 100 0\n20 200 0.1\n"},
      {"0 1\n1 1\n", "a 10 A C\nb 20 A C\n", "panel.legend: line 1 reads as a SNP (a at 10), not as a header"},
      {"0 1\n1 1\n1 1\n", legend3.substr(0, legend3.find("c ")), "panel.legend: the legend file has 2 SNP lines "
       "(besides its header line) and the haplotype file " + dir.file("panel.hap") + " has 3 lines: the two files "
       "need one line per SNP each, in the same order."},
      // One line per individual instead of one per SNP.
      {"0 1 1\n1 1 0\n", legend3, "panel.hap: the haplotype file has 2 lines and the legend file " +
       dir.file("panel.legend") + " has 3 SNP lines (besides its header line)"},
      {"", "", "panel.map: no map rows found.", ""}, {"", "", rates + "3", "h\n0 0 0\n1 0 nan\n"},
      {"", "", rates + "3", "h\n0 0 0\ninf 0 1\n"}, {"", "", "panel.map: cumulative cM decreases on line 3.", "h\n0 0 1\n1 0 0.5\n"},
      {"", "", rates + "3: the position or the scaled map distance (4 Ne cM / 100) is out of range.", "h\n0 0 0\n1 0 1e306\n"},
      {"0 1\n1 1\n", kHeader + "a 10 A C\nb 20 A\n", legend_line + "3."},
      {"0 1\n1 1\n1 1\n", kHeader + "a 10x A C\n", legend_line + "2."},
      {"0 1\n1 1\n1 1\n", kHeader + "a 2147483648 A C\n", legend_line + "2."},
      {"0 1\n1 x\n1 1\n", kHeader + "a 10 A C\nb B A C\n", legend_line + "3."},  // legend line checked first
      {"0 1\n1 2\n1 1\n", legend3, hap_line + "2."}, {"0 1\n1 1\n1 a\n", legend3, hap_line + "3."},
      {"0 1.0\n1 1\n1 1\n", legend3, hap_line + "1."},
      {"0 1\n1 1\n1 1 0\n", legend3, count + "3 on line 3."},  // outside the interval too
      {"0 1\n\n1 1\n", legend3, count + "0 on line 2."},
      {"\n1 1\n1 1\n", legend3, "panel.hap: no haplotypes found in haplotype file on line 1."},
      {"0 1\n", "/", "absent.legend: can't open legend file."},
  };
  for (const auto& c : cases) {
    write_panel(c.haps, c.legend, c.map);
    Data data = fresh();
    legend_file = dir.file(c.legend == "/" ? "absent.legend" : "panel.legend");
    std::string out;
    const std::string said = read_all(data, &out);
    EXPECT_EQ(said.substr(0, said.find(c.message) + c.message.size()), "Error reading file " + dir.file(c.message))
        << said;
    EXPECT_EQ(out.find("number of SNPs"), std::string::npos);
  }
}

// Lines of single codes between single blanks are packed sixteen codes at a time, the rest of a line one by
// one; any other spelling is read by the general parser: both give the same panel, and a fault anywhere in a
// line names it.
TEST_F(DataTest, HaplotypeLinesPackedOrParsedGiveOnePanelAndFaultsNameTheLine) {
  // 41 haplotypes: two packed steps and a rest of nine; then 4,100 1s, more than one count of the packer holds.
  std::vector<std::string> lines(3, "1");
  for (int k = 0; k < 3; ++k)
    for (int h = 1; h < 41; ++h) lines[k] += std::string(" ") + char('0' + (h * h + k) % 7 % 2);
  const std::string legend = kHeader + "a 10 A C\nb 20 A C\nc 30 A C\n";
  const auto joined = [](const std::vector<std::string>& rows) {
    std::string text;
    for (const std::string& row : rows) text += row + "\n";
    return text;
  };
  write_panel(joined(lines), legend);
  Data packed = fresh();
  ASSERT_EQ(read_all(packed), "");
  std::vector<std::string> spelled = lines;
  spelled[0] += " ";              // a trailing blank
  spelled[1].replace(21, 1, "\t");  // a tab inside the packed steps
  spelled[2] = "+" + spelled[2];    // a code spelled "+0" or "+1"
  write_panel(joined(spelled), legend);
  Data parsed = fresh();
  ASSERT_EQ(read_all(parsed), "");
  EXPECT_TRUE(same_panel(parsed, packed));

  std::string ones(2 * 4100 - 1, ' ');
  for (std::size_t c = 0; c < ones.size(); c += 2) ones[c] = '1';
  write_panel(ones + "\n", kHeader + "a 10 A C\n");
  Data wide = fresh();
  ASSERT_EQ(read_all(wide), "");
  EXPECT_EQ(wide.snps_data.at(10).frequency, 1.0);

  // A bad code in a packed step, a blank missing there, a bad code in the rest, a short line.
  const struct { int line, at; std::string with; std::string message; } faults[] = {
      {2, 10, "2", "bad format detected in haplotype file on line 2."},
      {2, 31, "1", "bad format detected in haplotype file on line 2."},
      {3, 78, "x", "bad format detected in haplotype file on line 3."},
      {3, 78, "", "different number of haplotypes found in haplotype file (41 and 40 on line 3."},
  };
  for (const auto& f : faults) {
    std::vector<std::string> faulty = lines;
    faulty[f.line - 1].replace(f.at, f.with.empty() ? 2 : 1, f.with);
    write_panel(joined(faulty), legend);
    Data data = fresh();
    EXPECT_TRUE(contains(read_all(data), "panel.hap: " + f.message)) << f.line << " " << f.at;
  }
}

// The -keep list of a run of 12 individuals: identities, indices and FID IID lines; then lists that stop the run.
TEST(KeepList, IdentitiesIndicesAndFamilyLinesAndTheErrorsNamingFileAndLine) {
  TempDir dir;
  const std::string file = dir.file("keep.txt");
  write_file(file, "FID IID PHENO\n0 id1_11 2\n\nid1_0\n 5\r\n0\tid1_5\n");
  EXPECT_EQ(read_keep_list(file, 12), (std::vector<std::size_t>{0, 5, 11}));
  const std::string at = "Error reading file " + file + ": ";
  const std::string range = " is not an individual of this run (id1_<i> or i, i from 0 to 11).";
  const struct { std::string text; std::string message; } bad[] = {
      {"id1_3\nid1_12\n", "line 2: \"id1_12\"" + range},
      {"id2_3\n", "line 1: \"id2_3\"" + range},
      {"3x\n", "line 1: \"3x\"" + range},
      {"1 id1_3\n", "line 1: the family \"1\" is not that of this run's individuals (0)."},
      {"", "no individual is listed."},
  };
  for (const auto& c : bad) {
    write_file(file, c.text);
    EXPECT_EQ(error_of([&] { read_keep_list(file, 12); }), at + c.message) << c.text;
  }
  EXPECT_EQ(error_of([&] { read_keep_list(file + ".none", 12); }), "Error reading file " + file + ".none: can't open file.");
  write_file(file, "0\n");
  EXPECT_EQ(error_of([&] { read_keep_list(file, 0); }), at + "line 1: \"0\" is not an individual of this run (it has none).");
}

// A VCF text of samples s0, s1, ... with one record per row: "POS ID REF ALT GT GT ...".
std::string vcf_of(int samples, const std::vector<std::string>& rows) {
  std::string text = "##fileformat=VCFv4.2\n##contig=<ID=20>\n"
                     "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
                     "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (int s = 0; s < samples; ++s) text += "\ts" + std::to_string(s);
  text += "\n";
  for (const std::string& row : rows) {
    std::istringstream fields(row);
    std::string pos, id, ref, alt;
    fields >> pos >> id >> ref >> alt;
    text += "20\t" + pos + "\t" + id + "\t" + ref + "\t" + alt + "\t.\t.\t.\tGT";
    for (std::string g; fields >> g;) text += "\t" + g;
    text += "\n";
  }
  return text;
}

// The panel of a VCF or BCF file read with a budget of `threads`; the error message, "no error" when none.
std::string read_vcf_file(const std::string& file, const std::string& map, int threads, Data& data) {
  RunConfig config;
  config.vcf_file = file;
  config.vcf_panel = true;
  ThreadBudget budget(threads);
  return error_of([&] {
    RunLog log = RunLog::silent();
    data.map = read_genetic_map(map, 11418, log);
    read_vcf_panel(data, config, log, &budget);
  });
}

}  // namespace

// A VCF panel's genotypes, packed eight samples at a time, then four, then one by one (15 samples take each
// way), are the haplotype file's; a genotype the panel cannot take is refused with the message of the
// one-by-one reader wherever it stands.
TEST_F(DataTest, VcfGenotypesAsTheHaplotypeFileGivesThemAndRefusalsNameTheSample) {
  const std::string more = " 1|0 0|1 1|1 0|0 1|0 0|1 1|1 0|0 1|0 0|1";
  const std::vector<std::string> rows = {"0|1 1|1 0|0 1|0 0|1" + more, "1|1 1|1 1|1 1|1 0|0" + more,
                                         "0|0 0|1 1|0 0|0 1|1" + more};
  const auto read_vcf = [&](const std::vector<std::string>& genotypes, Data& data) {
    std::vector<std::string> records;
    for (std::size_t k = 0; k < genotypes.size(); ++k)
      records.push_back(std::to_string(100 * (k + 1)) + " rs" + std::to_string(k) + " A G " + genotypes[k]);
    write_file(dir.file("panel.vcf"), vcf_of(15, records));
    return read_vcf_file(dir.file("panel.vcf"), dir.file("panel.map"), 2, data);
  };
  std::string haps, legend = kHeader;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::string line = rows[k];
    std::replace(line.begin(), line.end(), '|', ' ');
    haps += line + "\n";
    legend += "rs" + std::to_string(k) + " " + std::to_string(100 * (k + 1)) + " A G\n";
  }
  write_panel(haps, legend);
  Data from_haps = fresh(), from_vcf = fresh();
  ASSERT_EQ(read_all(from_haps), "");
  ASSERT_EQ(read_vcf(rows, from_vcf), "no error");
  EXPECT_TRUE(from_vcf.panel == from_haps.panel);
  for (const auto& [position, s] : from_haps.snps_data)
    EXPECT_EQ(from_vcf.snps_data.at(position).frequency, s.frequency) << position;

  const struct { std::string row, refusal; } cases[] = {
      {"0|1 0/1 0|0 1|0 0|1" + more, "unphased genotype at 20:200 for sample s1"},
      {"0|1 1|0 0|0 1|0 0/1" + more, "unphased genotype at 20:200 for sample s4"},
      {"0|1 .|1 0|0 1|0 0|1" + more, "missing genotype at 20:200 for sample s1"},
      {"0|1 1|1 0|0 1|0 1|." + more, "missing genotype at 20:200 for sample s4"},
      {"0|1 1|1 0 1|0 0|1" + more, "haploid genotype at 20:200 for sample s2"},
      {"0|1 1|1 0|0 1|0 0|1 1|0 0|1 1|1 0|0 1/0 0|1 1|1 0|0 1|0 0|1", "unphased genotype at 20:200 for sample s9"},
      {"0|1 1|1 0|0 1|0 0|1 1|0 0|1 1|1 0|0 1|0 0|1 1|1 0|0 0|2 0|1", "out-of-range allele in the genotype at "
                                                                       "20:200 for sample s13"},
      {"0|1 1|1 0|0 1|0 0|1 1|0 0|1 1|1 0|0 1|0 0|1 1|1 0|0 1|0 .|.", "missing genotype at 20:200 for sample s14"},
  };
  for (const auto& c : cases) {
    Data data = fresh();
    EXPECT_TRUE(contains(read_vcf({rows[0], c.row}, data), c.refusal)) << c.row;
  }

  // More alleles than one count of the packer holds: 2,053 samples, every allele 1, then every second one.
  std::string all = "100 a A G", half = "200 b A G";
  for (int s = 0; s < 2053; ++s) all += " 1|1", half += " 1|0";
  write_file(dir.file("wide.vcf"), vcf_of(2053, {all, half}));
  Data wide = fresh();
  ASSERT_EQ(read_vcf_file(dir.file("wide.vcf"), dir.file("panel.map"), 1, wide), "no error");
  EXPECT_EQ(wide.snps_data.at(100).frequency, 1.0);
  EXPECT_EQ(wide.snps_data.at(200).frequency, 0.5);
  for (int h : {0, 1, 2047, 2048, 4104, 4105}) EXPECT_EQ(wide.panel.get(0, h) * 2 + wide.panel.get(1, h), h % 2 ? 2 : 3) << h;
}

// Records are read in blocks ahead of the panel on the budget's threads: over several blocks, with records
// skipped, out of order and at a position already taken (unsound but skipped unchecked), the panel is the same
// for every budget, from VCF text and from BCF; the first fault in file order stops the read whoever met it.
TEST_F(DataTest, VcfPanelIsTheSameForEveryThreadBudgetAndTheFirstFaultWins) {
  constexpr int samples = 13, records = 2600;
  std::vector<std::string> rows;
  for (int k = 0; k < records; ++k) {
    // Every 97th record out of order; every 101st an indel; every 89th at the position before it, unphased.
    const std::string position = std::to_string(k % 97 == 50 ? 10 * k - 205 : 10 * k + 10);
    rows.push_back(position + " rs" + std::to_string(k) + (k % 101 == 7 ? " AT A" : " C T"));
    for (int h = 0; h < 2 * samples; ++h) rows.back() += (h % 2 ? "|" : " ") + std::to_string((k * h + h / 3) % 5 % 2);
    if (k % 89 != 3) continue;
    rows.push_back(position + " dup A G 0/1");
    for (int s = 1; s < samples; ++s) rows.back() += " 0|0";
  }
  write_file(dir.file("panel.map"), "position rate cM\n0 1.0 0.0\n30000 1.0 2.5\n");
  const auto read_as = [&](const std::vector<std::string>& records_of, const std::string& form, int threads,
                           Data& data) {
    write_file(dir.file("panel.vcf"), vcf_of(samples, records_of));
    if (form == "bcf") {
      EXPECT_EQ(run_command("bcftools view -Ob -o panel.bcf panel.vcf", dir.path()).status, 0);
    }
    return read_vcf_file(dir.file("panel." + form), dir.file("panel.map"), threads, data);
  };
  Data one = fresh(0, 1000000);
  ASSERT_EQ(read_as(rows, "vcf", 1, one), "no error");
  ASSERT_GT(one.snps_data.size(), 2500u);
  for (const std::string form : {"vcf", "bcf"})
    for (int threads : {1, 2, 3, 5}) {
      Data data = fresh(0, 1000000);
      ASSERT_EQ(read_as(rows, form, threads, data), "no error") << form << threads;
      EXPECT_TRUE(same_panel(data, one)) << form << threads;
    }

  // An unphased kept SNP in the third block, then a record htslib cannot read, then a bad position.
  const auto snp_from = [&](std::size_t k) {
    while (!contains(rows[k], " C T ")) ++k;
    return k;
  };
  const std::size_t unphased = snp_from(2300), unreadable = snp_from(2310), unplaced = snp_from(2400);
  std::vector<std::string> faulty = rows;
  faulty[unphased].replace(faulty[unphased].find('|'), 1, "/");
  faulty[unreadable].replace(faulty[unreadable].rfind('|') + 1, 1, "x");
  faulty[unplaced].insert(0, "x");
  const struct { std::size_t from; std::string message; } faults[] = {
      {0, "unphased genotype at 20:" + rows[unphased].substr(0, rows[unphased].find(' ')) + " for sample s0;"},
      {unphased + 1, "bad or truncated data in record " + std::to_string(unreadable + 1) + "."},
      {unreadable + 1, "bad position 0 of rs"},
  };
  for (const auto& f : faults) {
    std::vector<std::string> file = rows;
    for (std::size_t k = f.from; k < faulty.size(); ++k) file[k] = faulty[k];
    for (int threads : {1, 2, 4}) {
      Data data = fresh(0, 1000000);
      EXPECT_TRUE(contains(read_as(file, "vcf", threads, data), f.message)) << f.message << threads;
    }
  }
}
