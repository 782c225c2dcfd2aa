#include "params/output_set.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "params/errors.hpp"

namespace fs = boost::filesystem;

namespace {

const int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};
const char* const signal_names[] = {"SIGINT", "SIGTERM", "SIGHUP"};
constexpr int nsignals = 3;

// A run has at most nine output files; the bound keeps the signal handler's
// list a plain array that is never reallocated under it.
constexpr int max_pending = 64;

struct Pending {
  fs::path final_name;
  bool closed = false;
};

// The main program's view of the set.
bool set_open = false;
std::vector<Pending> pending;
struct sigaction previous[nsignals];
bool installed[nsignals] = {};

// The signal handler's view: C strings built before the files exist. They
// change only while the handled signals are blocked, so the handler never
// sees them half updated.
char* temp_paths[max_pending];
volatile sig_atomic_t temp_count = 0;
volatile sig_atomic_t committed = 0;
char* log_path = nullptr;

// Blocks the handled signals for its lifetime.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : handled_signals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &saved);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved;
};

std::string temp_name_of(const fs::path& final_name) {
  const std::string leaf = "." + final_name.filename().string() + ".tmp." + std::to_string(::getpid());
  return (final_name.parent_path() / leaf).string();
}

// Forgets the pending entry i (signals held).
void drop(std::size_t i) {
  std::free(temp_paths[i]);
  for (std::size_t j = i + 1; j < pending.size(); ++j) temp_paths[j - 1] = temp_paths[j];
  pending.erase(pending.begin() + static_cast<long>(i));
  temp_count = static_cast<sig_atomic_t>(pending.size());
}

// Async-signal-safe output: write(2) only.
void write_text(int fd, const char* text) {
  std::size_t n = std::strlen(text);
  while (n > 0) {
    const ssize_t w = ::write(fd, text, n);
    if (w <= 0) {
      if (w < 0 && errno == EINTR) continue;
      return;
    }
    text += w;
    n -= static_cast<std::size_t>(w);
  }
}

void report_interruption(const char* name) {
  const char* what = committed ? " after the output files were written.\n"
                               : ": no output file of this run was kept; the files of earlier runs are "
                                 "unchanged.\n";
  if (log_path != nullptr) {
    const int fd = ::open(log_path, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      write_text(fd, "\nInterrupted by ");
      write_text(fd, name);
      write_text(fd, what);
      ::close(fd);
    }
  }
  write_text(STDERR_FILENO, "tarvik: interrupted by ");
  write_text(STDERR_FILENO, name);
  write_text(STDERR_FILENO, what);
}

extern "C" void on_signal(int sig) {
  for (sig_atomic_t i = 0; i < temp_count; ++i) ::unlink(temp_paths[i]);
  for (int k = 0; k < nsignals; ++k)
    if (handled_signals[k] == sig) report_interruption(signal_names[k]);
  // Dying of the signal itself tells the parent (a shell loop, make) that
  // the run was interrupted rather than failed.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(sig, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

}  // namespace

void open_output_set(const std::string& log_file) {
  if (set_open) close_output_set();
  set_open = true;
  committed = 0;
  log_path = ::strdup(log_file.c_str());
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : handled_signals) sigaddset(&action.sa_mask, sig);
  for (int k = 0; k < nsignals; ++k) {
    installed[k] = false;
    if (::sigaction(handled_signals[k], nullptr, &previous[k]) != 0) continue;
    if (previous[k].sa_handler == SIG_IGN) continue;
    installed[k] = ::sigaction(handled_signals[k], &action, nullptr) == 0;
  }
}

bool output_set_open() { return set_open; }

fs::path pending_output_name(const fs::path& final_name) {
  struct stat info;
  if (::lstat(final_name.string().c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw badfilename::reading(final_name.string(), "can't open file.");
  const std::string temp = temp_name_of(final_name);
  for (Pending& entry : pending)
    if (entry.final_name == final_name) {
      entry.closed = false;
      return temp;
    }
  if (pending.size() >= static_cast<std::size_t>(max_pending))
    throw GenericErrorException("more than " + std::to_string(max_pending) + " output files in one run.\n");
  SignalsHeld held;
  temp_paths[pending.size()] = ::strdup(temp.c_str());
  pending.push_back({final_name, false});
  temp_count = static_cast<sig_atomic_t>(pending.size());
  return temp;
}

void pending_output_closed(const fs::path& final_name) {
  for (Pending& entry : pending)
    if (entry.final_name == final_name) entry.closed = true;
}

std::vector<fs::path> commit_output_set() {
  SignalsHeld held;
  for (const Pending& entry : pending)
    if (!entry.closed)
      throw badfilename::writing(entry.final_name.string(),
                                 "the file was not finished; no output file was renamed.");
  std::vector<fs::path> done;
  while (!pending.empty()) {
    const fs::path final_name = pending.front().final_name;
    if (::rename(temp_paths[0], final_name.string().c_str()) != 0)
      throw badfilename::writing(
          final_name.string(),
          std::string("the finished file could not be renamed into place (") + std::strerror(errno) + ").");
    drop(0);
    done.push_back(final_name);
  }
  committed = 1;
  return done;
}

int discard_output_set() {
  SignalsHeld held;
  const int count = static_cast<int>(pending.size());
  while (!pending.empty()) {
    ::unlink(temp_paths[0]);
    drop(0);
  }
  return count;
}

void close_output_set() {
  discard_output_set();
  SignalsHeld held;
  for (int k = 0; k < nsignals; ++k)
    if (installed[k]) ::sigaction(handled_signals[k], &previous[k], nullptr);
  std::fill(installed, installed + nsignals, false);
  std::free(log_path);
  log_path = nullptr;
  set_open = false;
}
