#pragma once
// Items made in order on a second thread while the calling thread uses them
// in the same order: item i is made by make(i, slot) into one slot of a small
// ring, and its slot is made again (item i + ring size) only once the caller
// has released item i. The items, and the order they are made in, are those
// of making them one by one on the calling thread; only the timing differs.
#include <condition_variable>
#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

template <class Item>
class Ahead {
 public:
  // Makes item `index` in `slot` and returns true, or returns false when the
  // items end before `index`.
  using Make = std::function<bool(std::size_t index, Item& slot)>;

  // Starts the thread that makes items 0 .. count - 1 (fewer if make says
  // they end); throws std::system_error when no thread can be started.
  Ahead(std::size_t ring, Make make, std::size_t count = static_cast<std::size_t>(-1))
      : total(count), slots(ring), maker(std::move(make)) {
    thread = std::thread(&Ahead::work, this);
  }
  // Stops the thread and joins it, whether or not every item was used.
  ~Ahead() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    freed.notify_all();
    thread.join();
  }
  Ahead(const Ahead&) = delete;
  Ahead& operator=(const Ahead&) = delete;

  // Item `index` once made, or nullptr when the items ended before it;
  // rethrows what making it threw.
  Item* take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex);
    if (index >= made_count && !stopped) {
      // Waits for a few items at once, so that the maker, busy when the
      // caller has to wait, wakes it once per few items.
      wake_when = std::min(index + 1 + slots.size() / 2, total);
      taker_waiting = true;
      made.wait(lock, [&] { return made_count >= wake_when || stopped; });
      taker_waiting = false;
    }
    if (index < made_count) return &slots[index % slots.size()];
    if (error) std::rethrow_exception(error);
    return nullptr;
  }
  // Item `index` is used: its slot may take the item one ring later.
  void release(std::size_t index) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      released = index + 1;
      wake = maker_waiting;
    }
    if (wake) freed.notify_one();
  }

 private:
  void work() {
    std::size_t i = 0;
    bool more = true;
    std::exception_ptr failure;
    for (; i < total && more; ++i) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        maker_waiting = true;
        freed.wait(lock, [&] { return stopping || i < released + slots.size(); });
        maker_waiting = false;
        if (stopping) return;
      }
      try {
        more = maker(i, slots[i % slots.size()]);
      } catch (...) {
        failure = std::current_exception();
        more = false;
      }
      if (!more) break;
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex);
        made_count = i + 1;
        wake = taker_waiting && made_count >= wake_when;
      }
      if (wake) made.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      error = failure;
      stopped = true;
    }
    made.notify_one();
  }

  const std::size_t total;
  std::vector<Item> slots;
  Make maker;
  std::mutex mutex;
  std::condition_variable made, freed;
  std::size_t made_count = 0;  // items 0 .. made_count - 1 are made
  std::size_t released = 0;    // items 0 .. released - 1 are used
  std::size_t wake_when = 0;   // the made_count the waiting caller wakes at
  bool taker_waiting = false, maker_waiting = false;
  bool stopped = false;        // no item past made_count will be made
  std::exception_ptr error;    // why, if making the next one failed
  bool stopping = false;
  std::thread thread;
};
