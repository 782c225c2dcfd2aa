// Items made ahead on a second thread (individuals' draws, blocks of a
// decompressed file): they arrive in order and unchanged, the thread never
// runs more than its ring ahead, the items may end, and a failure reaches the
// caller at the item that failed, the thread joined either way.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "params/ahead.hpp"

TEST(Ahead, ItemsArriveInOrderWithinTheRingAndAFailureReachesItsItem) {
  constexpr std::size_t count = 300, ring = 4;
  constexpr std::size_t all = count + 1, none = std::size_t(-1);  // every item and one past; no item
  struct Case {
    std::size_t failing;  // the item whose making throws
    std::size_t ending;   // the first item that does not exist
    std::size_t used;     // items the caller asks for before letting go
  };
  for (const Case c : {Case{none, count, all}, Case{37, count, all}, Case{0, count, all}, Case{none, count, 5},
                       Case{none, 50, all}}) {
    SCOPED_TRACE("failing " + std::to_string(c.failing) + ", ending " + std::to_string(c.ending) + ", used " +
                 std::to_string(c.used));
    std::atomic<std::size_t> released{0}, beyond_ring{0};
    {
      Ahead<std::vector<std::size_t>> ahead(
          ring,
          [&](std::size_t i, std::vector<std::size_t>& slot) {
            if (i >= released.load() + ring) ++beyond_ring;
            if (i == c.failing) throw std::runtime_error("item " + std::to_string(i));
            if (i == c.ending) return false;
            slot.assign(3, i);
            return true;
          },
          count);
      for (std::size_t i = 0; i < c.used; ++i) {
        if (i == c.failing) {
          EXPECT_THROW(
              try { ahead.take(i); } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "item " + std::to_string(i));
                throw;
              },
              std::runtime_error);
          break;
        }
        const std::vector<std::size_t>* item = ahead.take(i);
        if (i >= c.ending) {
          EXPECT_EQ(item, nullptr);
          break;
        }
        ASSERT_NE(item, nullptr);
        ASSERT_EQ(*item, std::vector<std::size_t>(3, i));
        released = i + 1;
        ahead.release(i);
      }
    }  // the destructor stops and joins the thread, whatever was left unused
    EXPECT_EQ(beyond_ring.load(), 0u);
  }
}
