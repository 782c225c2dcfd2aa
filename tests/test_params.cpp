// Command-line parsing and the progress line. The parameter summary, the summary file and the output files
// are pinned by the golden run of the driver tests.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/ordered.hpp"
#include "core/progress.hpp"
#include "params/tarvik_parameters.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

TEST(Parse, CommandLinesThatStop) {
  const std::string base = "tarvik -h H -l L -m M -o run ";
  const std::string stop = "Error encountered, program terminated: ";
  const std::string missing = "ERROR!!! Must specify a value for flag: ";
  const std::string integer = "expects an integer within 32 bits but got ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      // "-help" wins even when required flags are missing, and stops the scan.
      {"tarvik", "help"},
      {"tarvik -n 1 1 -help -n", "help"},
      {"tarvik -H H -l L -m M -o x", missing + "-h"},
      {base + "-theta", missing + "-theta"},
      {base + "-dl 1000 1 1.5", missing + "-dl"},
      {base + "-n ten 5", stop + "flag -n " + integer + "\"ten\".\n"},
      {base + "-n 5 3000000000", stop + "flag -n " + integer + "\"3000000000\".\n"},
      {base + "-Ne 1e4x", stop + "flag -Ne expects a number but got \"1e4x\".\n"},
      {base + "-theta nan", stop + "flag -theta expects a number but got \"nan\".\n"},
      {base + "-n -1 5", stop + "flag -n: the numbers of controls and cases must not be negative but got -1 and 5.\n"},
      {base + "-Ne -3", stop + "flag -Ne: the effective population size must not be negative but got -3.\n"},
      {base + "-dl 1000 1 -1 2", stop + "flag -dl: relative risks must not be negative but got -1 and 2.\n"},
      {base + "-dl 1000 2 1 2", stop + "Disease allele must be 0 or 1 but got 2 in DiseaseLocus. \n"},
      {base + "-seed -1", stop + "flag -seed expects an integer from 0 to 4294967295 but got \"-1\".\n"},
      {base + "-seed 4294967296", stop + "flag -seed expects an integer from 0 to 4294967295 but got \"4294967296\".\n"},
      {base + "-seed 5 -nrs", stop + "flags -seed and -nrs both fix the random seed; give only one of them.\n"},
      {base + "-threads 0", stop + "flag -threads expects an integer from 1 to 256 but got \"0\".\n"},
      {base + "-threads 257", stop + "flag -threads expects an integer from 1 to 256 but got \"257\".\n"},
      {base + "-gz_level 0", stop + "flag -gz_level expects an integer from 1 to 9 but got \"0\".\n"},
      {base + "-threads", missing + "-threads"},
      {base + "-keep k.txt", stop + "flag -keep needs -copy_panel_only: only individuals copied from the panel alone "
                                    "can be simulated without the others.\n"},
      {base + "-copy_panel_only -keep", missing + "-keep"},
  };
  for (const auto& [line, expected] : cases) {
    TarvikParameters p;
    EXPECT_EQ(error_of([&] { parse(p, line); }), expected) << line;
  }
}

TEST(Parse, ValuesAndFlagBookkeeping) {
  TempDir dir;  // the reversed risk table of allele 0 is pinned by the golden run of the driver tests
  TarvikParameters p;
  testing::internal::CaptureStdout();
  parse(p, "tarvik -h H -l L -m M -o " + dir.file("run") +
               " -dl 3000 1 1.5 2.25 1000 0 2 4 -n 10 20 -int -5 -7 -foo -foo -dl 3000 0 9 9 -dl -nrs -Ne 40000");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: Ne needs to be set\n");  // too large: reported, kept
  EXPECT_EQ(p.Ne, 40000);
  ASSERT_EQ(p.dl.size(), 2u);
  // The first locus given at a position stays; later loci there are dropped.
  EXPECT_EQ(p.dl.at(3000).disease_allele, 1);
  EXPECT_EQ(p.dl.at(3000).rr, (std::vector<double>{1.0, 1.5, 2.25}));
  EXPECT_EQ(p.upper, 500000000);
  EXPECT_EQ(p.unrecognised_flags, (std::set<std::string>{"-5", "-7", "-foo"}));
}

TEST(Parse, ThreadFlagsDefaultToTheAllowedCores) {
  const std::string base = "tarvik -h H -l L -m M -o run ";
  // By default: the cores the process may run on (as a container or taskset grants them), not the machine's;
  // -gz_level 6.
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
  parse(confined, base);
  sched_setaffinity(0, sizeof saved, &saved);
  EXPECT_EQ(std::make_pair(confined.threads, confined.gz_level), std::make_pair(1, 6));
  TarvikParameters widest;
  parse(widest, base + "-threads 256 -gz_level 9");
  EXPECT_EQ(std::make_pair(widest.threads, widest.gz_level), std::make_pair(256, 9));
  std::ostringstream summary;  // the lines of both, which only these flags add
  widest.parameters_summary(summary);
  EXPECT_TRUE(contains(summary.str(), "threads: 256\n" + std::string(36, ' ') + "gzip compression level: 9\n"));
}


// Runs a phase long enough to be drawn with standard error on `fd`, and returns what reached the other end.
std::string phase_output(int fd, int read_end) {
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  {
    Progress progress("Simulating", "individuals");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    progress.update(3, 4);
  }
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  // A terminal hands on what was written a little later: read until nothing more comes for 200 ms.
  std::string shown;
  char buffer[512];
  ssize_t n = 0;
  for (pollfd p{read_end, POLLIN, 0}; ::poll(&p, 1, 200) > 0 && (n = ::read(read_end, buffer, sizeof buffer)) > 0;)
    shown.append(buffer, static_cast<std::size_t>(n));
  return shown;
}

// The percentage, the detail, the time elapsed and the time left at the pace so far; drawn only on a terminal,
// with the cursor restored when the phase ends.
TEST(Progress, TextAndDrawingOnlyOnATerminal) {
  EXPECT_EQ(progress_text("Simulating", 1000, 4000, "1000 of 4000 individuals", 12.9),
            "Simulating: 25% (1000 of 4000 individuals), 0:12 elapsed, about 0:38 left");
  EXPECT_EQ(progress_text("Writing", 0, 70, "file 1 of 7", 0.2), "Writing: 0% (file 1 of 7), 0:00 elapsed");
  EXPECT_EQ(progress_text("Writing", 7, 7, "", 3725), "Writing: 100%, 1:02:05 elapsed, about 0:00 left");
  EXPECT_EQ(clock_text(59.99) + " " + clock_text(61) + " " + clock_text(36000), "0:59 1:01 10:00:00");
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_NONBLOCK), 0);
  EXPECT_EQ(phase_output(pipe_ends[1], pipe_ends[0]), "");  // not a terminal: nothing at all

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  const std::string shown = phase_output(terminal, master);
  EXPECT_NE(shown.find("\0337"), std::string::npos) << "cursor saved before drawing";
  EXPECT_NE(shown.find("Simulating: 75% (3 of 4 individuals), 0:00 elapsed, about 0:00 left"),
            std::string::npos) << shown;
  const std::string erase_and_restore = "\r\033[K\0338";
  EXPECT_EQ(shown.substr(shown.size() - erase_and_restore.size()), erase_and_restore);
  for (int fd : {pipe_ends[0], pipe_ends[1], terminal, master}) ::close(fd);
}

// A clock the test moves by hand.
std::chrono::steady_clock::time_point fake_now;
std::chrono::steady_clock::time_point fake_clock() { return fake_now; }

// What a phase of 1000 units, one every `step_ms` of the fake clock, leaves on standard error when that is a
// pipe; the phase throws after `throw_at` units when that is below 1000.
std::string logged_phase(int step_ms, int throw_at = 1000) {
  int ends[2];
  if (::pipe2(ends, O_NONBLOCK) != 0) return "no pipe";
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(ends[1], STDERR_FILENO);
  set_progress_clock(&fake_clock);
  fake_now = std::chrono::steady_clock::time_point();
  try {
    Progress progress("Simulating", "individuals");
    for (int i = 0; i < 1000; ++i) {
      fake_now = std::chrono::steady_clock::time_point() + std::chrono::milliseconds(i * step_ms);
      if (i == throw_at) throw std::runtime_error("stop");
      progress.update(i, 1000);
    }
  } catch (const std::runtime_error&) {
  }
  set_progress_clock(&std::chrono::steady_clock::now);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(ends[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(ends[0]);
  return text;
}

// Off a terminal (a batch job's log): plain lines at each tenth of a phase once it has run for more than 5
// seconds, and its end; a phase that stays under 5 seconds, or fails, adds no line of its own.
TEST(Progress, PlainLinesInALogAtEachTenthOfALongPhase) {
  const auto line = [](int done, int seconds, int left) {
    return "Simulating: " + std::to_string(done / 10) + "% (" + std::to_string(done) +
           " of 1000 individuals), 0:0" + std::to_string(seconds) + " elapsed, about 0:0" + std::to_string(left) +
           " left\n";
  };
  // 10 ms a unit: 5 s at 50%, which is not yet more than 5 s.
  EXPECT_EQ(logged_phase(10), line(600, 6, 4) + line(700, 7, 3) + line(800, 8, 2) + line(900, 9, 1) +
                                  "Simulating: 100% (1000 of 1000 individuals), 0:09 elapsed, about 0:00 left\n");
  EXPECT_EQ(logged_phase(4), "");  // 4 s in all
  EXPECT_EQ(logged_phase(10, 750), line(600, 6, 4) + line(700, 7, 3));
}

// A whole run with standard error in a file: its progress lines land there, and standard output, the summary
// file and the output files are what a run without them gives. (The 5 seconds are set to 0 so that a small run
// shows its lines on any machine.)
TEST(Progress, ARunsLinesReachStandardErrorOnly) {
  TempDir dir;
  const std::string args = example_panel() + "-int 1000000 2000000 -n 300 200 -seed 5 -dl 1066806 1 2 4 ";
  const CommandResult quiet = run_tarvik(args + "-o quiet/run", dir.path());
  const CommandResult logged = run_command("TARVIK_PROGRESS_AFTER_SECONDS=0 '" + tarvik_binary() + "' " + args +
                                           "-o logged/run", dir.path());
  ASSERT_EQ(quiet.status, 0) << quiet.output << quiet.error;
  ASSERT_EQ(logged.status, 0) << logged.output << logged.error;
  EXPECT_EQ(quiet.error, "");
  for (const char* expected : {"Simulating: 10% (50 of 500 individuals), 0:", "Simulating: 100% (500 of 500",
                               "Writing: 100% ("})
    EXPECT_TRUE(contains(logged.error, expected)) << expected << " in\n" << logged.error;
  const auto same_words = [](std::string text, const std::string& stem) {
    for (std::size_t at; (at = text.find(stem)) != std::string::npos;) text.replace(at, stem.size(), "STEM");
    return without_run_time(text);
  };
  EXPECT_EQ(same_words(logged.output, "logged"), same_words(quiet.output, "quiet"));
  const auto quiet_files = snapshot(dir.path() + "/quiet"), logged_files = snapshot(dir.path() + "/logged");
  ASSERT_EQ(quiet_files.size(), logged_files.size());
  for (const auto& [name, bytes] : quiet_files) {
    ASSERT_TRUE(logged_files.count(name)) << name;
    if (name.find("summary") != std::string::npos)
      EXPECT_EQ(same_words(logged_files.at(name), "logged"), same_words(bytes, "quiet")) << name;
    else
      EXPECT_EQ(logged_files.at(name), bytes) << name;
  }
}

}  // namespace

// The pipeline primitive, on no thread, one and three: items arrive in order and unchanged, never more than the
// ring ahead of the last one released; one stream's items are made in index order; the items may end, and a
// failure reaches the taker at its item.
TEST(Ordered, ItemsArriveInOrderWithinTheRingAndAFailureReachesItsItem) {
  constexpr std::size_t count = 300, ring = 4;
  constexpr std::size_t all = count + 1, none = std::size_t(-1);  // every item and one past; no item
  struct Case {
    std::size_t failing;  // the item whose making throws
    std::size_t ending;   // the first item that does not exist
    std::size_t used;     // items the caller asks for before letting go
  };
  using Items = Ordered<std::vector<std::size_t>>;
  for (const Items::Order order : {Items::Order::one_at_a_time, Items::Order::any})
    for (int threads : {1, 2, 4})
      for (const Case c : {Case{none, count, all}, Case{37, count, all}, Case{0, count, all},
                           Case{none, count, 5}, Case{none, 50, all}}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, failing " + std::to_string(c.failing) + ", ending " +
                     std::to_string(c.ending) + ", used " + std::to_string(c.used));
        ThreadBudget budget(threads);
        std::atomic<std::size_t> released{0}, beyond_ring{0}, out_of_turn{0}, last_made{0};
        {
          Items items(
              budget.take(threads), ring,
              [&](std::size_t i, std::vector<std::size_t>& slot, int) {
                if (i >= released.load() + ring) ++beyond_ring;
                if (i > 0 && last_made.exchange(i) != i - 1) ++out_of_turn;
                if (i % 7 == 3) std::this_thread::sleep_for(std::chrono::microseconds(200));
                if (i == c.failing) throw std::runtime_error("item " + std::to_string(i));
                if (i == c.ending) return false;
                slot.assign(3, i);
                return true;
              },
              order, count);
          EXPECT_EQ(items.threads(), threads - 1);
          for (std::size_t i = 0; i < c.used; ++i) {
            const std::vector<std::size_t>* item = nullptr;
            std::string error;
            try {
              item = items.take(i);
            } catch (const std::runtime_error& e) {
              error = e.what();
            }
            if (i == c.failing || i >= c.ending) {
              EXPECT_EQ(error, i == c.failing ? "item " + std::to_string(i) : "");
              EXPECT_EQ(item, nullptr);
              break;
            }
            ASSERT_NE(item, nullptr);
            ASSERT_EQ(*item, std::vector<std::size_t>(3, i));
            released = i + 1;
            items.release(i);
          }
        }  // the destructor stops and joins the threads, whatever was left unused
        EXPECT_EQ(beyond_ring.load(), 0u);
        if (order == Items::Order::one_at_a_time) {
          EXPECT_EQ(out_of_turn.load(), 0u);
        }
        EXPECT_EQ(budget.take(threads).count(), threads - 1);  // every lease given back
      }
}
