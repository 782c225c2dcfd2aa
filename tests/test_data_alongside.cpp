// The map read alongside the panel (several threads) against one after the
// other (one thread): the same console, the same summary file and the same
// status, for good inputs, a bad map, a bad panel, both bad, and a warning.
#include <boost/filesystem.hpp>

#include "test_support.hpp"

namespace fs = boost::filesystem;

using namespace testing_support;

TEST(Inputs, MapReadAlongsideThePanelReportsAsOneAfterTheOther) {
  TempDir dir;
  write_file(dir.file("good.map"), "position COMBINED_rate(cM/Mb) Genetic_Map(cM)\n1 0 0\n5 1 0.5\n9 1 1\n");
  write_file(dir.file("bad.map"), "position COMBINED_rate(cM/Mb) Genetic_Map(cM)\n1 0 0\n5 x 0.5\n");
  write_file(dir.file("good.hap"), "0 1 1 0\n1 1 0 0\n0 0 1 1\n");
  write_file(dir.file("bad.hap"), "0 1 1 0\n1 1 0\n0 0 1 1\n");
  write_file(dir.file("short.hap"), "0 1 1 0\n1 1 0 0\n");
  write_file(dir.file("panel.legend"), "rs pos X0 X1\nrs2 2 A G\nrs4 4 C T\nrs6 6 A C\n");
  const struct {
    const char *map, *hap;
    int status;
  } rows[] = {{"good.map", "good.hap", 0}, {"bad.map", "good.hap", 1}, {"good.map", "bad.hap", 1},
              {"bad.map", "bad.hap", 1}, {"good.map", "short.hap", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.map) + " " + row.hap);
    std::string said[2], summary[2];
    for (int t = 0; t < 2; ++t) {
      // The same command in its own directory, but for the thread count, which
      // the parameter summary names.
      const std::string threads = std::to_string(t + 1), work = dir.file("t" + threads);
      fs::create_directories(work);
      const CommandResult r = run_tarvik(std::string("-h ../") + row.hap + " -l ../panel.legend -m ../" + row.map +
                                             " -n 2 1 -dl 4 1 1.5 2.25 -nrs -o run -threads " + threads,
                                         work);
      EXPECT_EQ(r.status, row.status) << r.output << r.error;
      said[t] = r.output + r.error;
      summary[t] = read_file(work + "/run.summary");
      for (std::string* text : {&said[t], &summary[t]}) {
        *text = without_run_time(*text);
        text->erase(text->find(" -threads " + threads), 10 + threads.size());
        const std::size_t line = text->find("threads: " + threads + "\n");
        ASSERT_NE(line, std::string::npos) << *text;
        text->erase(text->rfind('\n', line) + 1, text->find('\n', line) - text->rfind('\n', line));
      }
    }
    EXPECT_EQ(said[1], said[0]);
    EXPECT_EQ(summary[1], summary[0]);
  }
}
