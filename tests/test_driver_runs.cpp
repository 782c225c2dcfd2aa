// Whole runs: the seed word (-seed repeats a run exactly, a clock-seeded run names its
// word) and a run without its memory. Bad -seed values are refused by the parser's tests.
#include <gtest/gtest.h>

#include <string>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string kPanel = "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                           " -m " + example_file("chr20.map.gz") + " -int 1000000 1300000 -n 30 20 " +
                           "-dl 1066806 1 2 4 ";

// The data files of a run, concatenated.
std::string data_of(const TempDir& dir, const std::string& stem) {
  std::string all;
  for (const char* suffix : {".controls.haps", ".cases.haps", ".controls.gen", ".cases.gen"})
    all += read_file(dir.file(stem + suffix));
  return all;
}

}  // namespace

TEST(Seed, SameWordSameBytesOtherWordOtherBytesClockWordRepeats) {
  TempDir dir;
  ASSERT_EQ(run_tarvik(kPanel + "-o a -seed 4294967295", dir.path()).status, 0);
  ASSERT_EQ(run_tarvik(kPanel + "-o b -seed 4294967295", dir.path()).status, 0);
  ASSERT_EQ(run_tarvik(kPanel + "-o c -seed 7", dir.path()).status, 0);
  EXPECT_EQ(data_of(dir, "a"), data_of(dir, "b"));
  EXPECT_NE(data_of(dir, "a"), data_of(dir, "c"));
  EXPECT_NE(read_file(dir.file("a.summary")).find("\nRandom seed word set to 4294967295\n"), std::string::npos);

  const CommandResult clock = run_tarvik(kPanel + "-o d", dir.path());
  ASSERT_EQ(clock.status, 0);
  const std::string tag = "(-seed ";
  const std::size_t at = clock.output.find(tag);
  ASSERT_NE(at, std::string::npos) << clock.output;
  const std::string word = clock.output.substr(at + tag.size(), clock.output.find(' ', at + tag.size()) - at - tag.size());
  ASSERT_EQ(run_tarvik(kPanel + "-o e -seed " + word, dir.path()).status, 0);
  EXPECT_EQ(data_of(dir, "d"), data_of(dir, "e"));
  // A fixed-seed run prints nothing new.
  ASSERT_EQ(run_tarvik(kPanel + "-o f -nrs", dir.path()).status, 0);
  EXPECT_EQ(read_file(dir.file("f.summary")).find("seed word"), std::string::npos);
}

// An address-space limit is what makes allocations fail here; the address
// sanitizer reserves far more address space than any limit leaves, so its
// build cannot run this.
#if !defined(__SANITIZE_ADDRESS__)
TEST(Memory, ARunThatCannotGetItsMemoryEndsWithTheOutOfMemoryError) {
  TempDir dir;
  const std::string args = "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") +
                           " -m " + example_file("chr20.map.gz") + " -n 1000 1000 -dl 1945626 1 1.5 2.25 -o run -nrs";
  const CommandResult r = run_command("ulimit -v 25000; " + tarvik_binary() + " " + args, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.error.find("tarvik: Error encountered, program terminated: out of memory."), std::string::npos)
      << r.error;
}
#endif
