// TSFSHeadersArray: 64-bit keys mapped to 16-byte records (four 32-bit
// words) that the array never interprets; the compressed block stream keeps
// its block headers and their offsets in one. Keys are appended in ascending
// order by the user; the array searches them by halving and never sorts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "container/engine/ArrayGrowth.h"

namespace zk {

struct TSFSHeaderRecord {
  uint32_t Words[4];
};
static_assert(sizeof(TSFSHeaderRecord) == 16);

class TSFSHeadersArray {
 public:
  // Delta 100, MaxDelta 10000, no elements.
  TSFSHeadersArray();

  int32_t ItemCount() const { return FGrowth.ItemCount(); }
  int32_t Capacity() const { return FGrowth.Capacity(); }
  int32_t GrowBy() const { return FGrowth.GrowBy(); }
  int32_t ShrinkBy() const { return FGrowth.ShrinkBy(); }
  int32_t MaxDelta() const { return FGrowth.MaxDelta(); }

  // Element access (0..ItemCount-1; other indices raise). Raising the count
  // within the capacity exposes what the slots held before.
  TSFSHeaderRecord& Records(int32_t Index) { return FRecords[Checked(Index, "Records")]; }
  const TSFSHeaderRecord& Records(int32_t Index) const {
    return FRecords[Checked(Index, "Records")];
  }
  int64_t& Keys(int32_t Index) { return FKeys[Checked(Index, "Keys")]; }
  int64_t Keys(int32_t Index) const { return FKeys[Checked(Index, "Keys")]; }

  // The record at Index as a 16-byte structure of the user's, and back.
  template <class T>
  T RecordAs(int32_t Index) const {
    static_assert(sizeof(T) == sizeof(TSFSHeaderRecord) && std::is_trivially_copyable_v<T>);
    T out;
    std::memcpy(&out, &Records(Index), sizeof(T));
    return out;
  }
  template <class T>
  void SetRecord(int32_t Index, const T& Record) {
    static_assert(sizeof(T) == sizeof(TSFSHeaderRecord) && std::is_trivially_copyable_v<T>);
    std::memcpy(&Records(Index), &Record, sizeof(T));
  }

  void SetCount(int32_t N);
  void Clear() { SetCount(0); }
  // Appends; the caller keeps the keys ascending.
  void Add(const TSFSHeaderRecord& Record, int64_t Key);
  template <class T>
  void Add(const T& Record, int64_t Key) {
    static_assert(sizeof(T) == sizeof(TSFSHeaderRecord) && std::is_trivially_copyable_v<T>);
    TSFSHeaderRecord raw;
    std::memcpy(&raw, &Record, sizeof(T));
    Add(raw, Key);
  }
  // The index of the last element whose key is <= Key (signed); 0 when every
  // key is greater and when the array is empty.
  int32_t FindPosition(int64_t Key) const;

 private:
  size_t Checked(int32_t Index, const char* Operation) const;

  TArrayGrowth FGrowth;
  std::vector<TSFSHeaderRecord> FRecords;  // Capacity slots
  std::vector<int64_t> FKeys;              // parallel to FRecords
};

}  // namespace zk
