#pragma once
// The program's one pipeline: items made in index order and used in the same
// order by the thread that owns the pipeline (the taker). Item i is made into
// slot i % ring, and its slot takes item i + ring only once the taker has
// released item i, so the ring bounds the memory. The items are made by the
// threads of a lease from the run's thread budget and by the taker itself,
// which makes an item rather than wait for one that nobody has started: with
// no thread at all, the items are made one by one on the taker, as a plain
// loop would make them.
//
// Order::any lets several makers work at once on different items (output
// blocks, each formatted on its own). Order::one_at_a_time makes the items
// strictly one after another in index order, whoever makes them, for items
// cut from one stream (a decompressor, a random number generator).
//
// The first failure in index order wins: taking the item that failed
// rethrows what making it threw, and no later item is handed out. The
// destructor stops and joins every thread, whether or not the items were all
// used.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/thread_budget.hpp"

template <class Item>
class Ordered {
 public:
  // Makes item `index` in `slot` and returns true, or returns false when the
  // items end before `index`. `maker` is 0 on the taker and 1 .. threads on
  // the pipeline's own threads, for scratch memory kept per maker.
  using Make = std::function<bool(std::size_t index, Item& slot, int maker)>;
  enum class Order { any, one_at_a_time };
  static constexpr std::size_t no_end = static_cast<std::size_t>(-1);

  // Starts the threads of the lease that can be started (the others go back
  // to the budget); items 0 .. count - 1 are made, fewer if make says they end.
  Ordered(ThreadBudget::Lease threads, std::size_t ring, Make make_item, Order make_order,
          std::size_t count = no_end)
      : total(count), items(std::max<std::size_t>(ring, 1)), state(items.size()), make(std::move(make_item)),
        order(make_order), lease(std::move(threads)) {
    int started = 0;
    try {
      for (; started < lease.count(); ++started) pool.emplace_back(&Ordered::work, this, started + 1);
    } catch (const std::system_error&) {
      lease.give_back(lease.count() - started);  // no thread to spare: the taker does more
    }
  }
  ~Ordered() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    freed.notify_all();
    for (std::thread& t : pool) t.join();
  }
  Ordered(const Ordered&) = delete;
  Ordered& operator=(const Ordered&) = delete;

  // Item `index` once made, or nullptr when the items ended before it;
  // rethrows what making it (or an item before it) threw.
  Item* take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      const Slot& slot = state[index % items.size()];
      if (slot.ready && slot.index == index) return &items[index % items.size()];
      if (index >= end || index >= total) {
        if (index >= end && end_error) std::rethrow_exception(end_error);
        return nullptr;
      }
      if (claimable() && (order == Order::any || next <= index)) {
        make_next(lock, 0);
        continue;
      }
      // Items cut from one stream come in order: waking for a few at once
      // spares a wake-up per item.
      wake_at = order == Order::any ? index
                                    : std::min({index + items.size() / 2, released + items.size() - 1, total - 1});
      taker_waiting = true;
      made.wait(lock);
      taker_waiting = false;
    }
  }
  // Item `index` is used: its slot may take the item one ring later.
  void release(std::size_t index) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      state[index % items.size()].ready = false;
      released = std::max(released, index + 1);
      wake = makers_waiting > 0;
    }
    if (wake) freed.notify_all();
  }
  // Threads that make items besides the taker.
  int threads() const { return static_cast<int>(pool.size()); }

 private:
  struct Slot {
    std::size_t index = no_end;
    bool ready = false;
  };

  bool claimable() const {
    return !stopping && next < total && next < end && next < released + items.size();
  }

  // Claims the next item and makes it; `lock` holds `mutex` on entry and on
  // return, and is released while the item is made.
  void make_next(std::unique_lock<std::mutex>& lock, int maker) {
    if (order == Order::any) return claim_and_make(lock, maker);
    // The claim is made under the sequence lock, so that items are made in
    // the order they are claimed.
    lock.unlock();
    std::lock_guard<std::mutex> in_turn(sequence);
    lock.lock();
    if (claimable()) claim_and_make(lock, maker);
  }

  void claim_and_make(std::unique_lock<std::mutex>& lock, int maker) {
    const std::size_t i = next++;
    Item& item = items[i % items.size()];
    lock.unlock();
    bool more = false;
    std::exception_ptr error;
    try {
      more = make(i, item, maker);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (more) {
      state[i % items.size()] = {i, true};
    } else if (i < end) {
      end = i;
      end_error = error;
    }
    if (taker_waiting && (!more || i >= wake_at)) made.notify_one();
  }

  void work(int maker) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      ++makers_waiting;
      freed.wait(lock, [this] { return stopping || next >= total || next >= end || claimable(); });
      --makers_waiting;
      if (!claimable()) return;
      make_next(lock, maker);
    }
  }

  const std::size_t total;
  std::vector<Item> items;
  std::vector<Slot> state;
  Make make;
  const Order order;
  std::mutex mutex, sequence;  // when both are held, sequence was taken first
  std::condition_variable made, freed;
  std::size_t next = 0;      // the next item to claim
  std::size_t released = 0;  // items 0 .. released - 1 are used
  std::size_t end = no_end;  // the first item not handed out: the items ended or failed there
  std::exception_ptr end_error;
  std::size_t wake_at = 0;
  bool taker_waiting = false;
  int makers_waiting = 0;
  bool stopping = false;
  ThreadBudget::Lease lease;
  std::vector<std::thread> pool;
};
