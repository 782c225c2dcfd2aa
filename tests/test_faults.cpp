// Faults of the machine during a run of the tarvik binary: each is reported
// with status 1, and the files finished before it are exactly those of an
// undisturbed run with the same seed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "test_support.hpp"

using namespace testing_support;
namespace fs = boost::filesystem;

namespace {

// 1155 SNPs and 300 + 300 individuals: every haplotype and genotype file
// exceeds one write block, so a full disk strikes in the middle of a file.
std::string run_args(const std::string& stem) {
  return "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") + " -m " +
         example_file("chr20.map.gz") + " -int 1000000 1150000 -n 300 300 -dl 1066806 1 1.5 2.25 -nrs -t tags -o " +
         stem;
}

struct Fault {
  const char* what;
  std::string stem;  // the -o value
  std::function<void(const TempDir&)> prepare;
  std::string message;  // on the console
  std::string error;    // on standard error ("" when none)
  std::vector<std::string> intact, absent;  // suffixes of files finished before the fault, never written
};

void full_disk(const TempDir& dir, const std::string& file) {
  fs::create_directories(fs::path(dir.file(file)).parent_path());
  fs::create_symlink("/dev/full", dir.file(file));
}

const std::string kIncomplete = ": the file could not be written completely (disk full or I/O error).";

}  // namespace

TEST(Faults, ReportedWithFinishedFilesIntact) {
  TempDir dir;
  write_file(dir.file("tags"), "1012512 1066806 1078996\n");
  for (const std::string stem : {"ref/run", "ref/run.gz"}) {
    const CommandResult r = run_tarvik(run_args(stem), dir.path());
    ASSERT_EQ(r.status, 0) << r.output << r.error;
  }
  // Root writes anywhere but in /proc.
  const bool root = geteuid() == 0;
  const std::string unwritable = root ? "/proc/self" : dir.file("locked");

  const std::vector<Fault> faults = {
      {"full disk in the middle of a genotype file", "out/run",
       [](const TempDir& d) { full_disk(d, "out/run.controls.gen"); },
       "Error writing file out/run.controls.gen" + kIncomplete, "", {}, {".controls.sample"}},
      {"full disk in gzip mode", "out/run.gz", [](const TempDir& d) { full_disk(d, "out/run.cases.haps.gz"); },
       "Error writing file out/run.cases.haps.gz" + kIncomplete, "", {},
       {".controls.sample"}},
      {"an unwritable summary file", "out/run",
       // Not empty, so it survives the removal of an old summary.
       [](const TempDir& d) { fs::create_directories(d.file("out/run.summary/keep")); },
       "Error reading file out/run.summary: can't open file.",
       "tarvik: the summary file out/run.summary could not be written", {}, {".controls.haps", ".legend"}},
      {"an unwritable output directory", unwritable + "/run",
       [root](const TempDir& d) {
         if (!root) {
           fs::create_directories(d.file("locked"));
           chmod(d.file("locked").c_str(), 0555);
         }
       },
       "Error reading file " + unwritable + "/run.summary: can't open file.",
       "tarvik: the summary file " + unwritable + "/run.summary could not be written", {}, {".controls.haps"}},
  };

  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    fs::remove_all(dir.file("out"));
    fault.prepare(dir);
    const CommandResult r = run_tarvik(run_args(fault.stem), dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(fault.message + "\n\n\nTARVIK took "), std::string::npos) << r.output;
    if (fault.error.empty()) {
      EXPECT_EQ(r.error, "");
      EXPECT_NE(read_file(dir.file(fault.stem + ".summary")).find(fault.message), std::string::npos);
    } else {
      EXPECT_NE(r.error.find(fault.error), std::string::npos) << r.error;
    }
    EXPECT_EQ(r.error.find("Sanitizer"), std::string::npos) << r.error;
    // Gzip mode names its files after the stem without ".gz".
    std::string base = fault.stem;
    if (base.size() > 3 && base.compare(base.size() - 3, 3, ".gz") == 0) base.resize(base.size() - 3);
    if (base[0] != '/') base = dir.file(base);
    for (const std::string& suffix : fault.intact)
      EXPECT_EQ(read_file(base + suffix), read_file(dir.file("ref/run" + suffix))) << suffix;
    for (const std::string& suffix : fault.absent) EXPECT_FALSE(file_exists(base + suffix)) << suffix;
  }
  chmod(dir.file("locked").c_str(), 0755);
}

TEST(Faults, TagFileRemovedDuringTheRun) {
  TempDir dir;
  write_file(dir.file("tags"), "1012512 1066806 1078996\n");
  ASSERT_EQ(run_tarvik(run_args("ref/run"), dir.path()).status, 0);

  // The panel comes through a pipe: the tag file goes once tarvik has opened
  // it, and before the output stage, which waits for the panel's last byte.
  const std::string haps = read_file(example_file("chr20.hap.gz"));
  ASSERT_EQ(mkfifo(dir.file("panel.hap").c_str(), 0600), 0);
  std::string args = run_args("out/run");
  args.replace(args.find(example_file("chr20.hap.gz")), example_file("chr20.hap.gz").size(), "panel.hap");
  signal(SIGPIPE, SIG_IGN);  // a run that stops reading must fail the test, not end it
  CommandResult r;
  std::thread run([&] { r = run_tarvik(args, dir.path()); });
  int fd = -1;
  for (int tries = 0; fd < 0 && tries < 3000; ++tries) {
    fd = open(dir.file("panel.hap").c_str(), O_WRONLY | O_NONBLOCK);  // fails until the reader opens
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (fd >= 0) {
    fs::remove(dir.file("tags"));
    fcntl(fd, F_SETFL, 0);
    for (std::size_t done = 0; done < haps.size();) {
      const ssize_t n = write(fd, haps.data() + done, haps.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  }
  run.join();
  ASSERT_GE(fd, 0) << "tarvik never opened the haplotype file\n" << r.output;

  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error reading file tags: can't open file.\n\n\nTARVIK took "), std::string::npos)
      << r.output;
  EXPECT_EQ(r.error, "");
  for (const std::string suffix : {".controls.haps", ".cases.haps", ".legend", ".controls.gen", ".cases.gen"})
    EXPECT_EQ(read_file(dir.file("out/run" + suffix)), read_file(dir.file("ref/run" + suffix))) << suffix;
  for (const std::string suffix : {".controls.tags.gen", ".controls.sample"})
    EXPECT_FALSE(file_exists(dir.file("out/run" + suffix))) << suffix;
}
