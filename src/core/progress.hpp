#pragma once
// Progress of the long phases of a run (simulating, writing), on standard
// error only: never on standard output or in the summary file, so their bytes
// stay the same however the run is watched.
//
// On a terminal, one line redrawn in place a few times per second. Elsewhere
// (a batch job's log, a file), where a redrawn line would be a mess of control
// characters, a plain line at each 10% of a phase once it has run for more
// than 5 seconds (TARVIK_PROGRESS_AFTER_SECONDS changes that), and a last one
// at 100%: short phases leave nothing, long ones a readable trace.
#include <chrono>
#include <string>

// "0:07", "12:05", "1:02:03": a duration in whole seconds, rounded down.
std::string clock_text(double seconds);

// The text of a progress line: "<what>: <percent>% (<detail>), <elapsed>
// elapsed, about <remaining> left". The remaining time assumes the rest goes
// at the pace so far; before any unit is done there is no estimate yet.
std::string progress_text(const std::string& what, long done, long total,
                          const std::string& detail, double elapsed_seconds);

// The clock of every phase; tests replace it to run a long phase in no time.
using ProgressClock = std::chrono::steady_clock::time_point (*)();
void set_progress_clock(ProgressClock now);

class Progress {
 public:
  // Starts a phase: the line shows `what`, and "<done> of <total> <unit>" as
  // its detail while no other detail was set.
  Progress(std::string what, std::string unit);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Records that `done` of `total` units are done; redraws the line when the
  // last drawing is old enough. Cheap enough to call once per unit.
  void update(long done, long total);
  // Replaces the detail, for example "file 3 of 7".
  void set_detail(std::string text) { detail = std::move(text); }

  // Erases the line of the phase in progress, if one is shown, so that other
  // console text can be written; the next update draws it again.
  static void hide_active();

 private:
  void draw(long done, long total);
  void hide();
  void log_line(long done, long total);

  enum class Mode { terminal, log };
  Mode mode;
  bool shown = false;
  // Log lines: the next tenth of the phase that prints, the last counts seen,
  // whether a line was printed, and the exceptions in flight at the start (a
  // phase left by an exception did not reach 100%).
  long next_tenth = 1;
  long last_done = 0;
  long last_total = 0;
  bool logged = false;
  int exceptions_at_start;
  std::string what;
  std::string unit;
  std::string detail;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point last_draw;
  Progress* previous;  // the phase that was active before this one
};
