#include "io/output_set.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/errors.hpp"

namespace fs = boost::filesystem;

namespace {

const int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};
const char* const signal_names[] = {"SIGINT", "SIGTERM", "SIGHUP"};
constexpr int nsignals = 3;

// A run has at most nine output files; the bound keeps the signal handler's
// list a plain array that is never reallocated under it.
constexpr int max_slots = 64;

struct Pending {
  fs::path final_name;
  int slot;  // in temp_paths
  bool closed = false;
};

// The main program's view of the set.
std::mutex set_mutex;
bool set_open = false;
std::vector<Pending> pending;
struct sigaction previous[nsignals];
bool installed[nsignals] = {};
double last_commit_seconds = 0;

// The signal handler's view: the temporary names, each published before its
// file exists and emptied once the file is renamed or removed. A name stays
// allocated until the handlers are gone, so a handler running on any thread
// never reads freed memory.
std::atomic<char*> temp_paths[max_slots];
char* owned_paths[max_slots];  // the same names, for freeing
std::atomic<int> slots_used{0};
std::atomic<bool> committed{false};
std::atomic<char*> log_path{nullptr};

// Blocks the handled signals in this thread for its lifetime, so that a
// commit is never cut in half by the clean-up.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : handled_signals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &saved);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved;
};

std::string temp_name_of(const fs::path& final_name) {
  const std::string leaf = "." + final_name.filename().string() + ".tmp." + std::to_string(::getpid());
  return (final_name.parent_path() / leaf).string();
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
  if (const char* log = log_path.load()) {
    const int fd = ::open(log, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
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
  const int used = slots_used.load();
  for (int i = 0; i < used; ++i)
    if (const char* temp = temp_paths[i].load()) ::unlink(temp);
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
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

// Takes the name of a renamed or removed file out of the handler's list.
void release(const Pending& entry) { temp_paths[entry.slot].store(nullptr); }

}  // namespace

void open_output_set(const std::string& log_file) {
  if (output_set_open()) close_output_set();
  std::lock_guard<std::mutex> lock(set_mutex);
  set_open = true;
  committed = false;
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

bool output_set_open() {
  std::lock_guard<std::mutex> lock(set_mutex);
  return set_open;
}

fs::path pending_output_name(const fs::path& final_name) {
  struct stat info;
  if (::lstat(final_name.string().c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw FileError::reading(final_name.string(), "can't open file.");
  const std::string temp = temp_name_of(final_name);
  std::lock_guard<std::mutex> lock(set_mutex);
  for (Pending& entry : pending)
    if (entry.final_name == final_name) {
      entry.closed = false;
      return temp;
    }
  const int slot = slots_used.load();
  if (slot >= max_slots)
    throw RunError("more than " + std::to_string(max_slots) + " output files in one run.\n");
  owned_paths[slot] = ::strdup(temp.c_str());
  temp_paths[slot].store(owned_paths[slot]);
  slots_used.store(slot + 1);
  pending.push_back({final_name, slot});
  return temp;
}

void pending_output_closed(const fs::path& final_name) {
  std::lock_guard<std::mutex> lock(set_mutex);
  for (Pending& entry : pending)
    if (entry.final_name == final_name) entry.closed = true;
}

std::vector<fs::path> commit_output_set() {
  const auto start = std::chrono::steady_clock::now();
  SignalsHeld held;
  std::lock_guard<std::mutex> lock(set_mutex);
  for (const Pending& entry : pending)
    if (!entry.closed)
      throw FileError::writing(entry.final_name.string(),
                                 "the file was not finished; no output file was renamed.");
  std::vector<fs::path> done;
  while (!pending.empty()) {
    const Pending& entry = pending.front();
    const std::string final_name = entry.final_name.string();
    if (::rename(temp_paths[entry.slot].load(), final_name.c_str()) != 0)
      throw FileError::writing(final_name, std::string("the finished file could not be renamed into place (") +
                                                 std::strerror(errno) + ").");
    release(entry);
    done.push_back(entry.final_name);
    pending.erase(pending.begin());
  }
  committed = true;
  last_commit_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return done;
}

double output_set_commit_seconds() {
  std::lock_guard<std::mutex> lock(set_mutex);
  return last_commit_seconds;
}

int discard_output_set() {
  SignalsHeld held;
  std::lock_guard<std::mutex> lock(set_mutex);
  const int count = static_cast<int>(pending.size());
  for (const Pending& entry : pending) {
    ::unlink(temp_paths[entry.slot].load());
    release(entry);
  }
  pending.clear();
  return count;
}

void close_output_set() {
  discard_output_set();
  SignalsHeld held;
  std::lock_guard<std::mutex> lock(set_mutex);
  for (int k = 0; k < nsignals; ++k)
    if (installed[k]) ::sigaction(handled_signals[k], &previous[k], nullptr);
  std::fill(installed, installed + nsignals, false);
  // No handler is left that could read the names.
  for (int i = 0; i < slots_used.load(); ++i) {
    temp_paths[i].store(nullptr);
    std::free(owned_paths[i]);
  }
  slots_used = 0;
  std::free(log_path.exchange(nullptr));
  set_open = false;
}
