#include "container/engine/SFSHeadersArray.h"

#include "platform/rtl/Exception.h"

namespace zk {

TSFSHeadersArray::TSFSHeadersArray() : FGrowth(100, 10000) {}

size_t TSFSHeadersArray::Checked(int32_t Index, const char* Operation) const {
  if (Index < 0 || Index >= ItemCount()) {
    throw Exception(AnsiString("TSFSHeadersArray.") + Operation + " - invalid index = " +
                    IntToStr(Index) + ", itemCount = " + IntToStr(ItemCount()));
  }
  return static_cast<size_t>(Index);
}

void TSFSHeadersArray::SetCount(int32_t N) {
  FGrowth.SetCount(N, "TSFSHeadersArray", FRecords, FKeys);
}

void TSFSHeadersArray::Add(const TSFSHeaderRecord& Record, int64_t Key) {
  SetCount(ItemCount() + 1);
  const auto at = static_cast<size_t>(ItemCount() - 1);
  FRecords[at] = Record;
  FKeys[at] = Key;
}

int32_t TSFSHeadersArray::FindPosition(int64_t Key) const {
  // Halving search for the first key above Key; the element before it is the
  // last one at or below Key.
  int32_t lo = 0, hi = ItemCount();
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (FKeys[static_cast<size_t>(mid)] <= Key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo > 0 ? lo - 1 : 0;
}

}  // namespace zk
