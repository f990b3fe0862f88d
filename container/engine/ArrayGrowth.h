// The growth rule shared by the engine's arrays (TIntegerArray,
// TSortedPtrArray, TSFSHeadersArray): a count in use, a capacity, and growth
// and shrink steps that double up to a maximum. It owns no storage; each array
// resizes its own vectors to the capacity this rule decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zk {

class TArrayGrowth {
 public:
  // Both steps start at Delta. Negative arguments count as 0.
  TArrayGrowth(int32_t Delta, int32_t MaxDelta);

  // Applies the rule for a new count N (raises for a negative N; Owner names
  // the array in the message) and resizes every vector given to the new
  // capacity when it changes. New slots read as zero; slots between the old
  // count and the old capacity keep their values.
  template <class... V>
  void SetCount(int32_t N, const char* Owner, std::vector<V>&... Storage) {
    const int32_t oldCapacity = FCapacity;
    Plan(N, Owner);
    if (FCapacity == oldCapacity) return;
    if (FCapacity == 0) {
      (std::vector<V>().swap(Storage), ...);
    } else {
      (Storage.resize(static_cast<size_t>(FCapacity)), ...);
      if (FCapacity < oldCapacity) (Storage.shrink_to_fit(), ...);
    }
  }

  int32_t ItemCount() const { return FItemCount; }
  int32_t Capacity() const { return FCapacity; }
  int32_t GrowBy() const { return FGrowBy; }
  int32_t ShrinkBy() const { return FShrinkBy; }
  int32_t MaxDelta() const { return FMaxDelta; }

 private:
  // Updates the count, capacity and steps for a new count N.
  void Plan(int32_t N, const char* Owner);

  int32_t FItemCount = 0;
  int32_t FCapacity = 0;
  int32_t FGrowBy;
  int32_t FShrinkBy;
  int32_t FMaxDelta;
};

}  // namespace zk
