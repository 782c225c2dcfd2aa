#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "params/progress.hpp"

namespace {

TEST(ProgressText, PercentDetailElapsedAndTheRemainingTimeAtThePaceSoFar) {
  EXPECT_EQ(progress_text("Simulating", 1000, 4000, "1000 of 4000 individuals", 12.9),
            "Simulating: 25% (1000 of 4000 individuals), 0:12 elapsed, about 0:38 left");
  EXPECT_EQ(progress_text("Writing", 0, 70, "file 1 of 7", 0.2), "Writing: 0% (file 1 of 7), 0:00 elapsed");
  EXPECT_EQ(progress_text("Writing", 7, 7, "", 3725), "Writing: 100%, 1:02:05 elapsed, about 0:00 left");
  EXPECT_EQ(clock_text(59.99) + " " + clock_text(61) + " " + clock_text(36000), "0:59 1:01 10:00:00");
}

// Runs a phase long enough to be drawn with standard error on `fd`, and
// returns what reached the other end.
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
  char buffer[512];
  const ssize_t n = ::read(read_end, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

TEST(Progress, DrawsOnlyOnATerminalAndRestoresTheCursorWhenThePhaseEnds) {
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

}  // namespace
