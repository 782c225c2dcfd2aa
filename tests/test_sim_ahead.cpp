// Individuals drawn ahead on a second thread: the items arrive in order and
// unchanged, the thread never runs more than its ring ahead, and a failure
// reaches the caller at the item that failed, the thread joined either way.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/ahead.hpp"

TEST(Ahead, ItemsArriveInOrderWithinTheRingAndAFailureReachesItsItem) {
  constexpr std::size_t count = 300, ring = 4;
  struct Case {
    std::size_t failing;  // the item whose making throws (count: none)
    std::size_t used;     // items the caller takes before letting go
  };
  for (const Case c : {Case{count, count}, Case{37, count}, Case{0, count}, Case{count, 5}}) {
    SCOPED_TRACE("failing " + std::to_string(c.failing) + ", used " + std::to_string(c.used));
    std::atomic<std::size_t> released{0}, beyond_ring{0};
    {
      Ahead<std::vector<std::size_t>> ahead(count, ring, [&](std::size_t i, std::vector<std::size_t>& slot) {
        if (i >= released.load() + ring) ++beyond_ring;
        if (i == c.failing) throw std::runtime_error("item " + std::to_string(i));
        slot.assign(3, i);
      });
      for (std::size_t i = 0; i < c.used; ++i) {
        if (i == c.failing) {
          try {
            ahead.take(i);
            ADD_FAILURE() << "no failure at item " << i;
          } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "item " + std::to_string(i));
          }
          break;
        }
        ASSERT_EQ(ahead.take(i), std::vector<std::size_t>(3, i));
        released = i + 1;
        ahead.release(i);
      }
    }  // the destructor stops and joins the thread, whatever was left unused
    EXPECT_EQ(beyond_ring.load(), 0u);
  }
}
