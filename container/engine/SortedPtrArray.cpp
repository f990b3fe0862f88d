#include "container/engine/SortedPtrArray.h"

#include <algorithm>

#include "platform/rtl/Exception.h"

namespace zk {

TSortedPtrArrayBase::TSortedPtrArrayBase(int32_t Count, int32_t Delta, int32_t MaxDelta)
    : FGrowth(Delta, MaxDelta) {
  SetCount(Count);
}

size_t TSortedPtrArrayBase::Checked(int32_t Index, const char* Operation) const {
  if (Index < 0 || Index >= ItemCount()) {
    throw Exception(AnsiString("TSortedPtrArray.") + Operation + " - invalid index = " +
                    IntToStr(Index) + ", itemCount = " + IntToStr(ItemCount()));
  }
  return static_cast<size_t>(Index);
}

void TSortedPtrArrayBase::SetCount(int32_t N) {
  FGrowth.SetCount(N, "TSortedPtrArray", FKeys, FItems);
}

int32_t TSortedPtrArrayBase::FindPosition(int32_t Key) const {
  // Halving search: the first position whose key is not below Key.
  int32_t lo = 0, hi = ItemCount();
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (FKeys[static_cast<size_t>(mid)] < Key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int32_t TSortedPtrArrayBase::IndexOf(int32_t Key) const {
  const int32_t at = FindPosition(Key);
  return (at < ItemCount() && FKeys[static_cast<size_t>(at)] == Key) ? at : -1;
}

void* TSortedPtrArrayBase::FindItem(int32_t Key) const {
  const int32_t at = IndexOf(Key);
  return at < 0 ? nullptr : FItems[static_cast<size_t>(at)];
}

void TSortedPtrArrayBase::InsertItemAt(int32_t Index, int32_t Key, void* Item) {
  if (Index < 0) Checked(Index, "InsertAt");
  const int32_t oldCount = ItemCount();
  SetCount(oldCount + 1);
  const auto at = static_cast<ptrdiff_t>(std::min(Index, oldCount));
  std::move_backward(FKeys.begin() + at, FKeys.begin() + oldCount, FKeys.begin() + oldCount + 1);
  std::move_backward(FItems.begin() + at, FItems.begin() + oldCount, FItems.begin() + oldCount + 1);
  FKeys[static_cast<size_t>(at)] = Key;
  FItems[static_cast<size_t>(at)] = Item;
}

void TSortedPtrArrayBase::AddItem(int32_t Key, void* Item) {
  int32_t at;
  if (ItemCount() == 0) {
    at = 0;
  } else if (ItemCount() == 1) {
    at = Key >= FKeys[0] ? 1 : 0;
  } else {
    at = FindPosition(Key);
  }
  InsertItemAt(at, Key, Item);
}

void TSortedPtrArrayBase::DeleteAt(int32_t Index) {
  const auto at = static_cast<ptrdiff_t>(Checked(Index, "DeleteAt"));
  std::move(FKeys.begin() + at + 1, FKeys.begin() + ItemCount(), FKeys.begin() + at);
  std::move(FItems.begin() + at + 1, FItems.begin() + ItemCount(), FItems.begin() + at);
  SetCount(ItemCount() - 1);
}

void TSortedPtrArrayBase::Delete(int32_t Key) {
  if (ItemCount() == 0) throw Exception("TSortedPtrArray.Delete - no elements in array!");
  // A single element is removed only when its key matches too: removing it
  // regardless would drop another owner's entry.
  const int32_t at = IndexOf(Key);
  if (at < 0) {
    throw Exception("TSortedPtrArray.Delete - element not found, key = " + IntToStr(Key) +
                    ", itemCount = " + IntToStr(ItemCount()) + "!");
  }
  DeleteAt(at);
}

}  // namespace zk
