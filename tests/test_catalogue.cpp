// A catalogue of bad (and oddly formatted but valid) inputs, each run through
// the tarvik binary: every one must end with a clear message and the right
// exit status, never with a crash, a hang or a sanitizer report.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>

#include "test_support.hpp"

using namespace testing_support;

namespace {

// Four panel haplotypes, four SNPs, all polymorphic.
const std::string kHaps = "0 1 0 1\n1 1 0 0\n0 0 1 1\n1 0 1 0\n";
const std::string kLegend = "rsid position a0 a1\nrs1 1000 A G\nrs2 2000 C T\nrs3 3000 G A\nrs4 4000 T C\n";
const std::string kMap = "position rate cM\n0 1.0 0.0\n10000 1.0 0.01\n";
const std::string kInputs = "-h panel.hap -l panel.legend -m panel.map -o out/run ";
const std::string kRun = kInputs + "-n 2 2 -dl 2000 1 2 4 -nrs";

std::string gzip(const std::string& text) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, text.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// A file whose gzip stream has a damaged byte in the middle of its data.
std::string corrupt_gzip(const std::string& text) {
  std::string z = gzip(text);
  z[z.size() / 2] = static_cast<char>(z[z.size() / 2] ^ 0x55);
  return z;
}

const char kJunkBytes[] = "\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe\x13\x37\n\x80\x81\0\x01";
const std::string kJunk(kJunkBytes, sizeof kJunkBytes - 1);
// Repeated so that the compressed panel is long enough to damage mid-stream.
const std::string kLongHaps = [] {
  std::string s;
  for (int i = 0; i < 200; ++i) s += kHaps;
  return s;
}();

const std::string kDirectory = "<directory>";

struct Row {
  const char* what;
  // Files written into the run's directory, replacing the valid fixture of
  // the same name; kDirectory makes a directory instead.
  std::vector<std::pair<std::string, std::string>> files;
  std::string args;
  int status;
  // Each must appear on the console, in this order.
  std::vector<std::string> fragments;
  // The legend written by a successful run, when it is checked.
  std::string output_legend = "";
};

std::string legend_with(const std::string& rows) { return "rsid position a0 a1\n" + rows; }

const std::vector<Row>& catalogue() {
  static const std::vector<Row> rows = {
      // Compressed and binary input.
      {"truncated gzip panel", {{"panel.hap", gzip(kHaps).substr(0, gzip(kHaps).size() - 6)}}, kRun, 1,
       {"Error reading file panel.hap: truncated or corrupt gzip data."}},
      {"corrupt gzip panel", {{"panel.hap", corrupt_gzip(kLongHaps)}}, kRun, 1,
       {"Error reading file panel.hap: truncated or corrupt gzip data."}},
      {"gzip legend with junk after its end", {{"panel.legend", gzip(kLegend) + "junk"}}, kRun, 1,
       {"Error reading file panel.legend: truncated or corrupt gzip data."}},
      {"truncated gzip map", {{"panel.map", gzip(kMap).substr(0, 12)}}, kRun, 1,
       {"Error reading file panel.map: truncated or corrupt gzip data."}},
      {"binary junk as the haplotype file", {{"panel.hap", kJunk}}, kRun, 1,
       {"Error reading file panel.hap: bad format detected in haplotype file on line 1."}},
      {"binary junk as the map", {{"panel.map", kJunk}}, kRun, 1,
       {"Error reading file panel.map: bad line in rates file on line 2"}},
      {"binary junk as the tag file", {{"tags", kJunk}}, kRun + " -t tags", 1,
       {"Error reading file tags: line 1: \""}},
      {"gzip input of every kind works",
       {{"panel.hap", gzip(kHaps)}, {"panel.legend", gzip(kLegend)}, {"panel.map", gzip(kMap)},
        {"tags", gzip("2000 3000\n")}},
       kRun + " -t tags", 0, {"number of SNPs in interval: 4\n", "writing output file out/run.cases.tags.gen"}},
      // Line ends written on Windows.
      {"CRLF line ends everywhere",
       {{"panel.hap", crlf(kHaps)}, {"panel.legend", crlf(kLegend)}, {"panel.map", crlf(kMap)},
        {"tags", crlf("2000\n3000\n")}},
       kRun + " -t tags", 0, {"number of SNPs in interval: 4\n", "writing output file out/run.cases.tags.gen"}},
      {"CRLF in gzip files", {{"panel.hap", gzip(crlf(kHaps))}, {"panel.legend", gzip(crlf(kLegend))}},
       kRun, 0, {"number of SNPs in interval: 4\n"}},
      // Files that cannot be read.
      {"a directory as the haplotype file", {{"panel.hap", kDirectory}}, kRun, 1,
       {"Error reading file panel.hap: can't open haplotype file."}},
      {"a directory as the legend", {{"panel.legend", kDirectory}}, kRun, 1,
       {"Error reading file panel.legend: can't open legend file."}},
      {"a directory as the map", {{"panel.map", kDirectory}}, kRun, 1,
       {"Error reading file panel.map: can't open file."}},
      {"a directory as the tag file", {{"tags", kDirectory}}, kRun + " -t tags", 1,
       {"Error reading file tags: can't open file."}},
      // Opens, but every read fails (even for root).
      {"an unreadable haplotype file", {}, kRun + " -h /proc/self/mem", 1,
       {"Error reading file /proc/self/mem: can't open haplotype file."}},
      {"a missing map", {}, kRun + " -m nowhere.map", 1, {"Error reading file nowhere.map: can't open file."}},
      {"an endless device as the map", {}, kRun + " -m /dev/zero", 1,
       {"Error reading file /dev/zero: line 1 is longer than 268435456 bytes (not a text file?)."}},
      // Flag values.
      {"too few values after -n", {}, kInputs + "-n 5", 1, {"ERROR!!! Must specify a value for flag: -n\n"}},
      {"too few values after -int", {}, kInputs + "-int 5", 1, {"ERROR!!! Must specify a value for flag: -int\n"}},
      {"an incomplete -dl group", {}, kInputs + "-dl 2000 1 2", 1, {"ERROR!!! Must specify a value for flag: -dl\n"}},
      {"no value after -o", {}, "-h panel.hap -l panel.legend -m panel.map -o", 1,
       {"ERROR!!! Must specify a value for flag: -o\n"}},
      {"a count beyond 32 bits", {}, kInputs + "-n 99999999999 2", 1,
       {"flag -n expects an integer within 32 bits but got \"99999999999\"."}},
      {"a non-numeric count", {}, kInputs + "-n ten 2", 1, {"flag -n expects an integer within 32 bits but got \"ten\"."}},
      {"a non-numeric -Ne", {}, kInputs + "-Ne 1e4x", 1, {"flag -Ne expects a number but got \"1e4x\"."}},
      {"NaN as theta", {}, kInputs + "-theta nan", 1, {"flag -theta expects a number but got \"nan\"."}},
      {"an infinite relative risk", {}, kInputs + "-dl 2000 1 inf 1", 1, {"flag -dl expects a number but got \"inf\"."}},
      {"a huge -Ne overflowing to infinity", {}, kInputs + "-Ne 1e999", 1,
       {"flag -Ne expects a number but got \"1e999\"."}},
      {"a negative count", {}, kInputs + "-n -3 2", 1, {"flag -n: the numbers of controls and cases must not be negative"}},
      {"more individuals than memory holds", {},
       "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") + " -m " +
           example_file("chr20.map.gz") + " -o out/run -n 2000000000 1 -dl 1945626 1 1.5 2.25",
       1,
       {"-n 2000000000 1 asks for 4000000002 haplotypes of 24978 SNPs, which need about ",
        " are available. Simulate fewer individuals or a shorter interval."}},
      // Genetic map.
      {"NaN in the map", {{"panel.map", kMap + "20000 1.0 nan\n"}}, kRun, 1,
       {"Error reading file panel.map: bad line in rates file on line 4"}},
      {"infinity in the map", {{"panel.map", kMap + "inf 1.0 0.02\n"}}, kRun, 1,
       {"Error reading file panel.map: bad line in rates file on line 4"}},
      {"a map number overflowing a double", {{"panel.map", kMap + "20000 1.0 1e999\n"}}, kRun, 1,
       {"Error reading file panel.map: bad line in rates file on line 4"}},
      {"a map distance too large to scale", {{"panel.map", kMap + "20000 1.0 1e306\n"}}, kRun, 1,
       {"Error reading file panel.map: bad line in rates file on line 4: the position or the scaled map "
        "distance (4 Ne cM / 100) is out of range."}},
      {"a map row with two numbers", {{"panel.map", kMap + "20000 1.0\n"}}, kRun, 1,
       {"Error reading file panel.map: bad line in rates file on line 4"}},
      {"map positions out of order", {{"panel.map", kMap + "5000 1.0 0.02\n"}}, kRun, 1,
       {"Error reading file panel.map: positions decrease on line 4."}},
      {"an empty map", {{"panel.map", ""}}, kRun, 1, {"Error reading file panel.map: no map rows found."}},
      {"a map with a header only", {{"panel.map", "position rate cM\n"}}, kRun, 1,
       {"Error reading file panel.map: no map rows found."}},
      // Legend and haplotype file.
      {"a legend line with three fields", {{"panel.legend", legend_with("rs1 1000 A G\nrs2 2000 C\n")}}, kRun, 1,
       {"Error reading file panel.legend: bad format detected in legend file on line 3."}},
      {"a non-numeric legend position", {{"panel.legend", legend_with("rs1 1000 A G\nrs2 2kb C T\n")}}, kRun, 1,
       {"Error reading file panel.legend: bad format detected in legend file on line 3."}},
      {"a legend position beyond 32 bits", {{"panel.legend", legend_with("rs1 3000000000 A G\n")}}, kRun, 1,
       {"Error reading file panel.legend: bad format detected in legend file on line 2."}},
      {"an allele code 2", {{"panel.hap", "0 1 0 1\n1 2 0 0\n"}}, kRun, 1,
       {"Error reading file panel.hap: bad format detected in haplotype file on line 2."}},
      {"lines with different numbers of codes", {{"panel.hap", "0 1 0 1\n1 1 0\n"}}, kRun, 1,
       {"Error reading file panel.hap: different number of haplotypes found in haplotype file (4 and 3 on line 2."}},
      {"a blank first haplotype line", {{"panel.hap", "\n0 1 0 1\n"}}, kRun, 1,
       {"Error reading file panel.hap: no haplotypes found in haplotype file on line 1."}},
      {"duplicate positions keep the first SNP",
       {{"panel.legend", legend_with("rs1 1000 A G\nrs2 2000 C T\nrsX 2000 G A\nrs4 4000 T C\n")}}, kRun, 0,
       {"number of SNPs in total: 4\n", "number of SNPs in interval: 3\n"},
       "rs pos X0 X1\nrs1 1000 A G\nrs2 2000 C T\nrs4 4000 T C\n"},
      {"unsorted positions are sorted",
       {{"panel.legend", legend_with("rs4 4000 T C\nrs2 2000 C T\nrs3 3000 G A\nrs1 1000 A G\n")}}, kRun, 0,
       {"number of SNPs in interval: 4\n"}, "rs pos X0 X1\nrs1 1000 A G\nrs2 2000 C T\nrs3 3000 G A\nrs4 4000 T C\n"},
      {"an empty haplotype file", {{"panel.hap", ""}}, kRun, 1,
       {"Warning: legend file contained more lines than haplotype file",
        "Error reading file panel.hap: No SNPs in the interval in haplotype file!"}},
      {"an empty legend", {{"panel.legend", ""}}, kRun, 1,
       {"Warning: haplotype file contained more lines than legend file",
        "Error reading file panel.hap: No SNPs in the interval in haplotype file!"}},
      {"an empty tag file is valid", {{"tags", ""}}, kRun + " -t tags", 0,
       {"writing output file out/run.cases.tags.gen"}},
      {"no final line feed", {{"panel.hap", kHaps.substr(0, kHaps.size() - 1)}}, kRun, 0,
       {"number of SNPs in interval: 4\n"}},
      {"an interval without SNPs", {}, kRun + " -int 5000 6000", 1,
       {"looking for SNPs in [5000, 6000]", "Error reading file panel.hap: No SNPs in the interval in haplotype file!"}},
      {"a disease locus off the panel", {}, kInputs + "-n 2 2 -dl 2500 1 2 4", 1,
       {"cannot find snp information for position 2500, so it has been removed from the set of disease loci.",
        "No suitable disease loci. Program terminated.\n"}},
      {"a disease locus outside the interval", {}, kRun + " -int 2500 4000", 1,
       {"cannot find snp information for position 2000", "No suitable disease loci. Program terminated.\n"}},
      {"disease loci spread over too many segments", {},
       "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") + " -m " +
           example_file("chr20.map.gz") + " -o out/run -n 5 5 -nrs -dl " + [] {
             std::string loci;
             for (const char* p : {"1002042", "1291393", "1403385", "1714095", "2161943", "2239569", "2477143",
                                   "2603711", "2721391", "2885193", "3061986", "3249142", "3613606", "3736528",
                                   "3887171"})
               loci += std::string(p) + " 1 1.5 2.25 ";
             return loci;
           }(),
       1, {"possible pairs, too many to simulate; use fewer disease loci or loci closer together."}},
      {"a disease locus at a monomorphic SNP", {{"panel.hap", "0 1 0 1\n1 1 1 1\n0 0 1 1\n1 0 1 0\n"}}, kRun, 1,
       {"snp at position 2000 has frequency 1, so it has been removed from the set of disease loci.",
        "No suitable disease loci. Program terminated.\n"}},
      {"a tag position that is not a number", {{"tags", "2000\n3000 abc\n"}}, kRun + " -t tags", 1,
       {"Error reading file tags: line 2: \"abc\" is not a position (a decimal integer within the range of an int)."}},
      {"a tag position beyond 32 bits", {{"tags", "99999999999\n"}}, kRun + " -t tags", 1,
       {"Error reading file tags: line 1: \"99999999999\" is not a position"}},
  };
  return rows;
}

void write_fixture(const TempDir& dir, const Row& row) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"panel.hap", kHaps}, {"panel.legend", kLegend}, {"panel.map", kMap}};
  for (const auto& file : row.files) {
    bool replaced = false;
    for (auto& f : files)
      if (f.first == file.first) f.second = file.second, replaced = true;
    if (!replaced) files.push_back(file);
  }
  for (const auto& f : files) {
    if (f.second == kDirectory)
      boost::filesystem::create_directories(dir.file(f.first));
    else
      write_file(dir.file(f.first), f.second);
  }
}

}  // namespace

TEST(Catalogue, EveryInputEndsWithAClearMessageAndStatus) {
  for (const Row& row : catalogue()) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    write_fixture(dir, row);
    const CommandResult r = run_tarvik(row.args, dir.path());
    EXPECT_EQ(r.status, row.status) << r.output << r.error;
    std::size_t from = 0;
    for (const std::string& fragment : row.fragments) {
      const std::size_t at = r.output.find(fragment, from);
      EXPECT_NE(at, std::string::npos) << "missing: " << fragment << "\nconsole:\n" << r.output;
      if (at != std::string::npos) from = at + fragment.size();
    }
    // The run reports its end (a run without usable disease locus stops
    // right after saying so), and nothing but the program spoke on stderr.
    const std::string no_loci = "No suitable disease loci. Program terminated.\n";
    const bool stopped_for_loci = r.output.size() >= no_loci.size() &&
                                  r.output.compare(r.output.size() - no_loci.size(), no_loci.size(), no_loci) == 0;
    EXPECT_TRUE(stopped_for_loci || r.output.find(" seconds to complete. Have a nice day! \n") != std::string::npos)
        << r.output;
    EXPECT_EQ(r.error.find("Sanitizer"), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find("runtime error"), std::string::npos) << r.error;
    if (row.status == 0) {
      const std::string legend = read_file(dir.file("out/run.legend"));
      EXPECT_EQ(legend.find('\r'), std::string::npos);
      EXPECT_EQ(legend.substr(0, 13), "rs pos X0 X1\n");
      if (!row.output_legend.empty()) {
        EXPECT_EQ(legend, row.output_legend);
      }
      EXPECT_TRUE(file_exists(dir.file("out/run.cases.sample")));
    } else if (row.status == 1 && file_exists(dir.file("out/run.summary"))) {
      // Whatever reached the summary file, the error did too.
      const std::string summary = read_file(dir.file("out/run.summary"));
      EXPECT_NE(summary.find(row.fragments.back()), std::string::npos) << summary;
    }
  }
}
