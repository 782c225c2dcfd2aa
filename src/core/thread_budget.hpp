#pragma once
// The threads a run may keep busy (-threads N). The thread that runs the
// program holds one of them; work that can run on threads of its own
// (reading inputs ahead, drawing ahead, formatting output blocks) first takes
// a lease on some of the rest, and is done on the calling thread when none is
// left. So however the phases of a run overlap, at most N threads work at
// once. The leases decide only who does the work, never what it gives.
#include <mutex>

class ThreadBudget {
 public:
  // A share of the budget, given back when the lease ends.
  class Lease {
   public:
    Lease() = default;
    Lease(Lease&& other) noexcept : budget(other.budget), threads(other.threads) { other.threads = 0; }
    Lease& operator=(Lease&& other) noexcept;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { give_back(); }
    int count() const { return threads; }
    // Returns `unused` of the leased threads early (threads that could not be started).
    void give_back(int unused);

   private:
    friend class ThreadBudget;
    Lease(ThreadBudget* owner, int count) : budget(owner), threads(count) {}
    void give_back() { give_back(threads); }
    ThreadBudget* budget = nullptr;
    int threads = 0;
  };

  // `threads` counts the calling thread: a budget of 1 leases nothing.
  explicit ThreadBudget(int threads);
  ThreadBudget(const ThreadBudget&) = delete;
  ThreadBudget& operator=(const ThreadBudget&) = delete;

  // A lease on up to `wanted` threads beyond the caller's; fewer, or none,
  // when the rest of the budget is leased. `keep` threads stay free for
  // work that comes next.
  Lease take(int wanted, int keep = 0);

 private:
  int free;  // threads not leased
  std::mutex mutex;
};
