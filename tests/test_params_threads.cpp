// -threads and -gz_level: strict values and ranges, the defaults, and lines
// in the summary and the help screen that leave both as they were without them.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "params/tarvik_parameters.hpp"

namespace {

std::string parse(TarvikParameters& params, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> tokens;
  for (std::string t; in >> t;) tokens.push_back(t);
  std::vector<char*> argv;
  for (std::string& t : tokens) argv.push_back(&t[0]);
  try {
    params.process_parameters(static_cast<int>(argv.size()), argv.data());
  } catch (const MissingFlagException& e) {
    return e.message;
  } catch (const GenericErrorException& e) {
    return e.detail;
  }
  return "accepted";
}

const std::string base = "tarvik -h H -l L -m M -o run ";

}  // namespace

TEST(ThreadFlags, ValuesRangesAndDefaults) {
  const std::string range = " expects an integer from ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"-threads 0", "flag -threads" + range + "1 to 256 but got \"0\".\n"},
      {"-threads 257", "flag -threads" + range + "1 to 256 but got \"257\".\n"},
      {"-threads 2x", "flag -threads" + range + "1 to 256 but got \"2x\".\n"},
      {"-threads 99999999999", "flag -threads" + range + "1 to 256 but got \"99999999999\".\n"},
      {"-gz_level 0", "flag -gz_level" + range + "1 to 9 but got \"0\".\n"},
      {"-gz_level 10", "flag -gz_level" + range + "1 to 9 but got \"10\".\n"},
      {"-gz_level 5.5", "flag -gz_level" + range + "1 to 9 but got \"5.5\".\n"},
      {"-threads", "ERROR!!! Must specify a value for flag: -threads"},
  };
  for (const auto& [flags, message] : refused) {
    TarvikParameters p;
    EXPECT_EQ(parse(p, base + flags), message) << flags;
  }
  TarvikParameters p;
  ASSERT_EQ(parse(p, base + "-threads 256 -gz_level 1"), "accepted");
  EXPECT_EQ(p.threads, 256);
  EXPECT_EQ(p.gz_level, 1);
  EXPECT_TRUE(p.unrecognised_flags.empty());
  // A later parse starts from the defaults again.
  ASSERT_EQ(parse(p, base), "accepted");
  EXPECT_EQ(p.gz_level, 6);
  EXPECT_GE(p.threads, 1);
  EXPECT_LE(p.threads, 16);

  // The default follows the cores the process may use, as a container or
  // taskset grants them, not the machine's.
  cpu_set_t saved, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &saved)) {
      CPU_SET(cpu, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const int confined = TarvikParameters().threads;
  sched_setaffinity(0, sizeof saved, &saved);
  EXPECT_EQ(confined, 1);
}

TEST(ThreadFlags, SummaryAndHelpLinesOnlyAdded) {
  TarvikParameters plain, threaded;
  ASSERT_EQ(parse(plain, base), "accepted");
  ASSERT_EQ(parse(threaded, base + "-threads 3 -gz_level 9"), "accepted");
  std::ostringstream a, b;
  plain.parameters_summary(a);
  threaded.parameters_summary(b);
  const std::string theta = std::string(53, ' ') + "theta: -1\n";
  const std::string added = std::string(51, ' ') + "threads: 3\n" + std::string(36, ' ') + "gzip compression level: 9\n";
  std::string expected = a.str();
  expected.replace(expected.find(base), base.size(), base + "-threads 3 -gz_level 9 ");
  ASSERT_NE(expected.find(theta), std::string::npos) << expected;
  expected.insert(expected.find(theta) + theta.size(), added);
  EXPECT_EQ(b.str(), expected);
  EXPECT_EQ(a.str().find("threads"), std::string::npos);

  std::ostringstream help;
  plain.parameters_help(help);
  const std::string text = help.str();
  const std::string last_old = ": output pvalues and effect size estimates for the simulated disease SNPs\n";
  const std::size_t end_of_old = text.find(last_old) + last_old.size();
  ASSERT_NE(text.find(last_old), std::string::npos);
  EXPECT_EQ(text.substr(end_of_old, 40), "-threads <n>                            ");
  EXPECT_NE(text.find("\n-gz_level <l>                           : ", end_of_old), std::string::npos);
  EXPECT_EQ(std::count(text.begin() + end_of_old, text.end(), '\n'), 2);
}
