// Whole runs of the binary: the help screen, reported errors and the summary file, the pinned bytes of a run
// on the example panel, the seed word and a run without its memory.
#include <algorithm>
#include <iterator>
#include <set>
#include <sstream>

#include <boost/filesystem.hpp>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string ruler(67, '=');

// The run whose bytes tests/golden.sha256 pins: the example panel, two disease loci (the second with risk allele
// 0, whose risk table is reversed), tag SNPs, the association report and an unknown flag, so that every part of
// the summary is there. The tag SNPs: tests/data/golden.tags (unsorted, repeated, signed, outside the interval,
// at no SNP, tabs, CRLF) and every other SNP, so that the tag files span several blocks. The inputs are linked
// into the scratch directory, so that the summary names no absolute path.
CommandResult run_golden(const TempDir& dir, const std::string& stem, const std::string& more = "") {
  if (!file_exists(dir.file("tarvik"))) {
    for (const char* name : {"chr20.hap.gz", "chr20.legend.gz", "chr20.map.gz"})
      boost::filesystem::create_symlink(example_file(name), dir.file(name));
    boost::filesystem::create_symlink(tarvik_binary(), dir.file("tarvik"));
    std::string tags = read_file(source_dir() + "/tests/data/golden.tags"), id, position;
    std::istringstream legend(read_gzip_file(example_file("chr20.legend.gz")));
    for (int k = 0; legend >> id >> position; ++k, std::getline(legend, id))
      if (k % 2 == 1 && position >= "1900000" && position <= "2800000") tags += position + "\n";
    write_file(dir.file("golden.tags"), tags);
  }
  return run_command("./tarvik -h chr20.hap.gz -l chr20.legend.gz -m chr20.map.gz -int 1900000 2800000 "
                     "-n 300 200 -dl 1945626 1 1.5 2.25 2751091 0 2.0 4.0 -t golden.tags -nrs "
                     "-output_snp_summary -zz " + more + " -o " + stem, dir.path());
}

const std::string kPanel = example_panel() + "-int 1000000 1300000 -n 30 20 -dl 1066806 1 2 4 ";

}  // namespace

// Each row's message closes the console, which the summary file repeats when one could be written; the help
// screen writes none, and a summary that cannot be written is said on standard error.
TEST(Driver, HelpScreenAndReportedErrors) {
  const std::string help = ruler + "\n\nHelp Menu\n\nEssential flags are:\n";
  const std::string stop = "Error encountered, program terminated: ";
  const struct { std::string args; int status; bool created; std::string message, error; } cases[] = {
      {"", 0, false, help, ""},
      {"-o run --help", 0, false, help, ""},
      {"-l L -m M -o run", 1, false, "ERROR!!! Must specify a value for flag: -h\n\n", ""},
      // "Creating directory" is said straight on the console, before the summary file exists.
      {"-h missing.hap -l L -m M -o run", 1, true, "Error reading file M: can't open file.\n\n", ""},
      {"-h H -l L -m M -o newdir/run -n 5", 1, false, "ERROR!!! Must specify a value for flag: -n\n\n",
       "tarvik: the summary file newdir/run.summary could not be written"},
      {"-h H -l L -m M -o plain/sub/run", 1, true, stop + "boost::filesystem::create_directory: Not a directory",
       "tarvik: " + stop + "boost::filesystem::create_directory: Not a directory"},
  };
  TempDir dir;
  write_file(dir.file("plain"), "x");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const CommandResult r = run_tarvik(c.args, dir.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << r.error;
    const std::size_t creating = r.output.find("\n");
    ASSERT_EQ(r.output.rfind("Creating directory ", 0) == 0, c.created) << r.output;
    const std::string console = r.output.substr(c.created ? creating + 1 : 0);
    EXPECT_EQ(console.rfind("\n" + ruler + "\n  Welcome to TARVIK_v2.2.0 (01/04/2011)\n", 0), 0u) << console;
    const std::size_t at = console.find(c.message);
    ASSERT_NE(at, std::string::npos) << console;
    if (c.status == 0) {
      EXPECT_TRUE(contains(console, "-m <file>                               : the recombinaion rate file\n"));
      EXPECT_FALSE(contains(console, "-nrs"));
      // The help screen's text as it was, then the further flags, these among them.
      EXPECT_TRUE(contains(console, "simulated disease SNPs\n\nFurther flags are:\n-vcf <file> ")) << console;
      EXPECT_TRUE(contains(console, "\n-threads <n>          ") && contains(console, "\n-gz_level <l>         "));
      EXPECT_EQ(console.substr(console.size() - 2), "\n\n");
      EXPECT_FALSE(file_exists(dir.file("tarvik2.summary")));
      continue;
    }
    EXPECT_TRUE(contains(without_run_time(console.substr(at + c.message.size())),
                         "\nTARVIK took N seconds to complete. Have a nice day! \n"));
    if (c.error.empty()) {
      EXPECT_EQ(read_file(dir.file("run.summary")), console);
      boost::filesystem::remove(dir.file("run.summary"));
    }
  }
  for (const char* flag : {"--version", "-version"}) {
    const CommandResult r = run_tarvik(std::string("-o run ") + flag, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "tarvik v2.2.0\n") << flag;
  }
}

// One thread and eight write the same bytes, and the same compressed bytes in gzip mode.
TEST(Driver, GoldenRunGivesThePinnedBytesInPlainAndGzipModeOnAnyThreadCount) {
  TempDir dir;
  // A larger run first: the pinned run must replace its files, not append to them or overwrite a part.
  ASSERT_EQ(run_golden(dir, "out/plain/run", "-n 320 210").status, 0);
  for (const auto& [stem, threads] : {std::make_pair("out/plain/run", ""), std::make_pair("out/gz1/run.gz", ""),
                                      std::make_pair("out/gz2/run.gz", "-threads 8"),
                                      std::make_pair("out/th1/run", "-threads 1")}) {
    const CommandResult r = run_golden(dir, stem, threads);
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.error, "");
    const std::string created = stem == std::string("out/plain/run") ? "" : "Creating directory " +
                                                                                std::string(stem).substr(0, 7) + "\n";
    EXPECT_EQ(r.output, created + read_file(dir.file(std::string(stem) + ".summary"))) << stem;
  }
  const std::string plain = dir.file("out/plain/run");
  for (const std::string suffix : {".controls.haps", ".cases.haps", ".legend", ".controls.gen", ".cases.gen",
                                   ".controls.tags.gen", ".cases.tags.gen", ".controls.sample", ".cases.sample"}) {
    const bool packed = suffix.find(".haps") != std::string::npos || suffix.find(".gen") != std::string::npos;
    const std::string name = suffix + (packed ? ".gz" : "");
    const std::string raw = read_file(dir.file("out/gz1/run" + name));
    EXPECT_TRUE(raw == read_file(dir.file("out/gz2/run" + name))) << name;
    // No time stamp in the gzip header, or reruns would differ.
    if (packed) {
      EXPECT_EQ(raw.substr(0, 2) + raw.substr(4, 4), std::string("\x1f\x8b\0\0\0\0", 6)) << name;
    }
    EXPECT_TRUE((packed ? read_gzip_file(dir.file("out/gz1/run" + name)) : raw) == read_file(plain + suffix))
        << name;
    EXPECT_TRUE(read_file(dir.file("out/th1/run" + suffix)) == read_file(plain + suffix)) << suffix;
  }
  // The tag SNPs' lines are the genotype file's at the tag positions.
  std::istringstream tag_file(read_file(dir.file("golden.tags")));
  const std::set<std::string> tags{std::istream_iterator<std::string>(tag_file), {}};
  for (const std::string group : {".controls", ".cases"}) {
    std::istringstream gen(read_file(plain + group + ".gen"));
    std::string expected;
    for (std::string row, id, rsid, position; std::getline(gen, row);)
      if (std::istringstream(row) >> id >> rsid >> position && tags.count(position)) expected += row + "\n";
    EXPECT_GT(std::count(expected.begin(), expected.end(), '\n'), 1024) << "more than the largest block";
    EXPECT_TRUE(read_file(plain + group + ".tags.gen") == expected) << group;
  }
  write_file(plain + ".summary", without_run_time(read_file(plain + ".summary")));
  write_file(plain + ".gz.summary", without_run_time(read_file(dir.file("out/gz1/run.gz.summary"))));
  const CommandResult sums = run_command("cd out/plain && LC_ALL=C sha256sum -- *", dir.path());
  EXPECT_EQ(sums.status, 0) << sums.error;
  EXPECT_EQ(sums.output, read_file(source_dir() + "/tests/golden.sha256"));
  // Copying from the panel alone, the case model included: a change of these bytes is a change of the model.
  ASSERT_EQ(run_golden(dir, "out/panel/run", "-copy_panel_only").status, 0);
  write_file(dir.file("out/panel/run.summary"), without_run_time(read_file(dir.file("out/panel/run.summary"))));
  EXPECT_EQ(run_command("cd out/panel && LC_ALL=C sha256sum -- *", dir.path()).output,
            read_file(source_dir() + "/tests/golden_panel_only.sha256"));
}

// A run small enough to read: eight SNPs, three controls and two cases, every text file of every format. A
// change shows as a diff against tests/data/small_run. The map comes through a pipe, which can be read only
// once: the .bim file's map positions too come from that one read.
TEST(Driver, SmallRunGivesTheExpectedFiles) {
  TempDir dir;
  const std::string expected = source_dir() + "/tests/data/small_run/";
  for (const char* name : {"chr20.hap.gz", "chr20.legend.gz", "chr20.map.gz"})
    boost::filesystem::create_symlink(example_file(name), dir.file(name));
  boost::filesystem::create_symlink(tarvik_binary(), dir.file("tarvik"));
  boost::filesystem::create_symlink(expected + "small.tags", dir.file("small.tags"));
  const CommandResult r = run_command(
      "gzip -cd chr20.map.gz | ./tarvik -h chr20.hap.gz -l chr20.legend.gz -m /dev/stdin -int 1001000 1002300 -n 3 2 "
      "-dl 1001760 1 2.0 4.0 -t small.tags -nrs -chr 20 -output_plink -output_vcf -output_snp_summary -o run",
      dir.path());
  ASSERT_EQ(r.status, 0) << r.output << r.error;
  for (const std::string name : {"run.controls.haps", "run.cases.haps", "run.legend", "run.controls.gen",
                                 "run.cases.gen", "run.controls.tags.gen", "run.cases.tags.gen",
                                 "run.controls.sample", "run.cases.sample", "run.bim", "run.fam", "run.pheno"})
    EXPECT_EQ(read_file(dir.file(name)), read_file(expected + name)) << name;
  EXPECT_EQ(read_gzip_file(dir.file("run.vcf.gz")), read_file(expected + "run.vcf"));
  EXPECT_EQ(without_run_time(read_file(dir.file("run.summary"))), read_file(expected + "run.summary"));
}

TEST(Seed, OtherWordOtherBytesAndTheLoggedClockWordRepeatsTheRun) {
  TempDir dir;
  const auto run = [&](const std::string& stem, const std::string& seed) {
    const CommandResult r = run_tarvik(kPanel + "-no_gens_output -o " + stem + "/run " + seed, dir.path());
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  };
  EXPECT_TRUE(contains(run("a", "-seed 4294967295"), "\nRandom seed word set to 4294967295\n"));
  run("c", "-seed 7");
  EXPECT_NE(snapshot(dir.file("a"), false), snapshot(dir.file("c"), false));
  const std::string clock = run("d", ""), tag = "(-seed ";
  const std::size_t at = clock.find(tag) + tag.size();
  ASSERT_GT(at, tag.size()) << clock;
  run("e", "-seed " + clock.substr(at, clock.find(' ', at) - at));
  EXPECT_EQ(snapshot(dir.file("d"), false), snapshot(dir.file("e"), false));
}

// -copy_panel_only: the same bytes on any thread count, and -keep writes exactly the listed individuals of
// the full run, under their own identities, whatever the order and form of the list. 150 + 130 individuals
// are five blocks of the engine; the list names a control and three cases.
TEST(PopulationEngine, SameBytesOnAnyThreadCountAndKeepGivesThoseIndividualsOfTheFullRun) {
  TempDir dir;
  const std::string run = example_panel() + "-int 1000000 1300000 -n 150 130 -dl 1066806 1 2 4 -copy_panel_only "
                          "-seed 11 -chr 20 -output_plink -output_vcf ";
  for (const std::string threads : {"1", "2", "3", "8"}) {
    ASSERT_EQ(run_tarvik(run + "-threads " + threads + " -o t" + threads + "/run", dir.path()).status, 0);
    EXPECT_TRUE(snapshot(dir.file("t1"), false) == snapshot(dir.file("t" + threads), false)) << threads;
  }
  write_file(dir.file("keep.txt"), "FID IID\n0 id1_200\nid1_3\n  \n150\n3\n279\n");
  const CommandResult r = run_tarvik(run + "-keep keep.txt -o k/run", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(contains(r.output, "Keeping 4 of 280 individuals (1 controls, 3 cases), listed in keep.txt\n"));
  // The lines of a file after its first `skip`, each cut to its first `fixed` fields and the `width` fields of
  // each individual picked; width 0: the lines of the individuals picked, one line each.
  const auto pick = [](const std::string& name, std::size_t skip, std::size_t fixed, std::size_t width,
                       const std::vector<std::size_t>& picks) {
    std::istringstream in(read_text(name));
    std::vector<std::string> lines, out;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (width == 0) {
      out.assign(lines.begin(), lines.begin() + std::min(skip, lines.size()));
      for (std::size_t p : picks) out.push_back(lines.at(skip + p));
      return out;
    }
    for (std::size_t l = skip; l < lines.size(); ++l) {
      std::istringstream words(lines[l]);
      const std::vector<std::string> all{std::istream_iterator<std::string>(words), {}};
      out.insert(out.end(), all.begin(), all.begin() + std::min(fixed, all.size()));
      for (const std::size_t p : picks)
        for (std::size_t f = fixed + p * width; f < fixed + (p + 1) * width && f < all.size(); ++f) out.push_back(all[f]);
      out.push_back("\n");
    }
    return out;
  };
  const std::vector<std::size_t> kept = {3, 150, 200, 279}, controls = {3}, cases = {0, 50, 129};
  const struct { const char* name; std::size_t skip, fixed, width; std::vector<std::size_t> picks; } files[] = {
      {"run.controls.haps", 0, 0, 2, controls}, {"run.cases.haps", 0, 0, 2, cases},
      {"run.controls.gen", 0, 5, 3, controls},  {"run.cases.gen", 0, 5, 3, cases},
      {"run.vcf.gz", 0, 9, 1, kept},            {"run.fam", 0, 0, 0, kept},
      {"run.pheno", 1, 0, 0, kept},             {"run.controls.sample", 2, 0, 0, controls},
      {"run.cases.sample", 2, 0, 0, cases},     {"run.bim", 0, 6, 1, {}}};
  for (const auto& f : files) {
    std::vector<std::size_t> positions(f.picks.size());
    for (std::size_t p = 0; p < positions.size(); ++p) positions[p] = p;
    const std::vector<std::string> part = pick(dir.file(std::string("k/") + f.name), f.skip, f.fixed, f.width, positions);
    EXPECT_GE(part.size(), f.picks.size()) << f.name;
    EXPECT_TRUE(part == pick(dir.file(std::string("t1/") + f.name), f.skip, f.fixed, f.width, f.picks)) << f.name;
    if (f.width == 0) {
      const std::string text = read_text(dir.file(std::string("k/") + f.name));
      EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), f.skip + f.picks.size());
    }
  }
}

// An address-space limit is what makes allocations fail here; the address and thread sanitizers reserve far
// more address space than any limit leaves, so their builds cannot run this.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(Memory, ARunThatCannotGetItsMemoryEndsWithTheOutOfMemoryError) {
  TempDir dir;
  const CommandResult r = run_command("ulimit -v 25000; " + tarvik_binary() + " " + example_panel() +
                                      "-n 1000 1000 -dl 1945626 1 1.5 2.25 -o run -nrs", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.error.find("tarvik: Error encountered, program terminated: out of memory."), std::string::npos)
      << r.error;
  // A VCF panel of a million samples, whose header alone does not fit: the message says so.
  std::string header = "##fileformat=VCFv4.2\n##contig=<ID=20>\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (int i = 0; i < 1000000; ++i) header += "\ts" + std::to_string(i);
  write_file(dir.file("wide.vcf"), header + "\n");
  const CommandResult wide = run_command("ulimit -v 150000; " + tarvik_binary() + " -vcf wide.vcf -m " +
                                         example_file("chr20.map.gz") + " -chr 20 -n 10 0 -o wide", dir.path());
  EXPECT_EQ(wide.status, 1);
  EXPECT_NE(wide.output.find("Error reading file wide.vcf: not enough memory to read its header."), std::string::npos)
      << wide.output << wide.error;
}
#endif

// Threads change who decodes, formats and compresses, never the bytes: every file of every format, plain and
// gzip, for -threads 1, 2, 3 and 8. The whole example panel gives the .bed file several blocks, the VCF many.
TEST(Driver, EveryFormatGivesTheSameBytesOnAnyThreadCount) {
  TempDir dir;
  std::string tags, id, position;
  std::istringstream legend(read_gzip_file(example_file("chr20.legend.gz")));
  for (int k = 0; legend >> id >> position; ++k, std::getline(legend, id))
    if (k % 3 == 1) tags += position + "\n";
  write_file(dir.file("tags"), tags);
  std::map<std::string, std::string> first;
  for (int threads : {1, 2, 3, 8}) {
    const std::string out = "t" + std::to_string(threads);
    for (const std::string stem : {"/plain/run", "/gz/run.gz"}) {
      const CommandResult r =
          run_tarvik(example_panel() + "-n 150 101 -dl 1945626 1 1.5 2.25 -t tags" +
                         " -chr 20 -output_plink -output_vcf -output_bcf -seed 5 -threads " +
                         std::to_string(threads) + " -o " + out + stem,
                     dir.path());
      ASSERT_EQ(r.status, 0) << r.output << r.error;
    }
    const std::map<std::string, std::string> files = snapshot(dir.file(out), false);
    if (threads == 1) {
      first = files;
      ASSERT_EQ(first.size(), 2 + 2 * 17u);  // two directories of 17 files, summaries aside
      continue;
    }
    ASSERT_EQ(files.size(), first.size());
    for (const auto& [name, bytes] : first) EXPECT_TRUE(files.at(name) == bytes) << threads << " threads: " << name;
  }
}

// 16,400 haplotypes: VCF lines longer than a BGZF block and BCF records across block boundaries, whose index
// the threaded writer works out after the file is closed, the same as htslib's on one thread; the BCF file
// and its index are htslib's own bytes.
TEST(Driver, RecordsLongerThanABlockAreIndexedTheSameOnAnyThreadCount) {
  TempDir dir;
  std::map<std::string, std::string> first;
  for (int threads : {1, 3}) {
    const std::string out = "t" + std::to_string(threads);
    const CommandResult r = run_tarvik(example_panel() + "-int 1000000 1030000 -n 8200 8200 -dl 1000226 1 1.5 2.25 "
                                                         "-chr 20 -output_vcf -output_bcf -no_haps_output "
                                                         "-no_gens_output -seed 3 -threads " +
                                           std::to_string(threads) + " -o " + out + "/run",
                                       dir.path());
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    for (const std::string suffix : {".vcf.gz", ".vcf.gz.tbi", ".bcf", ".bcf.csi"}) {
      const std::string bytes = read_file(dir.file(out + "/run" + suffix));
      if (threads == 1) first[suffix] = bytes;
      else EXPECT_TRUE(bytes == first[suffix]) << suffix;
    }
  }
  const std::string text = read_gzip_file(dir.file("t1/run.vcf.gz"));
  const std::size_t last = text.rfind('\n', text.size() - 2);
  EXPECT_GT(text.size() - last, 0xff00u);  // the last line alone is longer than a block
  rewrite_bcf_with_htslib(dir.file("t1/run.bcf"), dir.file("htslib.bcf"));
  EXPECT_TRUE(read_file(dir.file("htslib.bcf")) == first[".bcf"]);
  EXPECT_TRUE(read_file(dir.file("htslib.bcf.csi")) == first[".bcf.csi"]);
}
