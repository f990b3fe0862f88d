// TSortedPtrArray: integer keys mapped to pointers, kept in ascending key
// order and searched by halving. The engine keeps its open-file handles and
// its page-map caches in one. The array does not own the objects pointed to:
// whoever puts them in frees them. TSortedPtrArrayBase holds the keys and
// untyped pointers; TSortedPtrArray<T> is the typed face the users see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/engine/ArrayGrowth.h"

namespace zk {

class TSortedPtrArrayBase {
 public:
  int32_t ItemCount() const { return FGrowth.ItemCount(); }
  int32_t Capacity() const { return FGrowth.Capacity(); }
  int32_t GrowBy() const { return FGrowth.GrowBy(); }
  int32_t ShrinkBy() const { return FGrowth.ShrinkBy(); }
  int32_t MaxDelta() const { return FGrowth.MaxDelta(); }
  int32_t LastKey() const { return FLastKey; }

  // The key at Index (0..ItemCount-1; other indices raise).
  int32_t Keys(int32_t Index) const { return FKeys[Checked(Index, "Keys")]; }

  void SetCount(int32_t N);
  void Clear() { SetCount(0); }
  // Position of Key, or where it would be inserted to keep the keys
  // ascending; 0 for an empty array.
  int32_t FindPosition(int32_t Key) const;
  // The index holding Key, or -1.
  int32_t IndexOf(int32_t Key) const;
  // Removes the element at Index from both arrays.
  void DeleteAt(int32_t Index);
  // Removes the element with Key; raises when the array is empty or Key is
  // not in it.
  void Delete(int32_t Key);
  // The next key of a simple counter: LastKey + 1, the first one being 0.
  int32_t NewKey() { return ++FLastKey; }

 protected:
  TSortedPtrArrayBase(int32_t Count, int32_t Delta, int32_t MaxDelta);
  ~TSortedPtrArrayBase() = default;
  TSortedPtrArrayBase(const TSortedPtrArrayBase&) = default;
  TSortedPtrArrayBase& operator=(const TSortedPtrArrayBase&) = default;

  void* ItemAt(int32_t Index) const { return FItems[Checked(Index, "Items")]; }
  void SetItemAt(int32_t Index, void* Item) { FItems[Checked(Index, "Items")] = Item; }
  void* FindItem(int32_t Key) const;
  // Inserts at Index in both arrays; an Index at or beyond the count appends.
  void InsertItemAt(int32_t Index, int32_t Key, void* Item);
  // Inserts in key order.
  void AddItem(int32_t Key, void* Item);

 private:
  size_t Checked(int32_t Index, const char* Operation) const;

  TArrayGrowth FGrowth;
  std::vector<int32_t> FKeys;  // Capacity slots, ascending in 0..ItemCount-1
  std::vector<void*> FItems;   // parallel to FKeys, not owned
  int32_t FLastKey = -1;
};

template <class T = void>
class TSortedPtrArray : public TSortedPtrArrayBase {
 public:
  // The engine uses Delta 10 with MaxDelta 25 (page-map caches) or 1000
  // (file handles).
  explicit TSortedPtrArray(int32_t Count = 0, int32_t Delta = 10, int32_t MaxDelta = 1000)
      : TSortedPtrArrayBase(Count, Delta, MaxDelta) {}

  // The pointer at Index (0..ItemCount-1; other indices raise).
  T* Items(int32_t Index) const { return static_cast<T*>(ItemAt(Index)); }
  void SetItem(int32_t Index, T* Item) { SetItemAt(Index, Item); }
  // The pointer stored under Key, or nullptr.
  T* Find(int32_t Key) const { return static_cast<T*>(FindItem(Key)); }
  void InsertAt(int32_t Index, int32_t Key, T* Item) { InsertItemAt(Index, Key, Item); }
  void Add(int32_t Key, T* Item) { AddItem(Key, Item); }
};

}  // namespace zk
