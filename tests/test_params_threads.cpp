// -threads and -gz_level: strict values and ranges, defaults, and lines that
// are only added to the summary and the help screen.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "params/tarvik_parameters.hpp"

namespace {

const std::string base = "tarvik -h H -l L -m M -o run ";

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
  return "threads " + std::to_string(params.threads) + ", level " + std::to_string(params.gz_level);
}

}  // namespace

TEST(ThreadFlags, ValuesRangesAndDefaults) {
  const std::string range = " expects an integer from ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-threads 0", "flag -threads" + range + "1 to 256 but got \"0\".\n"},
      {"-threads 257", "flag -threads" + range + "1 to 256 but got \"257\".\n"},
      {"-threads 2x", "flag -threads" + range + "1 to 256 but got \"2x\".\n"},
      {"-gz_level 0", "flag -gz_level" + range + "1 to 9 but got \"0\".\n"},
      {"-gz_level 5.5", "flag -gz_level" + range + "1 to 9 but got \"5.5\".\n"},
      {"-threads", "ERROR!!! Must specify a value for flag: -threads"},
      {"-threads 256 -gz_level 9", "threads 256, level 9"},
  };
  for (const auto& [flags, expected] : cases) {
    TarvikParameters p;
    EXPECT_EQ(parse(p, base + flags), expected) << flags;
  }
  // By default: the cores the process may run on (as a container or taskset
  // grants them), not the machine's.
  cpu_set_t saved, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &saved)) {
      CPU_SET(cpu, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  TarvikParameters confined;
  const std::string got = parse(confined, base);
  sched_setaffinity(0, sizeof saved, &saved);
  EXPECT_EQ(got, "threads 1, level 6");
}

TEST(ThreadFlags, SummaryAndHelpLinesOnlyAdded) {
  TarvikParameters plain, threaded;
  parse(plain, base);
  parse(threaded, base + "-threads 3 -gz_level 9");
  std::ostringstream a, b, help;
  plain.parameters_summary(a);
  threaded.parameters_summary(b);
  std::string expected = a.str();
  const std::string theta = std::string(53, ' ') + "theta: -1\n";
  expected.insert(expected.find(theta) + theta.size(),
                  std::string(51, ' ') + "threads: 3\n" + std::string(36, ' ') + "gzip compression level: 9\n");
  expected.replace(expected.find(base), base.size(), base + "-threads 3 -gz_level 9 ");
  EXPECT_EQ(b.str(), expected);
  EXPECT_EQ(a.str().find("threads"), std::string::npos);
  // The help screen's text as it was, then the further flags, these two among them.
  plain.parameters_help(help);
  const std::string last = ": output pvalues and effect size estimates for the simulated disease SNPs\n";
  const std::string added = help.str().substr(help.str().find(last) + last.size());
  EXPECT_EQ(added.rfind("\nFurther flags are:\n", 0), 0u) << added;
  EXPECT_NE(added.find("\n-threads <n>          "), std::string::npos) << added;
  EXPECT_NE(added.find("\n-gz_level <l>         "), std::string::npos) << added;
}
