// TIntegerArray: the engine's growable list of signed 32-bit integers (page
// numbers, index permutations, dirty flags). It owns its storage and grows
// and shrinks by the rule of TArrayGrowth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "container/engine/ArrayGrowth.h"

namespace zk {

class TIntegerArray {
 public:
  // The engine uses (0, 10, 100) for long-lived lists and (n, 1, 10) for
  // scratch lists, which the caller then clears.
  explicit TIntegerArray(int32_t Count = 0, int32_t Delta = 10, int32_t MaxDelta = 100);

  int32_t ItemCount() const { return FGrowth.ItemCount(); }
  int32_t Capacity() const { return FGrowth.Capacity(); }
  int32_t GrowBy() const { return FGrowth.GrowBy(); }
  int32_t ShrinkBy() const { return FGrowth.ShrinkBy(); }
  int32_t MaxDelta() const { return FGrowth.MaxDelta(); }

  // The elements in use. Raising the count within the capacity exposes what
  // the slots held before; callers that need zeros clear them.
  std::span<int32_t> Items() { return {FItems.data(), static_cast<size_t>(ItemCount())}; }
  std::span<const int32_t> Items() const {
    return {FItems.data(), static_cast<size_t>(ItemCount())};
  }
  // Element access; an index outside 0..ItemCount-1 raises.
  int32_t& operator[](int32_t Index) { return FItems[Checked(Index, "Items")]; }
  int32_t operator[](int32_t Index) const { return FItems[Checked(Index, "Items")]; }

  void SetCount(int32_t N);
  void Clear() { SetCount(0); }
  void Add(int32_t Value);
  // Stores Value at Index, shifting the elements from Index up by one; an
  // Index at or beyond the count appends.
  void Insert(int32_t Index, int32_t Value);
  void Delete(int32_t Index);
  // ToIndex is an insertion position counted before the move (0..ItemCount).
  // Neighbours swap; otherwise the element moves to ToIndex (ToIndex - 1 when
  // it lies above FromIndex) and the elements in between close up.
  void Move(int32_t FromIndex, int32_t ToIndex);
  // In-place quicksort, ascending or descending.
  void Sort(bool Ascending);

 private:
  size_t Checked(int32_t Index, const char* Operation) const;
  void QuickSort(int32_t Lo, int32_t Hi, bool Ascending);

  TArrayGrowth FGrowth;
  std::vector<int32_t> FItems;  // Capacity slots
};

}  // namespace zk
