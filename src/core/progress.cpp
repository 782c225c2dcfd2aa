#include "core/progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

ProgressClock clock_now = &std::chrono::steady_clock::now;

// A phase shorter than this leaves no line in a log.
double log_after_seconds() {
  static const double seconds = [] {
    const char* text = std::getenv("TARVIK_PROGRESS_AFTER_SECONDS");
    if (text == nullptr || *text == '\0') return 5.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return *end == '\0' && value >= 0 ? value : 5.0;
  }();
  return seconds;
}

// The phase whose line may be on the terminal; one at a time.
Progress* active = nullptr;

// Redraws at most this often; a phase shorter than this shows nothing.
constexpr std::chrono::milliseconds redraw_interval(250);

// Terminal controls (VT100): the line is drawn below the cursor's place, which
// is saved first and restored when the line is erased, so that console text
// written before and after continues where it was, even mid-line.
const char make_room[] = "\033D\033M";  // down and back up: scrolls if at the bottom
const char save_cursor[] = "\0337";
const char next_line[] = "\033D\r";
const char erase_line[] = "\r\033[K";
const char restore_cursor[] = "\0338";

void write_stderr(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t w = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (w <= 0) return;  // a console that cannot be written only loses the line
    done += static_cast<std::size_t>(w);
  }
}

// Terminal columns, or 0 when unknown.
int terminal_width() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace

void set_progress_clock(ProgressClock now) { clock_now = now; }

std::string clock_text(double seconds) {
  long s = seconds > 0 ? static_cast<long>(seconds) : 0;
  const long hours = s / 3600, minutes = s / 60 % 60;
  s %= 60;
  char text[32];
  if (hours > 0)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", hours, minutes, s);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", minutes, s);
  return text;
}

std::string progress_text(const std::string& what, long done, long total,
                          const std::string& detail, double elapsed_seconds) {
  const long percent = total > 0 ? static_cast<long>(100.0 * done / total) : 0;
  std::string text = what + ": " + std::to_string(percent) + "%";
  if (!detail.empty()) text += " (" + detail + ")";
  text += ", " + clock_text(elapsed_seconds) + " elapsed";
  if (done > 0 && total >= done)
    text += ", about " + clock_text(elapsed_seconds * (total - done) / done) + " left";
  return text;
}

Progress::Progress(std::string what_text, std::string unit_text)
    : mode(::isatty(STDERR_FILENO) == 1 ? Mode::terminal : Mode::log),
      exceptions_at_start(std::uncaught_exceptions()),
      what(std::move(what_text)),
      unit(std::move(unit_text)),
      start(clock_now()),
      last_draw(start),
      previous(active) {
  if (previous) previous->hide();
  active = this;
}

Progress::~Progress() {
  hide();
  active = previous;
  // The last line of a logged phase says it finished; one that ends by an
  // exception, or too soon to be logged, adds nothing.
  if (mode == Mode::log && std::uncaught_exceptions() == exceptions_at_start && last_total > 0) {
    const double elapsed = std::chrono::duration<double>(clock_now() - start).count();
    if (logged || elapsed > log_after_seconds()) log_line(last_total, last_total);
  }
}

void Progress::update(long done, long total) {
  if (mode == Mode::log) {
    last_done = done;
    last_total = total;
    // Integer work only until a tenth is passed: this runs once per unit.
    if (total <= 0 || done * 10 < next_tenth * total) return;
    next_tenth = done * 10 / total + 1;
    if (done >= total) return;  // 100% is the destructor's line
    const double elapsed = std::chrono::duration<double>(clock_now() - start).count();
    if (elapsed > log_after_seconds()) log_line(done, total);
    return;
  }
  const auto now = clock_now();
  if (now - last_draw < redraw_interval) return;
  last_draw = now;
  draw(done, total);
}

void Progress::log_line(long done, long total) {
  const double elapsed = std::chrono::duration<double>(clock_now() - start).count();
  const std::string shown_detail =
      !detail.empty() ? detail : std::to_string(done) + " of " + std::to_string(total) + " " + unit;
  write_stderr(progress_text(what, done, total, shown_detail, elapsed) + "\n");
  logged = true;
}

void Progress::draw(long done, long total) {
  const double elapsed = std::chrono::duration<double>(clock_now() - start).count();
  const std::string shown_detail =
      !detail.empty() ? detail : std::to_string(done) + " of " + std::to_string(total) + " " + unit;
  std::string line = progress_text(what, done, total, shown_detail, elapsed);
  // One line only: a wrapped line could not be erased in place.
  const int width = terminal_width();
  if (width > 1 && line.size() >= static_cast<std::size_t>(width)) line.resize(width - 1);
  std::string out;
  if (!shown) out = std::string(make_room) + save_cursor + next_line;
  out += erase_line + line;
  write_stderr(out);
  shown = true;
}

void Progress::hide() {
  if (!shown) return;
  write_stderr(std::string(erase_line) + restore_cursor);
  shown = false;
}

void Progress::hide_active() {
  if (active) active->hide();
}
