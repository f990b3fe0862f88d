#include "container/engine/IntegerArray.h"

#include <algorithm>
#include <utility>

#include "platform/rtl/Exception.h"

namespace zk {

TIntegerArray::TIntegerArray(int32_t Count, int32_t Delta, int32_t MaxDelta)
    : FGrowth(Delta, MaxDelta) {
  SetCount(Count);
}

size_t TIntegerArray::Checked(int32_t Index, const char* Operation) const {
  if (Index < 0 || Index >= ItemCount()) {
    throw Exception(AnsiString("TIntegerArray.") + Operation + " - invalid index = " +
                    IntToStr(Index) + ", itemCount = " + IntToStr(ItemCount()));
  }
  return static_cast<size_t>(Index);
}

void TIntegerArray::SetCount(int32_t N) {
  FGrowth.SetCount(N, "TIntegerArray", FItems);
}

void TIntegerArray::Add(int32_t Value) {
  SetCount(ItemCount() + 1);
  FItems[static_cast<size_t>(ItemCount() - 1)] = Value;
}

void TIntegerArray::Insert(int32_t Index, int32_t Value) {
  if (Index < 0) Checked(Index, "Insert");
  const int32_t oldCount = ItemCount();
  if (Index >= oldCount) {
    Add(Value);
    return;
  }
  SetCount(oldCount + 1);
  auto at = FItems.begin() + Index;
  std::move_backward(at, FItems.begin() + oldCount, FItems.begin() + oldCount + 1);
  *at = Value;
}

void TIntegerArray::Delete(int32_t Index) {
  const size_t at = Checked(Index, "Delete");
  std::move(FItems.begin() + static_cast<ptrdiff_t>(at) + 1, FItems.begin() + ItemCount(),
            FItems.begin() + static_cast<ptrdiff_t>(at));
  SetCount(ItemCount() - 1);
}

void TIntegerArray::Move(int32_t FromIndex, int32_t ToIndex) {
  Checked(FromIndex, "Move");
  if (ToIndex < 0 || ToIndex > ItemCount()) Checked(ToIndex, "Move");
  if (FromIndex == ToIndex) return;
  auto items = FItems.begin();
  if (ToIndex == FromIndex + 1 || ToIndex == FromIndex - 1) {
    if (ToIndex < ItemCount()) std::swap(items[FromIndex], items[ToIndex]);
  } else if (ToIndex > FromIndex) {
    // Take the element out and put it just before the old ToIndex.
    std::rotate(items + FromIndex, items + FromIndex + 1, items + ToIndex);
  } else {
    // Put the element at ToIndex; ToIndex..FromIndex-1 move up.
    std::rotate(items + ToIndex, items + FromIndex, items + FromIndex + 1);
  }
}

void TIntegerArray::Sort(bool Ascending) {
  if (ItemCount() < 2) return;
  QuickSort(0, ItemCount() - 1, Ascending);
}

void TIntegerArray::QuickSort(int32_t Lo, int32_t Hi, bool Ascending) {
  // Hoare partition around the middle element. The smaller side recurses and
  // the larger one loops, so the depth stays logarithmic whatever the data.
  int32_t* items = FItems.data();
  while (Lo < Hi) {
    const int32_t pivot = items[(Lo + Hi) >> 1];
    // The sign of (x - pivot), without the overflow of a subtraction.
    auto compare = [pivot, Ascending](int32_t x) {
      const int sign = x < pivot ? -1 : (x > pivot ? 1 : 0);
      return Ascending ? sign : -sign;
    };
    int32_t i = Lo, j = Hi;
    do {
      while (compare(items[i]) < 0 && i < Hi) ++i;
      while (compare(items[j]) > 0 && j > 0) --j;
      if (i <= j) {
        std::swap(items[i], items[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (Lo < j && j == Hi) throw Exception("SFSEngine - Sorting error in TIntegerArray");
    // Lo..j and i..Hi are disjoint, so the order in which they are sorted
    // does not change the result.
    const bool leftPart = Lo < j, rightPart = i < Hi;
    if (leftPart && rightPart) {
      if (j - Lo < Hi - i) {
        QuickSort(Lo, j, Ascending);
        Lo = i;
      } else {
        QuickSort(i, Hi, Ascending);
        Hi = j;
      }
    } else if (leftPart) {
      Hi = j;
    } else if (rightPart) {
      Lo = i;
    } else {
      break;
    }
  }
}

}  // namespace zk
