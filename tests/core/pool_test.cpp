#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/core/core.h"

namespace {

template <typename T>
std::vector<int> Ids(const core::ObjectPool<T>& pool) {
  std::vector<int> ids;
  for (int id = pool.First(); id >= 0; id = pool.Next(id)) ids.push_back(id);
  return ids;
}

// The slot indices of the ids, in iteration order.
template <typename T>
std::vector<int> Indices(const core::ObjectPool<T>& pool) {
  std::vector<int> indices;
  for (int id : Ids(pool)) indices.push_back(core::PoolIndex(id));
  return indices;
}

template <typename T>
std::vector<T> Items(const core::ObjectPool<T>& pool) {
  std::vector<T> items;
  for (const T& item : pool) items.push_back(item);
  return items;
}

// ---------------------------------------------------------------------------
// ObjectPool
// ---------------------------------------------------------------------------

TEST(ObjectPool, FirstUsesGiveSlotIndicesAndTheLastReleasedSlotIsReusedFirst) {
  core::ObjectPool<int> pool;
  EXPECT_EQ(pool.Capacity(), 1);
  EXPECT_EQ(pool.Add(10), 0);
  EXPECT_EQ(pool.Add(11), 1);
  EXPECT_EQ(pool.Add(12), 2);
  EXPECT_EQ(pool.Release(1), 0);
  EXPECT_EQ(pool.Release(0), 0);
  int a = pool.Add(20);
  int b = pool.Add(21);
  EXPECT_EQ(core::PoolIndex(a), 0);
  EXPECT_EQ(core::PoolIndex(b), 1);
  EXPECT_EQ(pool.Add(22), 3);  // then the fresh slot left from growing to 4
  EXPECT_EQ(pool.Add(23), 4);  // grows to 8
  EXPECT_EQ(pool.Capacity(), 8);
  EXPECT_EQ(*pool.Get(a), 20);
  EXPECT_EQ(*pool.Get(b), 21);
  EXPECT_EQ(*pool.Get(2), 12);
}

TEST(ObjectPool, GrowsByDoubling) {
  core::ObjectPool<int> pool;
  std::vector<int> capacities;
  for (int i = 0; i < 17; ++i) {
    ASSERT_EQ(pool.Add(i * 3), i);
    capacities.push_back(pool.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{1, 2, 4, 4, 8, 8, 8, 8, 16, 16, 16, 16, 16, 16, 16, 16, 32}));
  EXPECT_EQ(pool.Count(), 17);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(*pool.Get(i), i * 3);  // items survive the moves
}

TEST(ObjectPool, IterationFollowsInsertionOrderAcrossReleases) {
  core::ObjectPool<std::string> pool;
  for (const char* name : {"a", "b", "c", "d", "e"}) pool.Add(name);
  pool.Release(1);
  pool.Release(3);
  EXPECT_EQ(Ids(pool), (std::vector<int>{0, 2, 4}));
  int f = pool.Add("f");
  int g = pool.Add("g");
  EXPECT_EQ(core::PoolIndex(f), 3);  // reuses the slot released last...
  EXPECT_EQ(core::PoolIndex(g), 1);
  // ...but iterates in the order of adding.
  EXPECT_EQ(Indices(pool), (std::vector<int>{0, 2, 4, 3, 1}));
  EXPECT_EQ(Ids(pool), (std::vector<int>{0, 2, 4, f, g}));
  EXPECT_EQ(Items(pool), (std::vector<std::string>{"a", "c", "e", "f", "g"}));
  pool.Release(0);
  pool.Release(g);
  EXPECT_EQ(Items(pool), (std::vector<std::string>{"c", "e", "f"}));
}

TEST(ObjectPool, InvalidIdsAreRefused) {
  core::ObjectPool<int> pool;
  int id = pool.Add(5);
  EXPECT_EQ(pool.Release(-1), -1);
  EXPECT_EQ(pool.Release(1), -1);
  EXPECT_EQ(pool.Release(1000), -1);
  EXPECT_EQ(pool.Get(-1), nullptr);
  EXPECT_EQ(pool.Get(7), nullptr);
  EXPECT_EQ(pool.Release(id), 0);
  EXPECT_EQ(pool.Release(id), -1);  // twice
  EXPECT_EQ(pool.Get(id), nullptr);
  EXPECT_FALSE(pool.IsUsed(id));
  EXPECT_EQ(pool.Next(id), -1);
  EXPECT_EQ(pool.Count(), 0);
  EXPECT_EQ(pool.First(), -1);
}

TEST(ObjectPool, ReleasingTheCurrentItemWhileIterating) {
  core::ObjectPool<int> pool;
  for (int i = 0; i < 10; ++i) pool.Add(i);
  std::vector<int> seen;
  for (auto it = pool.begin(); it != pool.end(); ++it) {
    seen.push_back(*it);
    if (*it % 2 == 0) pool.Release(it.id());
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(Items(pool), (std::vector<int>{1, 3, 5, 7, 9}));
}

TEST(ObjectPool, OwnsItsItems) {
  auto tracker = std::make_shared<int>(0);
  {
    core::ObjectPool<std::shared_ptr<int>> pool;
    for (int i = 0; i < 6; ++i) pool.Add(tracker);
    EXPECT_EQ(tracker.use_count(), 7);
    pool.Release(2);
    EXPECT_EQ(tracker.use_count(), 6);
    core::ObjectPool<std::shared_ptr<int>> moved(std::move(pool));
    EXPECT_EQ(pool.Count(), 0);
    EXPECT_EQ(moved.Count(), 5);
    EXPECT_EQ(pool.Add(tracker), 0);  // a moved-from pool starts over
    EXPECT_EQ(tracker.use_count(), 7);
    moved.Clear();
    EXPECT_EQ(tracker.use_count(), 2);
    EXPECT_EQ(moved.Add(tracker), 0);  // ids restart after Clear
    EXPECT_EQ(moved.Add(tracker), 1);
  }
  EXPECT_EQ(tracker.use_count(), 1);

  core::ObjectPool<std::unique_ptr<std::string>> owners;
  int id = owners.Emplace(std::make_unique<std::string>("deck"));
  EXPECT_EQ(**owners.Get(id), "deck");
}

TEST(ObjectPool, MatchesASimpleModelUnderRandomUse) {
  core::ObjectPool<int> pool;
  std::vector<int> order;     // model: ids in insertion order
  std::vector<int> released;  // model: released ids, most recent last
  int next_fresh = 0;
  std::mt19937 rng(3);
  for (int step = 0; step < 5000; ++step) {
    if (order.empty() || rng() % 3 != 0) {
      int id = pool.Add(step);
      if (released.empty()) {
        ASSERT_EQ(id, next_fresh++);
      } else {
        // The slot released last, under an id of its own.
        ASSERT_EQ(core::PoolIndex(id), core::PoolIndex(released.back()));
        ASSERT_NE(id, released.back());
        released.pop_back();
      }
      order.push_back(id);
    } else {
      size_t pick = rng() % order.size();
      ASSERT_EQ(pool.Release(order[pick]), 0);
      released.push_back(order[pick]);
      order.erase(order.begin() + static_cast<long>(pick));
    }
    ASSERT_EQ(pool.Count(), static_cast<int>(order.size()));
  }
  EXPECT_EQ(Ids(pool), order);
}

TEST(ObjectPool, StaleIdsFailEveryOperation) {
  core::ObjectPool<int> pool;
  int first = pool.Add(1);
  int stale = pool.Add(2);
  int last = pool.Add(3);
  ASSERT_EQ(pool.Release(stale), 0);
  struct Case {
    const char* when;
    bool reuse;  // another item takes the slot first
  };
  for (const Case& c : {Case{"released", false}, Case{"slot reused", true}}) {
    SCOPED_TRACE(c.when);
    int fresh = c.reuse ? pool.Add(4) : -1;
    if (c.reuse) {
      ASSERT_EQ(core::PoolIndex(fresh), core::PoolIndex(stale));
      ASSERT_NE(fresh, stale);
    }
    const int count = pool.Count();
    EXPECT_EQ(pool.Get(stale), nullptr);
    EXPECT_EQ(std::as_const(pool).Get(stale), nullptr);
    EXPECT_FALSE(pool.IsUsed(stale));
    EXPECT_EQ(pool.Next(stale), -1);
    EXPECT_EQ(pool.Release(stale), -1);
    EXPECT_EQ(pool.Count(), count);
    std::vector<int> expected = {first, last};
    if (c.reuse) expected.push_back(fresh);
    EXPECT_EQ(Ids(pool), expected);
    if (c.reuse) {
      EXPECT_EQ(*pool.Get(fresh), 4);  // untouched by the stale release
      EXPECT_EQ(pool.Release(fresh), 0);
    }
  }
}

// Clear() starts the ids over; ReleaseAll() keeps the old ones dead while
// handing slots out in ascending order again.
TEST(ObjectPool, ReleaseAllKeepsOldIdsDeadAndRestartsTheSlotOrder) {
  core::ObjectPool<std::string> pool;
  std::vector<int> old;
  for (int i = 0; i < 5; ++i) old.push_back(pool.Add(std::to_string(i)));
  ASSERT_EQ(pool.Release(old[1]), 0);
  pool.ReleaseAll();
  EXPECT_EQ(pool.Count(), 0);
  EXPECT_EQ(pool.First(), -1);
  for (int i = 0; i < 5; ++i) {
    int fresh = pool.Add("new");
    EXPECT_EQ(core::PoolIndex(fresh), i);
    EXPECT_NE(fresh, old[static_cast<size_t>(i)]);
  }
  for (int id : old) {
    EXPECT_EQ(pool.Get(id), nullptr);
    EXPECT_EQ(pool.Release(id), -1);
  }
  EXPECT_EQ(pool.Count(), 5);
  pool.Clear();
  EXPECT_EQ(pool.Add("again"), 0);
}

TEST(ObjectPool, GenerationsWrapWithoutNegativeOrRepeatedIds) {
  core::ObjectPool<int> pool;
  std::set<int> seen;
  int id = pool.Add(0);
  seen.insert(id);
  // Every generation of one slot gives a distinct non-negative id.
  for (int use = 1; use < core::kPoolGenerations; ++use) {
    ASSERT_EQ(pool.Release(id), 0);
    int next = pool.Add(use);
    ASSERT_GE(next, 0);
    ASSERT_TRUE(seen.insert(next).second) << next;
    ASSERT_EQ(pool.Get(id), nullptr);
    id = next;
  }
  // Only after that many reuses does the first id come round again.
  ASSERT_EQ(pool.Release(id), 0);
  EXPECT_EQ(pool.Add(0), 0);
}

TEST(ObjectPool, IdsAtTheTopOfTheIndexSpaceStayNonNegative) {
  core::ObjectPool<char> pool;
  int top = -1;
  for (int i = 0; i < core::kPoolMaxSlots; ++i) {
    top = pool.Add('x');
    if (top != i) FAIL() << "add " << i << " gave " << top;
  }
  // No room left: the pool refuses rather than let an index reach the
  // generation bits.
  EXPECT_EQ(pool.Add('y'), -1);
  EXPECT_EQ(pool.Count(), core::kPoolMaxSlots);
  int highest = top;
  for (int use = 1; use < core::kPoolGenerations; ++use) {
    ASSERT_EQ(pool.Release(top), 0);
    top = pool.Add('z');
    ASSERT_GE(top, 0);
    highest = std::max(highest, top);
  }
  EXPECT_EQ(highest, INT_MAX);  // the last generation of the last slot
  EXPECT_EQ(core::PoolIndex(-1), -1);
}

// ---------------------------------------------------------------------------
// GrowableArray
// ---------------------------------------------------------------------------

TEST(GrowableArray, CapacityOneThenDoubling) {
  core::GrowableArray<int*> array;
  EXPECT_EQ(array.Capacity(), 0);
  int values[9] = {};
  std::vector<int> capacities;
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(array.Add(&values[i]), i);
    capacities.push_back(array.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{1, 2, 4, 4, 8, 8, 8, 8, 16}));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(array[i], &values[i]);
}

TEST(GrowableArray, RemoveInsertFindKeepOrder) {
  core::GrowableArray<std::string> array;
  for (const char* s : {"a", "b", "c", "d"}) array.Add(s);
  EXPECT_EQ(array.Find("c"), 2);
  EXPECT_EQ(array.Find("z"), -1);
  EXPECT_EQ(array.Remove("b"), 0);
  EXPECT_EQ(array.Remove("b"), -1);
  EXPECT_EQ(array.RemoveAt(5), -1);
  EXPECT_EQ(array.RemoveAt(-1), -1);
  EXPECT_EQ(array.Insert(0, "first"), 0);
  EXPECT_EQ(array.Insert(2, "mid"), 0);
  EXPECT_EQ(array.Insert(array.Size(), "last"), 0);
  EXPECT_EQ(array.Insert(99, "no"), -1);
  std::vector<std::string> seen(array.begin(), array.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "a", "mid", "c", "d", "last"}));
  EXPECT_EQ(array.At(6), nullptr);
  EXPECT_EQ(*array.At(5), "last");
  EXPECT_EQ(array.Back(), "last");
  array.Truncate(2);
  EXPECT_EQ(array.Size(), 2);
  EXPECT_EQ(array.Capacity(), 8);
  array.Clear();
  EXPECT_TRUE(array.Empty());
}

TEST(GrowableArray, OwnsMovedItems) {
  auto tracker = std::make_shared<int>(1);
  {
    core::GrowableArray<std::shared_ptr<int>> array;
    for (int i = 0; i < 5; ++i) array.Add(tracker);
    array.RemoveAt(0);
    EXPECT_EQ(tracker.use_count(), 5);
    core::GrowableArray<std::shared_ptr<int>> other;
    other = std::move(array);
    EXPECT_EQ(array.Size(), 0);
    EXPECT_EQ(other.Size(), 4);
    EXPECT_EQ(tracker.use_count(), 5);
  }
  EXPECT_EQ(tracker.use_count(), 1);
}

}  // namespace
