// The tarvik binary against bad inputs, refused output names, faults of the machine and a console that cannot
// be written; each table row is one run.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include <boost/filesystem.hpp>

#include "test_support.hpp"

using namespace testing_support;
namespace fs = boost::filesystem;

namespace {

std::string tarvik_command(const std::string& args) { return "exec '" + tarvik_binary() + "' " + args; }

// Each fragment occurs in `text` after the one before it.
void expect_in_order(const std::string& text, const std::vector<std::string>& fragments) {
  std::size_t from = 0;
  for (const std::string& fragment : fragments) {
    const std::size_t at = text.find(fragment, from);
    EXPECT_NE(at, std::string::npos) << "missing: " << fragment << "\nin:\n" << text;
    if (at != std::string::npos) from = at + fragment.size();
  }
}

const std::string kHaps = "0 1 0 1\n1 1 0 0\n0 0 1 1\n1 0 1 0\n";
const std::string kLegend = "rsid position a0 a1\nrs1 1000 A G\nrs2 2000 C T\nrs3 3000 G A\nrs4 4000 T C\n";
const std::string kMap = "position rate cM\n0 1.0 0.0\n10000 1.0 0.01\n";
const std::string kInputs = "-h panel.hap -l panel.legend -m panel.map -o out/run ";
const std::string kRun = kInputs + "-n 2 2 -dl 2000 1 2 4 -nrs";
const std::string kExample = example_panel() + "-o out/run ";
const std::string kDirectory = "<directory>";
// A wrong checksum: inflate ends with a data error rather than running out of input.
std::string corrupt_gzip() {
  std::string z = gzip(kHaps);
  z[z.size() - 8] ^= 0x55;
  return z;
}

std::string many_loci() {
  std::string loci;
  for (const char* p :
       {"1002042", "1291393", "1403385", "1714095", "2161943", "2239569", "2477143", "2603711", "2721391",
        "2885193", "3061986", "3249142", "3613606", "3736528", "3887171"})
    loci += std::string(p) + " 1 1.5 2.25 ";
  return loci;
}

// Files replace the fixture's of that name; the fragments are on the console in this order, `never` is not.
struct InputRow { const char* what; std::vector<std::pair<std::string, std::string>> files; std::string args;
                  int status; std::vector<std::string> fragments; std::string never = ""; };

const std::string kMonomorphic = "0 1 0 1\n0 0 0 0\n1 1 1 1\n1 0 1 0\n";  // frequencies 0.5, 0, 1, 0.5
const std::string kRemoved = ", so it has been removed from the set of disease loci.\n";
const std::string kNoSnps = "Error reading file panel.hap: No SNPs in the interval in haplotype file!";

const std::vector<InputRow> kInputRows = {
    {"corrupt gzip panel", {{"panel.hap", corrupt_gzip()}}, kRun, 1,
     {"Error reading file panel.hap: truncated or corrupt gzip data."}},
    {"truncated gzip panel", {{"panel.hap", gzip(kHaps).substr(0, gzip(kHaps).size() - 6)}}, kRun, 1,
     {"Error reading file panel.hap: truncated or corrupt gzip data."}},
    {"gzip everywhere, haplotypes in two members",
     {{"panel.hap", gzip(kHaps.substr(0, 10)) + gzip(kHaps.substr(10))}, {"panel.legend", gzip(kLegend)},
      {"panel.map", gzip(kMap)}, {"tags", gzip("2000 3000\n")}},
     kRun + " -t tags", 0, {"number of SNPs in interval: 4\n", "writing output file out/run.cases.tags.gen"}},
    {"a directory as input", {{"panel.hap", kDirectory}}, kRun, 1, {"file panel.hap: can't open haplotype file."}},
    {"an unreadable file", {}, kRun + " -h /proc/self/mem", 1,
     {"file /proc/self/mem: can't open haplotype file (I/O error)."}},
    {"more individuals than memory holds", {}, kExample + "-n 2000000000 1 -dl 1945626 1 1.5 2.25", 1,
     {"-n 2000000000 1 asks for 4000000002 haplotypes of 24978 SNPs, which need about ",
      " are available. Simulate fewer individuals or a shorter interval."}},
    {"an endless device as the map, and a bad panel: the map's error", {{"panel.hap", corrupt_gzip()}},
     kRun + " -m /dev/zero", 1, {"file /dev/zero: line 1 is longer than 268435456 bytes (not a text file?)."}},
    // Files of unequal lengths would pair SNPs with their neighbours' alleles.
    {"a legend shorter than the haplotypes", {{"panel.legend", kLegend.substr(0, kLegend.find("rs4"))}}, kRun, 1,
     {"Error reading file panel.legend: the legend file has 3 SNP lines (besides its header line) and the "
      "haplotype file panel.hap has 4 lines: the two files need one line per SNP each, in the same order."},
     "number of SNPs"},
    {"haplotypes shorter than the legend", {{"panel.hap", kHaps.substr(0, 24)}}, kRun, 1,
     {"Error reading file panel.hap: the haplotype file has 3 lines and the legend file panel.legend has 4 SNP "
      "lines"}},
    {"no line feed at the ends",
     {{"panel.hap", kHaps.substr(0, kHaps.size() - 1)}, {"panel.legend", kLegend.substr(0, kLegend.size() - 1)}},
     kRun, 0, {"number of SNPs in interval: 4\n"}, "Warning"},
    {"an empty legend", {{"panel.legend", ""}}, kRun, 1, {"the legend file has 0 SNP lines"}},
    {"a map that ends inside the interval", {{"panel.map", "position rate cM\n1500 1 0\n2500 1 0.01\n"}}, kRun,
     0, {"Warning: 1 SNPs of the interval lie before the first row (1500) and 2 after the last row (2500) of the "
         "map panel.map; they take the map's end values, so no recombination happens between them.\n"}},
    {"a missing tag file stops the run before it simulates", {}, kRun + " -t missing", 1,
     {"tag snps file: missing\n", "Error reading file missing: can't open file.\n"}, "Reading genetic map"},
    {"a tag file with a word that is not a position, read before the panel", {{"tags", "100\n12x 300\n"}},
     kRun + " -t tags", 1,
     {"Error reading file tags: line 2: \"12x\" is not a position (a decimal integer within the range of an int)."},
     "Reading haplotype"},
    {"tag positions not in the panel are counted", {{"tags", "1000 1500 4000 9999\n"}}, kRun + " -t tags", 0,
     {"Tag SNPs: 4 positions read from tags; 2 found among the panel's SNPs in the interval, 2 not found (left out "
      "of the tag files).\n"}},
    {"misspelled flags name the flag meant, there and at the end", {}, kRun + " -output-plink -N 100 100", 0,
     {"not recognised:\n    -N (did you mean -n?)\n    -output-plink (did you mean -output_plink?)\n",
      "Have a nice day! \nWARNING!! Not recognised, and so not used: -N (did you mean -n?) -output-plink (did you "
      "mean -output_plink?)\n"}},
    {"controls alone need no disease locus", {}, kInputs + "-n 3 0 -nrs", 0, {"writing output file out/run.controls.haps"},
     "Processing disease loci"},
    {"a tag position beyond an int", {{"tags", "2147483648"}}, kRun + " -t tags", 1,
     {"Error reading file tags: line 1: \"2147483648\" is not a position"}},
    {"an empty tag file", {{"tags", ""}}, kRun + " -t tags", 0, {"writing output file out/run.cases.tags.gen\n"}},
    {"a directory where an output file goes", {{"out/run.legend", kDirectory}}, kRun, 1,
     {"writing output file out/run.cases.haps\nError reading file out/run.legend: can't open file.\n\nNo output file"}},
    {"an interval without SNPs", {}, kRun + " -int 5000 6000", 1, {"looking for SNPs in [5000, 6000]", kNoSnps}},
    {"disease loci off the panel or monomorphic, one kept", {{"panel.hap", kMonomorphic}},
     kInputs + "-n 2 2 -nrs -dl 1000 1 2 4 1500 1 2 4 2000 1 2 4 3000 0 2 4 1000.5 1 2 4 12345678 1 2 4", 0,
     {"\nProcessing disease loci ... \ncannot find snp information for position 1000.5" + kRemoved,
      "\ncannot find snp information for position 1500" + kRemoved, "\nsnp at position 2000 has frequency 0" + kRemoved,
      "\nsnp at position 3000 has frequency 1" + kRemoved,
      "\ncannot find snp information for position 1.23457e+07" + kRemoved + "done \n"}},
    {"no disease locus left, a misspelled flag named last", {{"panel.hap", kMonomorphic}},
     kInputs + "-n 2 2 -nrs -dl 2000 1 2 4 3000 1 2 4 -N 1 1", 1,
     {"frequency 0" + kRemoved, "frequency 1" + kRemoved + "done \n\nNo suitable disease loci. Program terminated.\n"
      "WARNING!! Not recognised, and so not used: -N (did you mean -n?)\n"}},
    {"disease loci over too many segments", {}, kExample + "-n 5 5 -nrs -dl " + many_loci(), 1,
     {"possible pairs, too many to simulate; use fewer disease loci or loci closer together."}},
};

void write_fixture(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& replaced) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"panel.hap", kHaps}, {"panel.legend", kLegend}, {"panel.map", kMap}};
  files.insert(files.begin(), replaced.begin(), replaced.end());  // the first of a name wins
  for (const auto& [name, content] : files) {
    if (file_exists(dir.file(name))) continue;
    if (content == kDirectory)
      fs::create_directories(dir.file(name));
    else
      write_file(dir.file(name), content);
  }
}

// The console and summary of a run, but for the line and the words of -threads.
std::string without_threads(std::string text, const std::string& threads) {
  const std::size_t flag = text.find(" -threads " + threads), line = text.find("threads: " + threads + "\n");
  EXPECT_TRUE(flag != std::string::npos && line != std::string::npos) << text;
  if (flag == std::string::npos || line == std::string::npos) return text;
  text.erase(text.rfind('\n', line) + 1, text.find('\n', line) - text.rfind('\n', line));
  return without_run_time(text.erase(flag, 10 + threads.size()));
}

// Each row runs on one thread and on three, which read the map beside the panel and decompress a gzip panel
// ahead: what is said, and the summary, are the same.
TEST(Inputs, EveryInputEndsWithAClearMessageAndStatus) {
  for (const InputRow& row : kInputRows) {
    SCOPED_TRACE(row.what);
    std::string said[2], summary[2];
    for (const int t : {0, 1}) {
      TempDir dir;
      write_fixture(dir, row.files);
      const std::string threads = std::to_string(2 * t + 1);
      const CommandResult r = run_tarvik(row.args + " -threads " + threads, dir.path());
      EXPECT_EQ(r.status, row.status) << r.output << r.error;
      expect_in_order(r.output, row.fragments);
      EXPECT_TRUE(row.never.empty() || !contains(r.output, row.never)) << r.output;
      // Only a run left without disease loci stops at once, as it always has.
      EXPECT_NE(contains(r.output, " seconds to complete. Have a nice day! \n"), contains(r.output, "No suitable"));
      EXPECT_FALSE(contains(r.error, "Sanitizer") || contains(r.error, "runtime error")) << r.error;
      said[t] = without_threads(r.output + r.error, threads);
      if (file_exists(dir.file("out/run.summary")))
        summary[t] = without_threads(read_file(dir.file("out/run.summary")), threads);
      EXPECT_TRUE(row.status == 0 || summary[t].empty() || contains(summary[t], row.fragments.back()));
      EXPECT_TRUE(row.status != 0 ||
                  read_file(dir.file("out/run.legend")).rfind("rs pos X0 X1\nrs1 1000 A G\n", 0) == 0);
    }
    if (contains(said[0], " are available.")) continue;  // the free memory changes between the runs
    EXPECT_EQ(said[1], said[0]);
    EXPECT_EQ(summary[1], summary[0]);
  }
}

// Output names that are refused: status 1, a message naming both files (or -o), and not one file written or
// removed, the summary file included.

struct NameRow { const char* what; std::function<void(const TempDir&)> prepare; std::string args, message; };

const std::string kStop = "Error encountered, program terminated: ";
const std::string kChoose = "; choose another output stem with -o.\n";
const std::string kBadStem =
    kStop + "flag -o expects an output stem (a file name, not a directory) but got \"";

const std::vector<NameRow> kNameRows = {
    {"the stem of the panel", {}, "-h chr.hap -l chr.legend -m panel.map -o chr",
     kStop + "the output file chr.legend is the input file chr.legend (-l)" + kChoose},
    {"an output name linked to an input",
     [](const TempDir& d) { fs::create_symlink("../panel.map", d.file("out/run.cases.sample")); }, kRun,
     kStop + "the output file out/run.cases.sample is the input file panel.map (-m)" + kChoose},
    {"an output name hard-linked to an input",
     [](const TempDir& d) { fs::create_hard_link(d.file("panel.hap"), d.file("out/run.controls.gen")); }, kRun,
     kStop + "the output file out/run.controls.gen is the input file panel.hap (-h)" + kChoose},
    {"the summary as the map", {}, "-h panel.hap -l panel.legend -m run.summary -o run",
     kStop + "the output file run.summary is the input file run.summary (-m)" + kChoose},
    {"a tag file with the gzip name of a plain stem",
     [](const TempDir& d) { write_file(d.file("out/run.cases.tags.gen.gz"), "2000\n"); },
     kRun + " -t out/run.cases.tags.gen.gz",
     kStop + "the output file out/run.cases.tags.gen.gz is the input file out/run.cases.tags.gen.gz (-t)" +
         kChoose},
    {"an output not yet written, by another path", {}, kRun + " -t out/../out/run.legend",
     kStop + "the output file out/run.legend is the input file out/../out/run.legend (-t)" + kChoose},
    {"an empty -o", {}, kRun + " -o ''", kBadStem + "\".\n"},
    {"-o naming the current directory", {}, kRun + " -o .", kBadStem + ".\".\n"},
    // The command line fails before the names are checked: the summary it names is an input all the same, and
    // stays as it is.
    {"a flag error with the summary as the legend", {}, "-h panel.hap -l run.summary -m panel.map -o run -n ten 2",
     kStop + "flag -n expects an integer within 32 bits but got \"ten\".\n"},
};

TEST(OutputNames, RefusedBeforeAnythingIsWrittenOrRemoved) {
  for (const NameRow& row : kNameRows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    write_fixture(dir, {{"chr.hap", kHaps}, {"chr.legend", kLegend}, {"run.summary", kMap}});
    fs::create_directories(dir.file("out"));
    write_file(dir.file("out/run.summary"), "the summary of an earlier run\n");
    if (row.prepare) row.prepare(dir);
    const auto before = snapshot(dir.path());
    const CommandResult r = run_tarvik(row.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.output, row.message + "\n\n\nTARVIK took ")) << r.output;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

// A run that fails or is interrupted over the files of an earlier one: the earlier set stays byte for byte,
// no temporary or partial file is left, and the summary file records why.

// 1155 SNPs and 300 + 300 individuals: every haplotype and genotype file exceeds one write block, so a fault
// strikes in the middle of a file.
std::string example_run(const std::string& stem) {
  return example_panel() + "-int 1000000 1150000 -n 300 300 -dl 1066806 1 1.5 2.25 -nrs -t tags -o " + stem;
}

bool has_temporary(const std::string& dir) {
  for (fs::directory_iterator it(dir), end; it != end; ++it)
    if (contains(it->path().filename().string(), ".tmp.")) return true;
  return false;
}

using FaultyRun = std::function<CommandResult(const TempDir&, const std::string& args)>;

FaultyRun limited(int resource, rlim_t value, const std::string& more = "") {
  return [=](const TempDir& d, const std::string& args) {
    return Child(tarvik_command(args + more), d.path(), [=] {
             const rlimit l{value, value};
             setrlimit(resource, &l);
           }).wait();
  };
}

// SIGTERM once a temporary file of the set exists (the child stopped meanwhile, so that it cannot finish the
// file between the look and the signal).
CommandResult terminated_while_writing(const TempDir& d, const std::string& args) {
  Child child(tarvik_command(args), d.path());
  bool seen = false;
  for (int i = 0; i < 30000 && !seen; ++i) {
    seen = has_temporary(d.file("out"));
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (seen) kill(child.pid, SIGSTOP);
  const bool stopped = seen && has_temporary(d.file("out"));
  if (stopped) kill(child.pid, SIGTERM);
  kill(child.pid, SIGCONT);
  const CommandResult r = child.wait();
  EXPECT_TRUE(stopped) << "no temporary file seen while writing\n" << r.output;
  return r;
}

CommandResult summary_made_a_directory(const TempDir& d, const std::string& args) {
  fs::remove(d.file("out/run.summary"));
  fs::create_directories(d.file("out/run.summary/keep"));  // not empty, so it survives the removal of a summary
  return Child(tarvik_command(args), d.path()).wait();
}

// `run` is a plain run when empty; the messages are on the console or standard error in this order, and
// in the summary file too when `logged`; out/ is a tmpfs of `tmpfs_bytes` if not 0.
struct RerunRow { const char* what; std::string stem; FaultyRun run; int status, signal;
                  std::vector<std::string> messages; std::size_t tmpfs_bytes = 0; bool logged = true; };

const std::string kNotKept =
    "No output file of this run was kept; the files of earlier runs are unchanged.\n";
const std::vector<RerunRow> kRerunRows = {
    {"a file size limit on eight threads in gzip mode", "out/run.gz", limited(RLIMIT_FSIZE, 32 << 10, " -threads 8"),
     1, 0, {"Error writing file out/run.controls.haps.gz: the file could not be written completely (file too large).\n",
            kNotKept}},
    // htslib's own lines never reach the user: one error names the cause. On one thread: htslib's compressing
    // threads keep 32 bytes of a write that failed, which the sanitizer would report.
    {"a file size limit while writing the VCF", "out/run",
     limited(RLIMIT_FSIZE, 64 << 10, " -no_haps_output -no_gens_output -chr 20 -output_vcf -threads 1"), 1, 0,
     {"Error writing file out/run.vcf.gz: the file could not be written completely (file too large).\n", kNotKept}},
    {"a full disk", "out/run", {}, 1, 0,
     {"Error writing file out/run.cases.haps: the file could not be written completely (no space left on device).\n",
      kNotKept}, 8 << 20},
    {"SIGTERM while writing gzip files", "out/run.gz", terminated_while_writing, -1, SIGTERM,
     {"nterrupted by SIGTERM: no output file of this run was kept; the files of earlier runs are unchanged.\n"}},
    {"a summary file that cannot be opened", "out/run", summary_made_a_directory, 1, 0,
     {"Error reading file out/run.summary: can't open file.\n",
      "tarvik: the summary file out/run.summary could not be written"}, 0, false},
};

struct Mounted {
  std::string at;
  ~Mounted() {
    if (!at.empty()) umount2(at.c_str(), MNT_DETACH);
  }
};

TEST(Rerun, AFailedRunLeavesTheEarlierSetAsItWas) {
  for (const RerunRow& row : kRerunRows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    Mounted mounted;
    write_file(dir.file("tags"), "1012512 1066806 1078996\n");
    fs::create_directories(dir.file("out"));
    if (row.tmpfs_bytes > 0) {
      const std::string size = "size=" + std::to_string(row.tmpfs_bytes);
      ASSERT_EQ(mount("tmpfs", dir.file("out").c_str(), "tmpfs", 0, size.c_str()), 0)
          << "a small tmpfs is needed to fill a disk: " << strerror(errno);
      mounted.at = dir.file("out");
    }
    const CommandResult first = run_tarvik(example_run(row.stem), dir.path());
    ASSERT_EQ(first.status, 0) << first.output;
    const auto before = snapshot(dir.file("out"), false);

    const std::string args = example_run(row.stem);
    const CommandResult r = row.run ? row.run(dir, args) : Child(tarvik_command(args), dir.path()).wait();
    EXPECT_EQ(r.status, row.status) << r.output << r.error;
    EXPECT_EQ(r.signal, row.signal);
    expect_in_order(r.output + r.error, row.messages);
    if (row.logged) expect_in_order(read_file(dir.file(row.stem + ".summary")), row.messages);
    EXPECT_FALSE(contains(r.error, "Sanitizer") || contains(r.error, "runtime error")) << r.error;
    EXPECT_FALSE(contains(r.output + r.error, "[E::")) << r.error;
    EXPECT_EQ(snapshot(dir.file("out"), false), before);
  }
}

// A successful run over an earlier one: a link at an output name is replaced, not written through, and the
// files of the stem it did not write are named and kept.
TEST(Rerun, ALinkIsReplacedAndFilesOfEarlierRunsAreNamed) {
  TempDir dir;
  write_file(dir.file("tags"), "1012512 1066806 1078996\n");
  for (const std::string stem : {"ref/run", "out/run"})
    ASSERT_EQ(run_tarvik(example_run(stem), dir.path()).status, 0);
  write_file(dir.file("victim"), "not a legend\n");
  fs::remove(dir.file("out/run.legend"));
  fs::create_symlink("../victim", dir.file("out/run.legend"));

  std::string without_tags = example_run("out/run");
  without_tags.erase(without_tags.find(" -t tags"), 8);
  const CommandResult r = run_tarvik(without_tags, dir.path());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(contains(r.output,
                       "writing output file out/run.cases.sample\nWARNING!! These files of the same output "
                       "stem were not written by this run and are left as they were:\n"
                       "    out/run.cases.tags.gen\n    out/run.controls.tags.gen\n\n"))
      << r.output;
  EXPECT_EQ(read_file(dir.file("victim")), "not a legend\n");
  EXPECT_FALSE(fs::is_symlink(dir.file("out/run.legend")));
  auto expected = snapshot(dir.file("ref"), false);
  EXPECT_EQ(snapshot(dir.file("out"), false), expected);
}

// A console that cannot be written costs the console only: the files and the summary are those of an
// undisturbed run, the status is the run's, and one line on standard error says so.

struct ConsoleRow { const char* what; std::function<void()> in_child; bool piped_to_head;  // `| head -c 10`
                    std::string args; int status; std::string error; };

void output_to_dev_full() {
  const int fd = open("/dev/full", O_WRONLY);
  dup2(fd, 1);
  close(fd);
}

const std::string kConsoleRun =
    kExample + "-int 1900000 2100000 -n 60 40 -dl 1945626 1 2 4 -nrs -output_snp_summary";
const std::string kReportIn = "; the whole report is in out/run.summary.\n";

const std::string kCouldNot = "tarvik: standard output could not be written";

const std::vector<ConsoleRow> kConsoleRows = {
    {"closed standard output", [] { close(1); }, false, kConsoleRun, 0,
     "tarvik: standard output was closed" + kReportIn},
    {"standard output on /dev/full", output_to_dev_full, false, kConsoleRun, 0, kCouldNot + kReportIn},
    {"a pipe closed after 10 bytes", {}, true, kConsoleRun, 0, kCouldNot + kReportIn},
    {"the help screen on /dev/full", output_to_dev_full, false, "-help", 1, kCouldNot + ".\n"},
};

TEST(Console, AConsoleThatCannotBeWrittenCostsTheConsoleOnly) {
  TempDir reference;
  const CommandResult undisturbed = run_tarvik(kConsoleRun, reference.path());
  ASSERT_EQ(undisturbed.status, 0) << undisturbed.output;
  for (const ConsoleRow& row : kConsoleRows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    CommandResult r;
    if (row.piped_to_head) {
      const std::string command =
          "{ '" + tarvik_binary() + "' " + row.args + " 2>tarvik.err; echo $? >tarvik.status; } | head -c 10";
      r = Child(command, dir.path()).wait();
      EXPECT_EQ(r.output, undisturbed.output.substr(0, 10));
      r.status = std::stoi(read_file(dir.file("tarvik.status")));
      r.error = read_file(dir.file("tarvik.err"));
    } else {
      r = Child(tarvik_command(row.args), dir.path(), row.in_child).wait();
    }
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.error, row.error);
    if (row.status != 0) continue;
    EXPECT_EQ(snapshot(dir.file("out"), false), snapshot(reference.file("out"), false));
    EXPECT_EQ(without_run_time(read_file(dir.file("out/run.summary"))),
              without_run_time(read_file(reference.file("out/run.summary"))));
  }
}

}  // namespace
