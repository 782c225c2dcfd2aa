#pragma once
// A progress line for the long phases of a run (simulating, writing): one line
// on standard error, redrawn in place a few times per second, shown only when
// standard error is an interactive terminal. It never reaches standard output
// or the summary file, so piped runs and the summary file stay unchanged.
#include <chrono>
#include <string>

// "0:07", "12:05", "1:02:03": a duration in whole seconds, rounded down.
std::string clock_text(double seconds);

// The text of a progress line: "<what>: <percent>% (<detail>), <elapsed>
// elapsed, about <remaining> left". The remaining time assumes the rest goes
// at the pace so far; before any unit is done there is no estimate yet.
std::string progress_text(const std::string& what, long done, long total,
                          const std::string& detail, double elapsed_seconds);

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

  bool enabled;
  bool shown = false;
  std::string what;
  std::string unit;
  std::string detail;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point last_draw;
  Progress* previous;  // the phase that was active before this one
};
