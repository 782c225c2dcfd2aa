#pragma once
// Items made in order on a second thread while the calling thread uses them
// in the same order: item i is made by make(i, slot) into one slot of a small
// ring, and its slot is made again (item i + ring size) only once the caller
// has released item i. The items, and the order they are made in, are those
// of making them one by one on the calling thread; only the timing differs.
#include <condition_variable>
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
      : total(count), slots(ring), ready(ring, false), maker(std::move(make)) {
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
    made.wait(lock, [&] { return ready[index % slots.size()] || stopped_at <= index; });
    if (ready[index % slots.size()]) return &slots[index % slots.size()];
    if (error) std::rethrow_exception(error);
    return nullptr;
  }
  // Item `index` is used: its slot may take the item one ring later.
  void release(std::size_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ready[index % slots.size()] = false;
      released = index + 1;
    }
    freed.notify_all();
  }

 private:
  void work() {
    std::size_t i = 0;
    for (; i < total; ++i) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        freed.wait(lock, [&] { return stopping || i < released + slots.size(); });
        if (stopping) return;
      }
      bool more = false;
      std::exception_ptr failure;
      try {
        more = maker(i, slots[i % slots.size()]);
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (more) {
          ready[i % slots.size()] = true;
        } else {
          error = failure;
          stopped_at = i;
        }
      }
      made.notify_all();
      if (!more) return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    stopped_at = i;
    made.notify_all();
  }

  const std::size_t total;
  std::vector<Item> slots;
  std::vector<bool> ready;
  Make maker;
  std::mutex mutex;
  std::condition_variable made, freed;
  std::size_t released = 0;
  std::size_t stopped_at = static_cast<std::size_t>(-1);  // the first item that is not made
  std::exception_ptr error;                                // why it is not, if it failed
  bool stopping = false;
  std::thread thread;
};
