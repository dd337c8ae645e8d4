#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/core/core.h"

namespace {

template <typename T>
std::vector<int> Ids(const core::ObjectPool<T>& pool) {
  std::vector<int> ids;
  for (int id = pool.First(); id >= 0; id = pool.Next(id)) ids.push_back(id);
  return ids;
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

TEST(ObjectPool, IdsAreSlotIndicesAndTheLastReleasedIsReusedFirst) {
  core::ObjectPool<int> pool;
  EXPECT_EQ(pool.Capacity(), 1);
  EXPECT_EQ(pool.Add(10), 0);
  EXPECT_EQ(pool.Add(11), 1);
  EXPECT_EQ(pool.Add(12), 2);
  EXPECT_EQ(pool.Release(1), 0);
  EXPECT_EQ(pool.Release(0), 0);
  EXPECT_EQ(pool.Add(20), 0);
  EXPECT_EQ(pool.Add(21), 1);
  EXPECT_EQ(pool.Add(22), 3);  // then the fresh slot left from growing to 4
  EXPECT_EQ(pool.Add(23), 4);  // grows to 8
  EXPECT_EQ(pool.Capacity(), 8);
  EXPECT_EQ(*pool.Get(0), 20);
  EXPECT_EQ(*pool.Get(1), 21);
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
  EXPECT_EQ(pool.Add("f"), 3);  // reuses the slot released last...
  EXPECT_EQ(pool.Add("g"), 1);
  // ...but iterates in the order of adding.
  EXPECT_EQ(Ids(pool), (std::vector<int>{0, 2, 4, 3, 1}));
  EXPECT_EQ(Items(pool), (std::vector<std::string>{"a", "c", "e", "f", "g"}));
  pool.Release(0);
  pool.Release(1);
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
  std::vector<int> released;  // model: free ids, most recent last
  int next_fresh = 0;
  std::mt19937 rng(3);
  for (int step = 0; step < 5000; ++step) {
    if (order.empty() || rng() % 3 != 0) {
      int expected = released.empty() ? next_fresh++ : released.back();
      if (!released.empty()) released.pop_back();
      ASSERT_EQ(pool.Add(step), expected);
      order.push_back(expected);
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
