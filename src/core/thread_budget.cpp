#include "core/thread_budget.hpp"

#include <algorithm>

ThreadBudget::ThreadBudget(int threads) : free(std::max(threads, 1) - 1) {}

ThreadBudget::Lease ThreadBudget::take(int wanted, int keep) {
  std::lock_guard<std::mutex> lock(mutex);
  const int granted = std::max(std::min(wanted, free - keep), 0);
  free -= granted;
  return Lease(this, granted);
}

ThreadBudget::Lease& ThreadBudget::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    give_back();
    budget = other.budget;
    threads = other.threads;
    other.threads = 0;
  }
  return *this;
}

void ThreadBudget::Lease::give_back(int unused) {
  unused = std::min(unused, threads);
  if (budget == nullptr || unused <= 0) return;
  std::lock_guard<std::mutex> lock(budget->mutex);
  budget->free += unused;
  threads -= unused;
}
