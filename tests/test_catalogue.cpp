// Bad (and oddly formatted but valid) inputs run through the tarvik binary:
// each ends with a clear message naming file and line, and the right status.
// Exact message texts are checked by the readers' and the parser's own tests.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string kHaps = "0 1 0 1\n1 1 0 0\n0 0 1 1\n1 0 1 0\n";
const std::string kLegend = "rsid position a0 a1\nrs1 1000 A G\nrs2 2000 C T\nrs3 3000 G A\nrs4 4000 T C\n";
const std::string kMap = "position rate cM\n0 1.0 0.0\n10000 1.0 0.01\n";
const std::string kInputs = "-h panel.hap -l panel.legend -m panel.map -o out/run ";
const std::string kRun = kInputs + "-n 2 2 -dl 2000 1 2 4 -nrs";
const std::string kExample = "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                             " -m " + example_file("chr20.map.gz") + " -o out/run ";
const std::string kDirectory = "<directory>";
const char kJunkBytes[] = "\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe\x13\x37\n\x80\x81\0\x01";
const std::string kJunk(kJunkBytes, sizeof kJunkBytes - 1);

std::string gzip(const std::string& text) {
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, text.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// Damaged mid-stream; the panel is repeated so that the stream is long enough.
std::string corrupt_gzip() {
  std::string haps;
  for (int i = 0; i < 200; ++i) haps += kHaps;
  std::string z = gzip(haps);
  z[z.size() / 2] = static_cast<char>(z[z.size() / 2] ^ 0x55);
  return z;
}

std::string many_loci() {
  std::string loci;
  for (const char* p : {"1002042", "1291393", "1403385", "1714095", "2161943", "2239569", "2477143", "2603711",
                        "2721391", "2885193", "3061986", "3249142", "3613606", "3736528", "3887171"})
    loci += std::string(p) + " 1 1.5 2.25 ";
  return loci;
}

struct Row {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;  // replace the fixture of that name
  std::string args;
  int status;
  std::vector<std::string> fragments;  // on the console, in this order
  std::string output_legend = "";
};

const std::string kSorted = "rs pos X0 X1\nrs1 1000 A G\nrs2 2000 C T\nrs3 3000 G A\nrs4 4000 T C\n";
const std::string kHeader = "rsid position a0 a1\n";
const std::string kGzip = "truncated or corrupt gzip data.";
const std::string kMapLine4 = "Error reading file panel.map: bad line in rates file on line 4";
const std::string kNoSnps = "Error reading file panel.hap: No SNPs in the interval in haplotype file!";
const std::string kNoLoci = "No suitable disease loci. Program terminated.\n";
const std::string kFour = "number of SNPs in interval: 4\n";

const std::vector<Row> kCatalogue = {
    {"truncated gzip panel", {{"panel.hap", gzip(kHaps).substr(0, gzip(kHaps).size() - 6)}}, kRun, 1,
     {"Error reading file panel.hap: " + kGzip}},
    {"corrupt gzip panel", {{"panel.hap", corrupt_gzip()}}, kRun, 1, {"Error reading file panel.hap: " + kGzip}},
    {"truncated gzip map", {{"panel.map", gzip(kMap).substr(0, 12)}}, kRun, 1, {"file panel.map: " + kGzip}},
    {"binary junk as haplotypes", {{"panel.hap", kJunk}}, kRun, 1, {"file panel.hap: bad format", "on line 1."}},
    {"binary junk as the map", {{"panel.map", kJunk}}, kRun, 1, {"file panel.map: bad line in rates file on line 2"}},
    {"binary junk as tags", {{"tags", kJunk}}, kRun + " -t tags", 1, {"Error reading file tags: line 1: \""}},
    {"gzip everywhere, haplotypes in two members",
     {{"panel.hap", gzip(kHaps.substr(0, 10)) + gzip(kHaps.substr(10))}, {"panel.legend", gzip(kLegend)},
      {"panel.map", gzip(kMap)}, {"tags", gzip("2000 3000\n")}},
     kRun + " -t tags", 0, {kFour, "writing output file out/run.cases.tags.gen"}, kSorted},
    {"CRLF line ends",
     {{"panel.hap", crlf(kHaps)}, {"panel.legend", crlf(kLegend)}, {"panel.map", crlf(kMap)}, {"tags", "2000\r\n"}},
     kRun + " -t tags", 0, {kFour, "writing output file out/run.cases.tags.gen"}, kSorted},
    {"CRLF in gzip", {{"panel.hap", gzip(crlf(kHaps))}, {"panel.legend", gzip(crlf(kLegend))}}, kRun, 0, {kFour}},
    {"a directory as input", {{"panel.hap", kDirectory}}, kRun, 1, {"file panel.hap: can't open haplotype file."}},
    {"an unreadable file", {}, kRun + " -h /proc/self/mem", 1, {"file /proc/self/mem: can't open haplotype file."}},
    {"an endless device as the map", {}, kRun + " -m /dev/zero", 1,
     {"file /dev/zero: line 1 is longer than 268435456 bytes (not a text file?)."}},
    {"too few values after -n", {}, kInputs + "-n 5", 1, {"ERROR!!! Must specify a value for flag: -n\n"}},
    {"too few values after -int", {}, kInputs + "-int 5", 1, {"ERROR!!! Must specify a value for flag: -int\n"}},
    {"a count beyond 32 bits", {}, kInputs + "-n 99999999999 2", 1, {"flag -n expects an integer within 32 bits"}},
    {"a non-numeric count", {}, kInputs + "-n ten 2", 1, {"flag -n expects an integer within 32 bits"}},
    {"a huge -Ne", {}, kInputs + "-Ne 1e999", 1, {"flag -Ne expects a number but got \"1e999\"."}},
    {"an infinite relative risk", {}, kInputs + "-dl 2000 1 inf 1", 1, {"flag -dl expects a number but got \"inf\"."}},
    {"more individuals than memory holds", {}, kExample + "-n 2000000000 1 -dl 1945626 1 1.5 2.25", 1,
     {"-n 2000000000 1 asks for 4000000002 haplotypes of 24978 SNPs, which need about ",
      " are available. Simulate fewer individuals or a shorter interval."}},
    {"NaN in the map", {{"panel.map", kMap + "20000 1.0 nan\n"}}, kRun, 1, {kMapLine4}},
    {"infinity in the map", {{"panel.map", kMap + "inf 1.0 0.02\n"}}, kRun, 1, {kMapLine4}},
    {"a map distance too large to scale", {{"panel.map", kMap + "20000 1.0 1e306\n"}}, kRun, 1,
     {kMapLine4 + ": the position or the scaled map distance (4 Ne cM / 100) is out of range."}},
    {"a legend line with three fields", {{"panel.legend", kHeader + "rs1 1000 A G\nrs2 2000 C\n"}}, kRun, 1,
     {"Error reading file panel.legend: bad format detected in legend file on line 3."}},
    {"duplicate positions keep the first SNP",
     {{"panel.legend", kHeader + "rs1 1000 A G\nrs2 2000 C T\nrsX 2000 G A\nrs4 4000 T C\n"}}, kRun, 0,
     {"number of SNPs in total: 4\n", "number of SNPs in interval: 3\n"},
     "rs pos X0 X1\nrs1 1000 A G\nrs2 2000 C T\nrs4 4000 T C\n"},
    {"unsorted positions are sorted",
     {{"panel.legend", kHeader + "rs4 4000 T C\nrs2 2000 C T\nrs3 3000 G A\nrs1 1000 A G\n"}}, kRun, 0, {kFour},
     kSorted},
    {"an empty haplotype file", {{"panel.hap", ""}}, kRun, 1,
     {"Warning: legend file contained more lines than haplotype file", kNoSnps}},
    {"an empty legend", {{"panel.legend", ""}}, kRun, 1,
     {"Warning: haplotype file contained more lines than legend file", kNoSnps}},
    {"an empty tag file", {{"tags", ""}}, kRun + " -t tags", 0, {"writing output file out/run.cases.tags.gen"}},
    {"an interval without SNPs", {}, kRun + " -int 5000 6000", 1, {"looking for SNPs in [5000, 6000]", kNoSnps}},
    {"a disease locus off the panel, an unknown flag", {}, kInputs + "-n 2 2 -dl 2500 1 2 4 -zz", 1,
     {"Creating directory out\n", "WARNING!! The following specified parameters were not recognised:\n    -zz\n",
      "cannot find snp information for position 2500, so it has been removed from the set of disease loci.", kNoLoci}},
    {"disease loci over too many segments", {}, kExample + "-n 5 5 -nrs -dl " + many_loci(), 1,
     {"possible pairs, too many to simulate; use fewer disease loci or loci closer together."}},
};

void write_fixture(const TempDir& dir, const Row& row) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"panel.hap", kHaps}, {"panel.legend", kLegend}, {"panel.map", kMap}};
  files.insert(files.begin(), row.files.begin(), row.files.end());  // the first of a name wins
  for (const auto& [name, content] : files) {
    if (file_exists(dir.file(name))) continue;
    if (content == kDirectory)
      boost::filesystem::create_directories(dir.file(name));
    else
      write_file(dir.file(name), content);
  }
}

}  // namespace

TEST(Catalogue, EveryInputEndsWithAClearMessageAndStatus) {
  for (const Row& row : kCatalogue) {
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
    // Every run reports its time, except one stopped right after finding no usable disease locus.
    const bool no_loci = r.output.size() >= kNoLoci.size() &&
                         r.output.compare(r.output.size() - kNoLoci.size(), kNoLoci.size(), kNoLoci) == 0;
    EXPECT_TRUE(no_loci || r.output.find(" seconds to complete. Have a nice day! \n") != std::string::npos);
    EXPECT_EQ(r.error.find("Sanitizer"), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find("runtime error"), std::string::npos) << r.error;
    if (row.status == 0) {
      const std::string legend = read_file(dir.file("out/run.legend"));
      EXPECT_EQ(legend.substr(0, 13), "rs pos X0 X1\n");
      EXPECT_TRUE(row.output_legend.empty() || legend == row.output_legend) << legend;
      EXPECT_TRUE(file_exists(dir.file("out/run.cases.sample")));
    } else if (file_exists(dir.file("out/run.summary"))) {
      EXPECT_NE(read_file(dir.file("out/run.summary")).find(row.fragments.back()), std::string::npos);
    }
  }
  EXPECT_GE(kCatalogue.size(), 30u);
}
