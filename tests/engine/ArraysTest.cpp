#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "container/engine/IntegerArray.h"
#include "container/engine/SFSHeadersArray.h"
#include "container/engine/SortedPtrArray.h"
#include "platform/rtl/Exception.h"

namespace zk {
namespace {

std::vector<int32_t> Values(const TIntegerArray& a) {
  return {a.Items().begin(), a.Items().end()};
}

TIntegerArray Make(std::initializer_list<int32_t> values) {
  TIntegerArray a;
  for (int32_t v : values) a.Add(v);
  return a;
}

template <class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "(nothing raised)";
}

// ---- growth rule ----

TEST(ArrayGrowth, GrowsByDoublingStepsUpToMaxDelta) {
  TIntegerArray a(0, 10, 100);
  EXPECT_EQ(a.Capacity(), 0);
  // Each step doubles first: 20, 40, 80, 100, 100.
  const int32_t expected[] = {20, 60, 140, 240, 340};
  int32_t seen = 0;
  for (int32_t i = 0; i < 340; ++i) {
    const int32_t before = a.Capacity();
    a.Add(i);
    if (a.Capacity() != before) {
      ASSERT_LT(seen, 5);
      EXPECT_EQ(a.Capacity(), expected[seen]) << "growth " << seen;
      ++seen;
    }
  }
  EXPECT_EQ(seen, 5);
  EXPECT_EQ(a.GrowBy(), 100);
  // A jump beyond the step takes the count itself.
  a.SetCount(1000);
  EXPECT_EQ(a.Capacity(), 1000);
}

TEST(ArrayGrowth, ShrinksOnlyWhenTheSlackExceedsTheShrinkStep) {
  TIntegerArray a(100, 10, 100);
  EXPECT_EQ(a.Capacity(), 100);
  a.SetCount(95);  // slack 5 <= 10: keeps its storage
  EXPECT_EQ(a.Capacity(), 100);
  EXPECT_EQ(a.ShrinkBy(), 10);
  a.SetCount(80);  // slack 20 > 10: exactly 80 slots, step doubles
  EXPECT_EQ(a.Capacity(), 80);
  EXPECT_EQ(a.ShrinkBy(), 20);
  a.SetCount(70);  // slack 10 <= 20
  EXPECT_EQ(a.Capacity(), 80);
  a.SetCount(0);  // released, steps kept
  EXPECT_EQ(a.Capacity(), 0);
  EXPECT_EQ(a.ItemCount(), 0);
  EXPECT_EQ(a.ShrinkBy(), 20);
  EXPECT_EQ(a.GrowBy(), 20);  // doubled once when the 100 slots were made
}

TEST(ArrayGrowth, RaisingWithinCapacityKeepsOldValuesAndNewSlotsAreZero) {
  // Delta 5: ten slots exactly, and a slack of 5 does not shrink them.
  TIntegerArray a(10, 5, 100);
  ASSERT_EQ(a.Capacity(), 10);
  std::iota(a.Items().begin(), a.Items().end(), 100);
  a.SetCount(5);
  a.SetCount(8);
  EXPECT_EQ(a.Capacity(), 10);
  EXPECT_EQ(a[5], 105);
  EXPECT_EQ(a[6], 106);
  EXPECT_EQ(a[7], 107);
  // Growing beyond the capacity re-allocates with zero slots.
  a.SetCount(0);
  a.SetCount(3);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{0, 0, 0}));
}

TEST(ArrayGrowth, ANegativeCountRaises) {
  TIntegerArray a;
  EXPECT_THROW(a.SetCount(-1), Exception);
  TSortedPtrArray<> p;
  EXPECT_THROW(p.SetCount(-1), Exception);
  TSFSHeadersArray h;
  EXPECT_THROW(h.SetCount(-1), Exception);
}

// ---- TIntegerArray ----

TEST(IntegerArray, InsertDeleteAndAppendBeyondTheCount) {
  TIntegerArray a = Make({1, 2, 3});
  a.Insert(0, 0);
  a.Insert(2, 9);
  a.Insert(100, 4);  // beyond the count appends
  EXPECT_EQ(Values(a), (std::vector<int32_t>{0, 1, 9, 2, 3, 4}));
  a.Delete(2);
  a.Delete(0);
  a.Delete(3);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{1, 2, 3}));
}

TEST(IntegerArray, BadIndicesRaiseInsteadOfTouchingMemory) {
  TIntegerArray a = Make({1, 2});
  EXPECT_THROW(a.Delete(2), Exception);
  EXPECT_THROW(a.Delete(-1), Exception);
  EXPECT_THROW(a.Insert(-1, 0), Exception);
  EXPECT_THROW(a.Move(0, 3), Exception);
  EXPECT_THROW(a.Move(2, 0), Exception);
  EXPECT_THROW((void)a[2], Exception);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{1, 2}));
}

TEST(IntegerArray, MoveFollowsInsertionPositions) {
  struct Case {
    int32_t From, To;
    std::vector<int32_t> Expected;
  };
  const Case cases[] = {
      {2, 2, {0, 1, 2, 3, 4, 5}},  // nothing
      {2, 3, {0, 1, 3, 2, 4, 5}},  // neighbours swap
      {3, 2, {0, 1, 3, 2, 4, 5}},
      {1, 4, {0, 2, 3, 1, 4, 5}},  // to ToIndex - 1, the rest moves down
      {0, 6, {1, 2, 3, 4, 5, 0}},  // to the end
      {4, 1, {0, 4, 1, 2, 3, 5}},  // to ToIndex, the rest moves up
      {5, 0, {5, 0, 1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    TIntegerArray a = Make({0, 1, 2, 3, 4, 5});
    a.Move(c.From, c.To);
    EXPECT_EQ(Values(a), c.Expected) << c.From << " -> " << c.To;
  }
}

TEST(IntegerArray, SortsBothWays) {
  TIntegerArray a = Make({3, 1, 2});
  a.Sort(false);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{3, 2, 1}));
  a.Sort(true);
  EXPECT_EQ(Values(a), (std::vector<int32_t>{1, 2, 3}));
  TIntegerArray one = Make({7});
  one.Sort(true);
  EXPECT_EQ(Values(one), (std::vector<int32_t>{7}));
}

TEST(IntegerArray, SortHandlesExtremesDuplicatesAndLargeInputs) {
  // Values whose difference overflows 32 bits still order correctly.
  TIntegerArray extremes = Make({INT32_MAX, INT32_MIN, 0, -1, INT32_MAX, 1, INT32_MIN});
  extremes.Sort(true);
  EXPECT_EQ(Values(extremes),
            (std::vector<int32_t>{INT32_MIN, INT32_MIN, -1, 0, 1, INT32_MAX, INT32_MAX}));

  std::mt19937 rng(7);
  for (int32_t n : {2, 3, 17, 1000, 100000}) {
    for (bool ascending : {true, false}) {
      TIntegerArray a;
      std::vector<int32_t> reference;
      for (int32_t i = 0; i < n; ++i) {
        const auto v = static_cast<int32_t>(rng() % 50);  // many duplicates
        a.Add(v);
        reference.push_back(v);
      }
      a.Sort(ascending);
      if (ascending) {
        std::sort(reference.begin(), reference.end());
      } else {
        std::sort(reference.begin(), reference.end(), std::greater<>());
      }
      EXPECT_EQ(Values(a), reference) << n << (ascending ? " up" : " down");
    }
  }
  // Already ordered, reversed and constant inputs.
  for (int kind = 0; kind < 3; ++kind) {
    TIntegerArray a;
    for (int32_t i = 0; i < 200000; ++i) a.Add(kind == 0 ? i : (kind == 1 ? -i : 5));
    a.Sort(true);
    EXPECT_TRUE(std::is_sorted(a.Items().begin(), a.Items().end())) << kind;
  }
}

// ---- TSortedPtrArray ----

struct THandle {
  int Id;
};

TEST(SortedPtrArray, EmptyArray) {
  TSortedPtrArray<THandle> a;
  EXPECT_EQ(a.FindPosition(5), 0);
  EXPECT_EQ(a.Find(5), nullptr);
  EXPECT_EQ(a.IndexOf(5), -1);
  EXPECT_EQ(MessageOf([&] { a.Delete(5); }), "TSortedPtrArray.Delete - no elements in array!");
}

TEST(SortedPtrArray, AddKeepsKeyOrderAndFindsByKey) {
  std::vector<THandle> handles(8);
  TSortedPtrArray<THandle> a(0, 10, 25);
  const int32_t keys[] = {50, 10, 70, 30, 0, 60, 20, 40};
  for (int i = 0; i < 8; ++i) {
    handles[static_cast<size_t>(i)].Id = keys[i];
    a.Add(keys[i], &handles[static_cast<size_t>(i)]);
  }
  ASSERT_EQ(a.ItemCount(), 8);
  for (int32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(a.Keys(i), i * 10);
    EXPECT_EQ(a.Items(i)->Id, i * 10);
  }
  EXPECT_EQ(a.Find(30)->Id, 30);
  EXPECT_EQ(a.Find(35), nullptr);
  EXPECT_EQ(a.IndexOf(70), 7);
  EXPECT_EQ(a.FindPosition(35), 4);
  EXPECT_EQ(a.FindPosition(-1), 0);
  EXPECT_EQ(a.FindPosition(99), 8);
}

TEST(SortedPtrArray, AddWithOneElementAndInsertAt) {
  int x = 0, y = 0, z = 0;
  TSortedPtrArray<int> a;
  a.Add(5, &x);
  a.Add(3, &y);  // below the only key: goes first
  EXPECT_EQ(a.Keys(0), 3);
  EXPECT_EQ(a.Items(1), &x);
  a.InsertAt(10, 9, &z);  // beyond the count appends
  EXPECT_EQ(a.Keys(2), 9);
  EXPECT_EQ(a.Items(2), &z);
  a.DeleteAt(0);
  EXPECT_EQ(a.Keys(0), 5);
  EXPECT_EQ(a.ItemCount(), 2);
}

TEST(SortedPtrArray, DeleteByKey) {
  int x = 0, y = 0;
  TSortedPtrArray<int> a;
  a.Add(1, &x);
  a.Add(2, &y);
  EXPECT_EQ(MessageOf([&] { a.Delete(7); }),
            "TSortedPtrArray.Delete - element not found, key = 7, itemCount = 2!");
  a.Delete(1);
  EXPECT_EQ(a.ItemCount(), 1);
  EXPECT_EQ(a.Items(0), &y);
  // A single element with another key stays where it is.
  EXPECT_EQ(MessageOf([&] { a.Delete(-3); }),
            "TSortedPtrArray.Delete - element not found, key = -3, itemCount = 1!");
  EXPECT_EQ(a.Find(2), &y);
  a.Delete(2);
  EXPECT_EQ(a.ItemCount(), 0);
}

TEST(SortedPtrArray, NewKeyCountsFromZero) {
  TSortedPtrArray<> a;
  EXPECT_EQ(a.LastKey(), -1);
  EXPECT_EQ(a.NewKey(), 0);
  EXPECT_EQ(a.NewKey(), 1);
  EXPECT_EQ(a.LastKey(), 1);
}

TEST(SortedPtrArray, StaysOrderedUnderRandomAddsAndDeletes) {
  std::mt19937 rng(11);
  TSortedPtrArray<> a(0, 10, 25);
  std::vector<int32_t> present;
  for (int step = 0; step < 5000; ++step) {
    const auto key = static_cast<int32_t>(rng() % 400);
    const bool there = std::binary_search(present.begin(), present.end(), key);
    if (there) {
      a.Delete(key);
      present.erase(std::lower_bound(present.begin(), present.end(), key));
    } else {
      a.Add(key, reinterpret_cast<void*>(static_cast<intptr_t>(key + 1)));
      present.insert(std::lower_bound(present.begin(), present.end(), key), key);
    }
  }
  ASSERT_EQ(a.ItemCount(), static_cast<int32_t>(present.size()));
  for (int32_t i = 0; i < a.ItemCount(); ++i) {
    EXPECT_EQ(a.Keys(i), present[static_cast<size_t>(i)]);
    EXPECT_EQ(a.Items(i), reinterpret_cast<void*>(static_cast<intptr_t>(a.Keys(i) + 1)));
  }
}

// ---- TSFSHeadersArray ----

TEST(SFSHeadersArray, StartsEmptyWithItsGrowthSteps) {
  TSFSHeadersArray h;
  EXPECT_EQ(h.ItemCount(), 0);
  EXPECT_EQ(h.GrowBy(), 100);
  EXPECT_EQ(h.MaxDelta(), 10000);
  EXPECT_EQ(h.FindPosition(0), 0);
  h.Add(TSFSHeaderRecord{{1, 2, 3, 4}}, 0);
  EXPECT_EQ(h.Capacity(), 200);
}

TEST(SFSHeadersArray, FindPositionGivesTheLastKeyAtOrBelow) {
  TSFSHeadersArray h;
  for (int64_t key : {0, 100, 200}) {
    h.Add(TSFSHeaderRecord{{static_cast<uint32_t>(key), 0, 0, 0}}, key);
  }
  struct Case {
    int64_t Key;
    int32_t Expected;
  };
  const Case cases[] = {{150, 1},
                        {200, 2},
                        {-5, 0},
                        {0, 0},
                        {99, 0},
                        {100, 1},
                        {(int64_t{1} << 32) + 7, 2},
                        {INT64_MIN, 0},
                        {INT64_MAX, 2}};
  for (const Case& c : cases) EXPECT_EQ(h.FindPosition(c.Key), c.Expected) << c.Key;

  // Keys compare signed: a negative first key is below zero.
  TSFSHeadersArray s;
  s.Add(TSFSHeaderRecord{}, -10);
  s.Add(TSFSHeaderRecord{}, int64_t{5} << 40);
  EXPECT_EQ(s.FindPosition(0), 0);
  EXPECT_EQ(s.FindPosition(int64_t{5} << 40), 1);
}

TEST(SFSHeadersArray, KeepsRecordsAsTheUserLaidThemOut) {
  struct TUserRecord {
    uint32_t A;
    uint16_t B, C;
    uint64_t D;
  };
  static_assert(sizeof(TUserRecord) == 16);
  TSFSHeadersArray h;
  h.Add(TUserRecord{7, 8, 9, 0x1122334455667788ull}, 128);
  const auto back = h.RecordAs<TUserRecord>(0);
  EXPECT_EQ(back.A, 7u);
  EXPECT_EQ(back.C, 9);
  EXPECT_EQ(back.D, 0x1122334455667788ull);
  EXPECT_EQ(h.Keys(0), 128);
  h.SetCount(3);  // new entries from fresh storage read zero
  EXPECT_EQ(h.Records(2).Words[3], 0u);
  h.Keys(2) = 500;
  h.SetRecord(2, TUserRecord{1, 2, 3, 4});
  EXPECT_EQ(h.Records(2).Words[0], 1u);
  EXPECT_EQ(h.FindPosition(600), 2);
  EXPECT_THROW((void)h.Records(3), Exception);
  h.SetCount(0);
  EXPECT_EQ(h.Capacity(), 0);
}

}  // namespace
}  // namespace zk
